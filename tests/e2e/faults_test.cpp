// The real host when daemons and the shell misbehave: a daemon that ends in the middle of
// the list refresh, one that destroys its window while its menu is open, the taskbar
// re-created while the window sits minimised or missing at start, a daemon's window on the
// host's thread, and a menu past the 16 bits of a command.
#include <windows.h>

#include <shellapi.h>

#include <cwchar>
#include <iterator>

#include <gtest/gtest.h>

#include "host_process.h"
#include "row_status.h"
#include "shown_host.h"
#include "stand_in_tray.h"
#include "test_daemons.h"
#include "top_level_windows.h"

namespace kestrune::test {
namespace {

TEST(FaultTest, DaemonEndingInTheMiddleOfTheRefreshIsReapedWhileTheListGoesOn) {
    ShownHost shown{L"ends_in_refresh", L"busy"};
    ASSERT_TRUE(shown.Start());
    HostProcess& host = shown.host;
    const std::wstring& ending = shown.paths[0];
    const int row = host.RowEndingWith(L"\\ends_in_refresh.dll"), busy = host.RowEndingWith(L"\\busy.dll");

    // Shown, the host refreshes the list every second; the daemon ends within that refresh.
    ASSERT_TRUE(WaitForEvent(ending, "thread-ended 1")) << "the daemon's thread ended while the host wrote its row";
    ASSERT_TRUE(WaitUntil([&] { return host.Cell(row, 1) == WhiteStar; })) << "reaped at the next visit";
    EXPECT_EQ(host.StatusColour(row), Grey);
    EXPECT_EQ(host.Cell(row, 2), L"");
    EXPECT_EQ(host.Cell(row, 3), L"");
    EXPECT_TRUE(WaitForEvent(ending, "detach"));
    for (int refresh = 0; refresh < 2; ++refresh) {
        std::wstring cpu = host.Cell(busy, 2);
        ASSERT_TRUE(WaitUntil([&] { return host.Cell(busy, 2) != cpu; })) << "the refresh goes on, " << refresh;
    }
    EXPECT_EQ(host.OtherVisibleWindows(), 0) << "no fault was reported";

    // Started again from its row, it ends in a refresh once more.
    ASSERT_NE(host.OpenContextMenu(row), nullptr);
    ChooseMenuItem(ItemStart);
    ASSERT_TRUE(WaitUntil([&] { return CountEvents(ending, "thread-ended 1") == 2; }));
    ASSERT_TRUE(WaitUntil([&] { return CountEvents(ending, "detach") == 2; }));
    EXPECT_TRUE(WaitUntil([&] { return host.Cell(row, 1) == WhiteStar; }));
    EXPECT_EQ(host.RowCount(), 2);
    EXPECT_TRUE(shown.Close());
}

int OpenMenus(DWORD process) {
    return static_cast<int>(VisibleWindowsOf(process, L"#32768").size());
}

// Opens the tray menu and in it the first daemon's submenu.
bool OpenFirstDaemonSubmenu(HostProcess& host) {
    SetCursorPos(400, 300);
    if (!host.OpenTrayMenu()) return false;
    PostMenuKeys({VK_DOWN, VK_RIGHT});
    return WaitUntil([&] { return OpenMenus(host.ProcessId()) == 2; });
}

TEST(FaultTest, DaemonWindowDestroyedUnderItsOpenMenuReceivesNothingAndNothingBreaks) {
    ShownHost shown{L"closes_own_window", L"cooperative"};
    ASSERT_TRUE(shown.Start());
    HostProcess& host = shown.host;
    const std::wstring& path = shown.paths[0];

    // The daemon's thread destroys the window its menu names, and makes another.
    ASSERT_TRUE(OpenFirstDaemonSubmenu(host));
    ASSERT_TRUE(WriteFileBytes(path + L".close", ""));
    ASSERT_TRUE(WaitForEvent(path, "window-replaced 1"));
    PostMenuKeys({VK_DOWN, VK_RETURN});  // "Two"
    ASSERT_TRUE(host.WaitForNoPopupMenu());
    // The menu's choice comes as a posted WM_COMMAND, routed once the host has handled it.
    ASSERT_TRUE(host.SyncPosted());
    // A negative check, so a measured stretch: the daemon empties its queue every 20 ms, so a
    // command posted to its new window would have arrived within a few of its rounds.
    Sleep(100);
    EXPECT_EQ(CountEvents(path, "command "), 0) << "posted to a window that no longer exists, or to its successor";
    EXPECT_TRUE(host.IsRunning());
    EXPECT_EQ(host.OtherVisibleWindows(), 0);

    // The next menu names the new window, and its commands arrive again.
    ASSERT_TRUE(OpenFirstDaemonSubmenu(host));
    PostMenuKeys({VK_DOWN, VK_RETURN});
    ASSERT_TRUE(WaitForEvent(path, "command 2"));

    // The daemon destroys its window and ends while its menu is open.
    ASSERT_TRUE(OpenFirstDaemonSubmenu(host));
    ASSERT_TRUE(WriteFileBytes(path + L".quit", ""));
    ASSERT_TRUE(WaitForEvent(path, "return"));
    PostMenuKeys({VK_DOWN, VK_DOWN, VK_RETURN});  // "Three"
    ASSERT_TRUE(host.WaitForNoPopupMenu());
    int row = host.RowEndingWith(L"\\closes_own_window.dll");
    ASSERT_TRUE(WaitUntil([&] { return host.Cell(row, 1) == WhiteStar; })) << "reaped once the menu closed";
    EXPECT_TRUE(WaitForEvent(path, "detach"));
    EXPECT_EQ(CountEvents(path, "command "), 1);
    EXPECT_EQ(host.OtherVisibleWindows(), 0);
    EXPECT_TRUE(shown.Close());
}

// The tooltip the host set in a call: "Kestrune: " and a date dd/mm/yyyy; empty when none.
std::wstring TooltipIn(const std::vector<StandInTray::Call>& calls, HWND from) {
    for (const auto& call : calls) {
        size_t at = call.text.find(L"Kestrune: ");
        if (call.message != NIM_MODIFY || call.from != from || at == std::wstring::npos) continue;
        std::wstring tip = call.text.substr(at, 20);
        if (tip.size() == 20 && tip[12] == L'/' && tip[15] == L'/') return tip;
    }
    return {};
}

SYSTEMTIME LocalTimeNow() {
    SYSTEMTIME now{};
    GetLocalTime(&now);
    return now;
}

// The tooltip the host gives on the given local day.
std::wstring TodaysTooltip(const SYSTEMTIME& day) {
    wchar_t text[32];
    swprintf(text, 32, L"Kestrune: %02u/%02u/%04u", day.wDay, day.wMonth, day.wYear);
    return text;
}

TEST(TaskbarTest, IconComesBackWithItsTooltipWhileTheWindowSitsMinimisedAndAPressLeavesItSo) {
    TempFolder folder;
    HostProcess host(folder);
    ASSERT_TRUE(host.Start());
    HWND window = host.WaitForMainWindow();
    ASSERT_NE(window, nullptr);
    ASSERT_TRUE(host.Sync());
    host.PressTrayIcon();
    ASSERT_TRUE(WaitUntil([&] { return host.IsWindowShown(); }));
    const UINT taskbarCreated = RegisterWindowMessageW(L"TaskbarCreated");
    DWORD_PTR answer = 0;

    {
        StandInTray tray;
        ASSERT_EQ(FindWindowW(L"Shell_TrayWnd", nullptr), tray.Window()) << "the host's icon calls must reach it";

        // The shell restarts but is not ready yet: the icon cannot be put back.
        ASSERT_TRUE(SendMessageTimeoutW(window, taskbarCreated, 0, 0, SMTO_NORMAL, 20000, &answer));
        EXPECT_TRUE(HasCall(tray.Calls(), NIM_ADD, window)) << "the host tried to put its icon back";
        // Without an icon, minimising leaves the window on the taskbar.
        ShowWindow(window, SW_MINIMIZE);
        ASSERT_TRUE(host.Sync());
        ASSERT_TRUE(IsIconic(window) && IsWindowVisible(window)) << "minimised, not hidden to a tray it has not";

        // The shell is ready: the next TaskbarCreated puts the icon back with its tooltip.
        tray.Forget();
        tray.Accept(true);
        SYSTEMTIME before = LocalTimeNow();
        ASSERT_TRUE(SendMessageTimeoutW(window, taskbarCreated, 0, 0, SMTO_NORMAL, 20000, &answer));
        std::vector<StandInTray::Call> calls = tray.Calls();
        EXPECT_TRUE(HasCall(calls, NIM_ADD, window)) << "the icon is back";
        std::wstring tooltip = TooltipIn(calls, window);
        EXPECT_TRUE(tooltip == TodaysTooltip(before) || tooltip == TodaysTooltip(LocalTimeNow()))
            << "with its tooltip of today's date: " << testing::PrintToString(tooltip);
        EXPECT_TRUE(IsIconic(window)) << "re-creating the icon leaves the window as it was";

        // A press on the icon shows the window as it sits: minimised.
        host.PressTrayIcon();
        ASSERT_TRUE(host.SyncPosted());
        EXPECT_TRUE(IsIconic(window)) << "shown minimised, as it sat";
        EXPECT_TRUE(IsWindowVisible(window));
        SaveScreenshot(L"taskbar-recreated-minimised");

        // Restored from the taskbar and minimised again, it now goes to the tray.
        ShowWindow(window, SW_RESTORE);
        ASSERT_TRUE(WaitUntil([&] { return host.IsWindowShown(); }));
        ShowWindow(window, SW_MINIMIZE);
        EXPECT_TRUE(WaitUntil([&] { return !IsWindowVisible(window); })) << "hidden to the tray";
        EXPECT_FALSE(IsIconic(window));

        tray.Forget();
        DWORD exitCode = 1;
        ASSERT_TRUE(host.CloseAndWait(20s, &exitCode));
        EXPECT_EQ(exitCode, 0u);
        EXPECT_TRUE(HasCall(tray.Calls(), NIM_DELETE, window)) << "the icon leaves the tray with the host";
    }
}

// Started at logon before the taskbar was there: the shell refuses the icon at first, and
// the host keeps trying until it takes it, so the window can always be reached.
TEST(TaskbarTest, AnIconTheShellRefusedAtStartComesOnceTheShellTakesIt) {
    StandInTray tray;
    TempFolder folder;
    HostProcess host(folder);
    ASSERT_TRUE(host.Start());
    HWND window = host.WaitForMainWindow();
    ASSERT_NE(window, nullptr);
    ASSERT_TRUE(WaitUntil([&] { return HasCall(tray.Calls(), NIM_ADD, window); })) << "the host asked for its icon";
    ASSERT_TRUE(host.Sync());
    tray.Forget();
    tray.Accept(true);
    ASSERT_TRUE(WaitUntil([&] { return HasCall(tray.Calls(), NIM_ADD, window); }, 30s))
        << "the host tried again without a TaskbarCreated";
    // The tooltip comes in a second call of the shell, just after the add.
    WaitUntil([&] { return !TooltipIn(tray.Calls(), window).empty(); });
    EXPECT_FALSE(TooltipIn(tray.Calls(), window).empty()) << "with its tooltip";
    host.PressTrayIcon();
    ASSERT_TRUE(WaitUntil([&] { return host.IsWindowShown(); })) << "a press on the icon shows the window";
    ShowWindow(window, SW_MINIMIZE);
    EXPECT_TRUE(WaitUntil([&] { return !IsWindowVisible(window); })) << "now it goes to the tray";
    DWORD exitCode = 1;
    ASSERT_TRUE(host.CloseAndWait(20s, &exitCode));
    EXPECT_EQ(exitCode, 0u);
}

// A daemon that makes its menu's window on the host's thread (in EntryMenu) and never destroys
// it: once the daemon is unloaded, nothing the host does, nor a broadcast, may reach its code.
TEST(FaultTest, ADaemonsWindowOnTheHostsThreadGoesWithItsLibrary) {
    ShownHost shown{L"menu_window_on_host_thread"};
    ASSERT_TRUE(shown.Start());
    HostProcess& host = shown.host;
    const std::wstring& path = shown.paths[0];
    const int row = shown.Row(L"\\menu_window_on_host_thread.dll");
    ASSERT_GE(row, 0);
    // The context menu asks the daemon for its menu, which makes the window; then "Stop",
    // below the daemon's own submenu.
    ASSERT_NE(host.OpenContextMenu(row), nullptr);
    ChooseMenuItem(ItemStop + 1);
    ASSERT_TRUE(host.WaitForNoPopupMenu());
    ASSERT_TRUE(WaitForEvent(path, "menu 0"));
    ASSERT_TRUE(WaitForEvent(path, "detach")) << "stopped and unloaded";

    // A message to that window, if it is still there, and one to every top-level window.
    DWORD_PTR answer = 0;
    HWND stray = FindWindowW(L"KestruneTestStrayWindow", nullptr);
    EXPECT_EQ(stray, nullptr) << "the window went with the library";
    if (stray) SendMessageTimeoutW(stray, WM_USER, 0, 0, SMTO_ABORTIFHUNG, 5000, &answer);
    SendMessageTimeoutW(HWND_BROADCAST, RegisterWindowMessageW(L"KestruneTestBroadcast"), 0, 0, SMTO_ABORTIFHUNG, 5000,
                        &answer);
    ASSERT_TRUE(host.Sync()) << "the host still answers after the broadcast";
    EXPECT_EQ(host.OtherVisibleWindows(), 0) << "no fatal error box";
    EXPECT_TRUE(shown.Close()) << "ends with exit code 0";
}

// Three hundred daemons; the one that offers a menu is started again, which puts it last in
// the table. Its tray item must reach it with its own identifier and never a host command.
TEST(FaultTest, AMenuOfTheThreeHundredthDaemonReachesItAndNoHostCommand) {
    ShownHost shown{L"routed_ids"};
    HostProcess& host = shown.host;
    wchar_t name[32];
    for (int i = 0; i < 299; ++i) {
        std::swprintf(name, std::size(name), L"cooperative_%03d.dll", i);
        shown.paths.push_back(host.AddDaemon(L"cooperative", name));
    }
    ASSERT_TRUE(shown.Start());
    const std::wstring& path = shown.paths[0];
    int row = shown.Row(L"\\routed_ids.dll");
    ASSERT_GE(row, 0);
    ASSERT_NE(host.OpenContextMenu(row), nullptr);
    ChooseMenuItem(ItemStop + 1);  // below its own submenu
    ASSERT_TRUE(WaitForEvent(path, "detach"));
    row = shown.Row(L"\\routed_ids.dll");
    ASSERT_NE(host.OpenContextMenu(row), nullptr);
    ChooseMenuItem(ItemStart);
    ASSERT_TRUE(WaitUntil([&] { return CountEvents(path, "entry") == 2; })) << "started again";

    SetCursorPos(400, 300);
    ASSERT_NE(host.OpenTrayMenu(), nullptr);
    PostMenuKeys({VK_DOWN, VK_RIGHT});  // its submenu, opened on "One"
    ASSERT_TRUE(WaitUntil([&] { return VisibleWindowsOf(host.ProcessId(), L"#32768").size() == 2; }));
    PostMenuKeys({VK_RETURN});
    ASSERT_TRUE(WaitForEvent(path, "command 1")) << "its own identifier";
    ASSERT_TRUE(host.WaitForNoPopupMenu());
    ASSERT_TRUE(host.Sync()) << "the host did not quit";
    EXPECT_EQ(CountEvents(path, "command "), 1);
    EXPECT_TRUE(shown.Close());
}

}  // namespace
}  // namespace kestrune::test
