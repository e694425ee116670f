// The sample daemon that daemon authors copy, driven through the host's menus.
#include "core/owner.h"
#include "menu_fixture.h"
#include "ui/context_menu.h"
#include "ui/daemon_menus.h"

namespace kestrune::test {
namespace {

std::string FileText(const std::wstring& path) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return {};
    std::string text(4096, '\0');
    DWORD read = 0;
    ReadFile(file, text.data(), static_cast<DWORD>(text.size()), &read, nullptr);
    CloseHandle(file);
    text.resize(read);
    return text;
}

class SampleDaemonTest : public WindowFixture {
protected:
    // The sample's own menu as the context menu shows it, once the daemon offers one.
    std::vector<std::wstring> OwnMenu() {
        MenuOwner menu(BuildDaemonContextMenu());
        HMENU own = SubmenuAt(menu.get(), 2);
        return own ? DescribeMenu(own) : std::vector<std::wstring>{};
    }
};

TEST_F(SampleDaemonTest, ItsMenuWritesNotesTogglesTheHeartbeatAndClearsTheNotes) {
    std::wstring path = folder.path() + L"sample_daemon.dll";
    ASSERT_TRUE(CopyFileW((ProgramFolder() + L"..\\daemons\\sample_daemon.dll").c_str(), path.c_str(), FALSE))
        << "the sample daemon is built into build\\<preset>\\daemons";
    Daemon* daemon = Add(path);
    ASSERT_NE(daemon, nullptr);
    EXPECT_NE(daemon->stateWordAddress, nullptr) << "its exports lie above the ordinal-1 bound";
    EXPECT_NE(daemon->entryMenuAddress, nullptr);
    AddDaemonRow(daemon);
    StartDaemonThread(daemon, RequestNone);
    SelectDaemon(daemon);
    const std::wstring notes = folder.path() + L"sample_daemon.txt";

    // EntryMenu offers nothing until the daemon's window exists.
    ASSERT_TRUE(WaitUntil([&] { return OwnMenu().size() == 5; }));
    ExpectItems(OwnMenu(),
                {L"Write the time to sample_daemon.txt 16001", L"Heartbeat every minute 16002", L"----",
                 L"Clear the notes 16003", L"Notes written: 0 16004 grey"},
                __LINE__);
    RouteMenuCommand(16001);
    ASSERT_TRUE(WaitUntil([&] { return FileText(notes).ends_with(" note\r\n"); }));
    EXPECT_EQ(FileText(notes).size(), std::string("2026-01-01 00:00:00 note\r\n").size());

    OwnMenu();
    RouteMenuCommand(16002);
    ASSERT_TRUE(WaitUntil([&] { return OwnMenu()[1] == L"Heartbeat every minute 16002 check"; }));
    EXPECT_EQ(OwnMenu()[4], L"Notes written: 1 16004 grey");
    OwnMenu();
    RouteMenuCommand(16003);
    EXPECT_TRUE(WaitUntil([&] { return GetFileAttributesW(notes.c_str()) == INVALID_FILE_ATTRIBUTES; }));
    EXPECT_TRUE(WaitUntil([&] { return OwnMenu()[4] == L"Notes written: 0 16004 grey"; }));

    ASSERT_TRUE(StopAndUnload(daemon)) << "it returns once asked";
    EXPECT_TRUE(WaitForLibraryFreed(path));
}

}  // namespace
}  // namespace kestrune::test
