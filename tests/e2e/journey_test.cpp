// One run of the host through what every user does, on both targets: the 32-bit host is
// the one the program ships for.
#include <gtest/gtest.h>

#include "host_process.h"
#include "test_daemons.h"

namespace kestrune::test {
namespace {

// Starts the host and waits until every daemon's EntryPoint has run.
bool StartWithDaemonsRunning(HostProcess& host, std::initializer_list<std::wstring> paths) {
    if (!host.Start() || !host.WaitForMainWindow(180s)) return false;
    for (const std::wstring& path : paths) {
        if (!WaitForEntry(path, 180s)) return false;
    }
    return host.IsRunning();
}

TEST(JourneyTest, DiscoverShowRouteStopAndClose) {
    TempFolder folder;
    HostProcess host(folder);
    std::wstring cooperative = host.AddDaemon(L"cooperative", L"a_cooperative.dll");
    std::wstring routed = host.AddDaemon(L"routed_ids", L"menu\\routed.dll");
    std::wstring foreign = host.WildMagic() + L"foreign.dll";
    ASSERT_TRUE(CopyFileW(OtherArchitectureTestDaemon(L"cooperative").c_str(), foreign.c_str(), FALSE))
        << "the other target's test daemons must be built";

    ASSERT_TRUE(StartWithDaemonsRunning(host, {cooperative, routed}));
    HWND window = host.MainWindow();
    ASSERT_NE(window, nullptr);
    EXPECT_FALSE(IsWindowVisible(window));
    EXPECT_FALSE(HasEvent(foreign, "attach")) << "a DLL of the other architecture is refused quietly";

    host.PressTrayIcon();
    ASSERT_TRUE(WaitUntil([&] { return host.IsWindowShown(); }, 60s));
    EXPECT_EQ(host.RowCount(), 2) << "a row for the daemon in wild_magic and one for the daemon a folder down";
    EXPECT_EQ(host.OtherVisibleWindows(), 0);

    // The tray menu: the routed daemon's own submenu first, its second item posted to its window.
    ASSERT_NE(host.OpenTrayMenu(), nullptr);
    ChooseMenuItem(0, 1);
    EXPECT_TRUE(WaitForEvent(routed, "command 2", 60s))
        << "wParam 2 on the daemon's window, through a stdcall EntryMenu";
    EXPECT_TRUE(HasEvent(routed, "menu 1")) << "asked for its tray menu";
    ASSERT_TRUE(host.WaitForNoPopupMenu(60s));

    // The close stops both through their state words.
    DWORD exitCode = 1;
    ASSERT_TRUE(host.CloseAndWait(180s, &exitCode));
    EXPECT_EQ(exitCode, 0u);
    EXPECT_TRUE(HasEvent(cooperative, "stop-seen"));
    EXPECT_TRUE(HasEvent(routed, "return")) << "asked to stop at the close";
}

TEST(JourneyTest, DaemonWithoutStateWordIsEndedByForceAtTheClose) {
    TempFolder folder;
    HostProcess host(folder);
    std::wstring cooperative = host.AddDaemon(L"cooperative", L"a_cooperative.dll");
    std::wstring plain = host.AddDaemon(L"only_entry", L"z_plain.dll");
    ASSERT_TRUE(StartWithDaemonsRunning(host, {cooperative, plain}));
    host.PressTrayIcon();
    ASSERT_TRUE(WaitUntil([&] { return host.IsWindowShown(); }, 60s));
    EXPECT_EQ(host.RowCount(), 2);

    DWORD exitCode = 1;
    ASSERT_TRUE(host.CloseAndWait(180s, &exitCode));
    EXPECT_EQ(exitCode, 0u);
    EXPECT_TRUE(HasEvent(cooperative, "return"));
    EXPECT_FALSE(HasEvent(plain, "return")) << "no state word: ended by force";
    EXPECT_FALSE(HasEvent(plain, "detach")) << "and its teardown never ran";
    EXPECT_TRUE(HasEvent(cooperative, "detach")) << "the one that returned had its library freed";
}

}  // namespace
}  // namespace kestrune::test
