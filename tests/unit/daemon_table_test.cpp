#include "host_fixture.h"

namespace kestrune::test {
namespace {

using DaemonTableTest = HostFixture;

TEST_F(DaemonTableTest, FreshTableHasOnlyAnEmptySlotZero) {
    EXPECT_EQ(LastDaemonIndex(), 0);
    EXPECT_EQ(app.DaemonTable[0], nullptr);
    EXPECT_EQ(FindDaemonByPath(L"C:\\app\\wild_magic\\a.dll"), nullptr);
    EXPECT_EQ(FindDaemonByPath(L""), nullptr);
}

TEST_F(DaemonTableTest, AddDaemonAppendsInCallOrder) {
    std::wstring first = Place(L"cooperative", L"one.dll");
    std::wstring second = Place(L"only_entry", L"two.dll");
    std::wstring third = Place(L"ignores_word", L"three.dll");
    Daemon* a = Add(first);
    Daemon* b = Add(second);
    Daemon* c = Add(third);
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    ASSERT_NE(c, nullptr);
    ASSERT_EQ(LastDaemonIndex(), 3);
    EXPECT_EQ(app.DaemonTable[0], nullptr);
    EXPECT_EQ(app.DaemonTable[1].get(), a);
    EXPECT_EQ(app.DaemonTable[2].get(), b);
    EXPECT_EQ(app.DaemonTable[3].get(), c);
    EXPECT_EQ(a->path, first);
    EXPECT_EQ(a->fileName, L"one.dll");
    EXPECT_EQ(c->fileName, L"three.dll");
}

TEST_F(DaemonTableTest, RefusalsLeaveTheTableUnchanged) {
    ASSERT_NE(Add(Place(L"cooperative")), nullptr);
    std::wstring folderNamedDll = folder.Make(L"x.dll\\");
    struct Case {
        const wchar_t* what;
        std::wstring path;
    } cases[] = {
        {L"a folder", folderNamedDll},
        {L"a missing file", folder.path() + L"missing.dll"},
        {L"a library without EntryPoint", Place(L"no_entry_point")},
        {L"an empty path", L""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Add(c.path), nullptr) << c.what;
        EXPECT_EQ(LastDaemonIndex(), 1) << c.what;
    }
}

TEST_F(DaemonTableTest, QuittingRefusesEvenAValidLibrary) {
    std::wstring path = Place(L"cooperative");
    app.quitting.store(1);
    EXPECT_EQ(Add(path), nullptr);
    EXPECT_EQ(LastDaemonIndex(), 0);
    EXPECT_FALSE(HasEvent(path, "attach")) << "nothing may be loaded while quitting";
}

TEST_F(DaemonTableTest, FindDaemonByPathFoldsCaseButNothingElse) {
    std::wstring path = Place(L"cooperative", L"Wild\\Clock.dll");
    Daemon* daemon = Add(path);
    ASSERT_NE(daemon, nullptr);

    std::wstring upper = path;
    CharUpperBuffW(upper.data(), static_cast<DWORD>(upper.size()));
    EXPECT_EQ(FindDaemonByPath(upper), daemon);
    EXPECT_EQ(FindDaemonByPath(path), daemon);

    std::wstring slashed = path;
    slashed[slashed.find_last_of(L'\\')] = L'/';
    EXPECT_EQ(FindDaemonByPath(slashed), nullptr) << "separators are not folded";
    EXPECT_EQ(FindDaemonByPath(L" " + path), nullptr) << "nothing is trimmed";
}

TEST_F(DaemonTableTest, CaseFoldingFollowsTheSystemRulesBeyondAscii) {
    Daemon* daemon = Add(Place(L"cooperative", L"\u00c9T\u00c9\\\u0414\u0415\u041c\u041e\u041d.dll"));
    ASSERT_NE(daemon, nullptr);
    EXPECT_EQ(FindDaemonByPath(folder.path() + L"\u00e9t\u00e9\\\u0434\u0435\u043c\u043e\u043d.DLL"), daemon);
}

}  // namespace
}  // namespace kestrune::test
