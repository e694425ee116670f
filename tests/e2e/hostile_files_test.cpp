// Damaged, slow, locked, oddly named and plentiful files in wild_magic: the good daemons still
// load and run, and the host shows nothing about the rest.
#include <gtest/gtest.h>

#include "host_process.h"
#include "pe_edit.h"
#include "test_daemons.h"

namespace kestrune::test {
namespace {

// Moves the build's folder of 20,000 files to where a test wants it, and back afterwards.
class ClutterLoan {
public:
    explicit ClutterLoan(std::wstring destination) : destination_(std::move(destination)) {
        source_ = ProgramFolder() + L"..\\fixtures\\clutter";
        lent_ = MoveFileW(source_.c_str(), destination_.c_str()) != FALSE;
    }
    ~ClutterLoan() {
        if (lent_) MoveFileW(destination_.c_str(), source_.c_str());
    }
    bool lent() const { return lent_; }

private:
    std::wstring source_, destination_;
    bool lent_ = false;
};

// Starts the host and checks that every good daemon runs with a row of its own, that no other file
// has one but mayLoad (which may load or not, depending on the system), and that nothing is shown.
void ExpectOnlyTheGoodListed(HostProcess& host, const std::vector<std::wstring>& good,
                             const std::wstring& mayLoad = {}) {
    ASSERT_TRUE(host.Start());
    ASSERT_NE(host.WaitForMainWindow(), nullptr) << host.Fate();
    for (const std::wstring& path : good) {
        EXPECT_TRUE(WaitForEntry(path)) << testing::PrintToString(path) << " runs";
    }
    ASSERT_TRUE(host.Sync());
    int mayLoadRows = !mayLoad.empty() && host.RowEndingWith(mayLoad.substr(mayLoad.find_last_of(L'\\'))) >= 0 ? 1 : 0;
    EXPECT_EQ(host.RowCount(), static_cast<int>(good.size()) + mayLoadRows) << "only the good daemons have rows";

    for (const std::wstring& path : good) {
        std::wstring name = path.substr(path.find_last_of(L'\\'));
        EXPECT_GE(host.RowEndingWith(name), 0) << testing::PrintToString(name);
    }
    EXPECT_EQ(host.OtherVisibleWindows(), 0) << "nothing is shown";
}

void ExpectCleanClose(HostProcess& host, const std::vector<std::wstring>& good) {
    DWORD exitCode = 1;
    ASSERT_TRUE(host.CloseAndWait(60s, &exitCode));
    EXPECT_EQ(exitCode, 0u);
    for (const std::wstring& path : good) EXPECT_TRUE(HasEvent(path, "return")) << "stopped cleanly";
}

TEST(HostileFilesTest, DamagedLockedAndSlowFilesStopNoOtherDaemon) {
    TempFolder folder;
    HostProcess host(folder);
    std::vector<std::wstring> good = {
        host.AddDaemon(L"cooperative", L"a_first.dll"),
        host.AddDaemon(L"slow_dllmain", L"m_slow.dll"),
        host.AddDaemon(L"cooperative", L"tools\\z_last.dll"),
    };
    std::string image = ReadFileBytes(TestDaemonPath(L"cooperative"));
    ASSERT_FALSE(image.empty());
    const std::wstring wild = host.WildMagic();
    ASSERT_TRUE(WriteFileBytes(wild + L"truncated_head.dll", image.substr(0, 512)));
    ASSERT_TRUE(WriteFileBytes(wild + L"truncated_half.dll", image.substr(0, image.size() / 2)));
    std::string corrupt = image;
    for (size_t i = 0x200; i < corrupt.size(); i += 97) corrupt[i] = static_cast<char>(corrupt[i] ^ 0x5A);
    ASSERT_TRUE(WriteFileBytes(wild + L"corrupt_body.dll", corrupt));
    std::string noSignature = image;
    noSignature[0x80] = 'X';
    noSignature[0x81] = 'Y';
    ASSERT_TRUE(WriteFileBytes(wild + L"no_signature.dll", noSignature));
    std::string outside = image;
    ASSERT_TRUE(PatchExportRva(outside, "EntryPoint", SizeOfImage(image) + 0x10000));
    ASSERT_TRUE(PatchExportRva(outside, "EntryState", SizeOfImage(image) + 0x20000));
    ASSERT_TRUE(WriteFileBytes(wild + L"exports_outside.dll", outside));

    // Unreadable: the test holds it open without sharing (as root, Wine ignores file modes).
    std::wstring locked = host.AddDaemon(L"cooperative", L"locked.dll");
    FileOwner lock(CreateFileW(locked.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(lock);

    ASSERT_NO_FATAL_FAILURE(ExpectOnlyTheGoodListed(host, good));
    lock.reset();
    ASSERT_NO_FATAL_FAILURE(ExpectCleanClose(host, good));
}

TEST(HostileFilesTest, OddNamesLongPathsAndPlentyOfFilesStopNoOtherDaemon) {
    TempFolder folder;
    HostProcess host(folder);
    std::vector<std::wstring> good = {
        host.AddDaemon(L"cooperative", L"a_first.dll"),
        host.AddDaemon(L"cooperative", L"\U0001F985 kestrel \u00e9\u0436\u732b.dll"),
        host.AddDaemon(L"cooperative", L"tools\\z_last.dll"),
    };
    const std::wstring wild = host.WildMagic();

    // Paths about the length of MAX_PATH, one just inside and one beyond it.
    std::wstring deep = wild + L"deep\\";
    CreateFolders(deep);
    size_t room = MAX_PATH - 1 - deep.size() - 4;
    std::wstring nearLimit = host.AddDaemon(L"cooperative", L"deep\\" + std::wstring(room - 1, L'n') + L".dll");
    std::wstring beyondLimit = deep + std::wstring(room + 8, L'b') + L".dll";
    CopyFileW(TestDaemonPath(L"cooperative").c_str(), (L"\\\\?\\" + beyondLimit).c_str(), FALSE);

    // 20,000 files that are no daemons, made by the build and lent to this test for its run.
    ClutterLoan clutter(wild + L"clutter");
    ASSERT_TRUE(clutter.lent()) << "the build makes fixtures\\clutter";
    good.push_back(nearLimit);

    // A path beyond MAX_PATH may load or not, depending on the system; either way it harms nothing.
    ASSERT_NO_FATAL_FAILURE(ExpectOnlyTheGoodListed(host, good, beyondLimit));
    ASSERT_NO_FATAL_FAILURE(ExpectCleanClose(host, good));
}

}  // namespace
}  // namespace kestrune::test
