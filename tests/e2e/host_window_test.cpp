// The real host, started as a process: start-up, the window, the tray icon, rows and closing.
#include <windows.h>

#include <commctrl.h>

#include <algorithm>
#include <utility>

#include <gtest/gtest.h>

#include "core/image_range.h"
#include "host_process.h"
#include "row_status.h"
#include "shown_host.h"
#include "test_daemons.h"

namespace kestrune::test {
namespace {

// Names of the files of a folder, and of its sub-folders' files at their entries' places, in listing order.
void ListInOrder(const std::wstring& folder, int level, std::vector<std::wstring>& names) {
    WIN32_FIND_DATAW entry;
    HANDLE listing = FindFirstFileW((folder + L"*.*").c_str(), &entry);
    if (listing == INVALID_HANDLE_VALUE) return;
    do {
        std::wstring name = entry.cFileName;
        if (name == L"." || name == L"..") continue;
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            if (level == 1) ListInOrder(folder + name + L"\\", 2, names);
        } else {
            names.push_back(folder + name);
        }
    } while (FindNextFileW(listing, &entry));
    FindClose(listing);
}

TEST(HostStartTest, RowsFollowDiscoveryOrderForLoadedDaemonsOnly) {
    TempFolder folder;
    HostProcess host(folder);
    std::vector<std::wstring> loadable = {
        host.AddDaemon(L"cooperative", L"alpha.dll"),
        host.AddDaemon(L"only_entry", L"tools\\beta.dll"),
        host.AddDaemon(L"busy", L"gamma.dll"),
        host.AddDaemon(L"cooperative", L"tools\\delta.dll"),
    };
    std::wstring refusing = host.AddDaemon(L"dllmain_false", L"refusing.dll");
    ASSERT_TRUE(WriteFileBytes(host.WildMagic() + L"notes.dll", "not a library"));
    ASSERT_TRUE(WriteFileBytes(host.WildMagic() + L"empty.dll", ""));
    std::wstring foreign = host.WildMagic() + L"foreign.dll";
    ASSERT_TRUE(CopyFileW(OtherArchitectureTestDaemon(L"cooperative").c_str(), foreign.c_str(), FALSE))
        << "the other target's test daemons must be built";

    ASSERT_TRUE(host.Start());
    ASSERT_NE(host.WaitForMainWindow(), nullptr) << host.Fate();
    for (const std::wstring& path : loadable) ASSERT_TRUE(WaitForEntry(path));
    ASSERT_TRUE(host.Sync());

    std::vector<std::wstring> expected;
    ListInOrder(host.WildMagic(), 1, expected);
    expected.erase(std::remove_if(expected.begin(), expected.end(),
                                  [&](const std::wstring& path) {
                                      return std::find(loadable.begin(), loadable.end(), path) == loadable.end();
                                  }),
                   expected.end());
    std::vector<ListRow> rows = host.Rows();
    ASSERT_EQ(rows.size(), expected.size());
    for (size_t i = 0; i < rows.size(); ++i) {
        EXPECT_EQ(rows[i].path, expected[i]) << "row " << i;
        EXPECT_EQ(rows[i].name, expected[i].substr(expected[i].find_last_of(L'\\') + 1));
    }

    // Every library was loaded before the first EntryPoint ran.
    long long lastAttach = 0, firstEntry = LLONG_MAX;
    for (const std::wstring& path : loadable) {
        ASSERT_NE(EventTime(path, "attach"), -1) << "no load reported by " << testing::PrintToString(path);
        lastAttach = std::max(lastAttach, EventTime(path, "attach"));
        firstEntry = std::min(firstEntry, EventTime(path, "entry"));
    }
    EXPECT_LT(lastAttach, firstEntry);
    EXPECT_TRUE(HasEvent(refusing, "attach-refused"));
    EXPECT_FALSE(host.IsWindowShown()) << "the host starts hidden";
    EXPECT_EQ(host.OtherVisibleWindows(), 0) << "refusals show nothing";

    DWORD exitCode = 1;
    ASSERT_TRUE(host.CloseAndWait(60s, &exitCode));
    EXPECT_EQ(exitCode, 0u);
}

// A host that cannot make its window cannot run: it ends without starting a daemon, and its
// exit code says it failed.
TEST(HostStartTest, AHostThatCannotMakeItsWindowEndsWithAFailure) {
    const ModuleOwner hooks{LoadLibraryW(TestDaemonPath(L"refuses_host_window").c_str())};
    ASSERT_TRUE(hooks);
    const auto refuse = LookUp<HOOKPROC>(hooks.get(), "RefuseHostWindow");
    const HookOwner hook{SetWindowsHookExW(WH_CBT, refuse, hooks.get(), 0)};
    ASSERT_TRUE(hook);
    TempFolder folder;
    HostProcess host(folder);
    const std::wstring daemon = host.AddDaemon(L"cooperative", L"alpha.dll");
    ASSERT_TRUE(host.Start());
    DWORD exitCode = 0;
    ASSERT_TRUE(host.WaitForExit(60s, &exitCode)) << host.Fate();
    EXPECT_EQ(exitCode, 1u);
    EXPECT_FALSE(HasEvent(daemon, "entry"));
}

TEST(HostWindowTest, TrayPressShowsTheWindowAndMinimisingHidesItAgain) {
    TempFolder folder;
    HostProcess host(folder);
    std::wstring busy = host.AddDaemon(L"busy");
    std::wstring plain = host.AddDaemon(L"only_entry");
    ASSERT_TRUE(host.Start());
    HWND window = host.WaitForMainWindow();
    ASSERT_NE(window, nullptr);
    ASSERT_TRUE(WaitForEntry(busy) && WaitForEntry(plain));
    ASSERT_TRUE(host.Sync());
    EXPECT_FALSE(IsWindowVisible(window));
    int busyRow = host.RowEndingWith(L"\\busy.dll");
    ASSERT_GE(busyRow, 0);
    EXPECT_EQ(host.Cell(busyRow, 2), L"") << "nothing is sampled while hidden";

    host.PressTrayIcon();
    ASSERT_TRUE(WaitUntil([&] { return host.IsWindowShown(); }, 20s));
    // Activation can trail the showing by a moment, more so in an emulated host.
    EXPECT_TRUE(WaitUntil([&] { return GetForegroundWindow() == window; }, 10s)) << "shown in the foreground";
    EXPECT_NE(host.Cell(busyRow, 2), L"") << "the list is refreshed when shown";
    std::wstring shownCpu = host.Cell(busyRow, 2);
    EXPECT_TRUE(WaitUntil([&] { return host.Cell(busyRow, 2) != shownCpu; }, 10s)) << "CPU advances while shown";
    int plainRow = host.RowEndingWith(L"\\only_entry.dll");
    EXPECT_EQ(host.Cell(plainRow, 1), BlackStar);
    EXPECT_EQ(host.StatusColour(plainRow), Olive) << "no state word";
    EXPECT_EQ(host.StatusColour(busyRow), Green);
    EXPECT_EQ(host.Cell(plainRow, 3), L"normal");

    host.PressTrayIcon();
    ASSERT_TRUE(host.SyncPosted());
    EXPECT_TRUE(host.IsWindowShown()) << "a press never hides the window";

    ShowWindow(window, SW_MINIMIZE);
    ASSERT_TRUE(WaitUntil([&] { return !IsWindowVisible(window); }, 20s)) << "minimising hides to the tray";
    std::wstring hiddenCpu = host.Cell(busyRow, 2);
    // A negative check, so a measured stretch: half as long again as the refresh period, so
    // a refresh falls within it.
    Sleep(1500);
    EXPECT_EQ(host.Cell(busyRow, 2), hiddenCpu) << "CPU is not sampled while hidden";

    host.PressTrayIcon();
    ASSERT_TRUE(WaitUntil([&] { return host.IsWindowShown(); }, 20s));
    EXPECT_NE(host.Cell(busyRow, 2), hiddenCpu) << "the first refresh after showing jumps to the total";
    RECT client{};
    GetClientRect(window, &client);
    EXPECT_GT(client.bottom, 0) << "shown restored, not minimised";

    DWORD exitCode = 1;
    ASSERT_TRUE(host.CloseAndWait(60s, &exitCode));
    EXPECT_EQ(exitCode, 0u);
}

// What the window and its list are made of, read from outside the host.
TEST(HostWindowTest, WindowAndListCarryTheirStylesAndTheWindowStartsCentred) {
    ShownHost shown{};
    ASSERT_TRUE(shown.Start());
    HWND window = shown.host.MainWindow();
    constexpr LONG_PTR frame = WS_CAPTION | WS_SYSMENU | WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX;
    EXPECT_EQ(GetWindowLongPtrW(window, GWL_STYLE) & frame, WS_CAPTION | WS_SYSMENU | WS_THICKFRAME | WS_MINIMIZEBOX)
        << "no maximise box";
    EXPECT_EQ(GetWindowLongPtrW(window, GWL_EXSTYLE) & ~WS_EX_WINDOWEDGE, 0) << "no extended style of its own";
    // Of the class only its style can be read from another process here.
    EXPECT_TRUE(GetClassLongPtrW(window, GCL_STYLE) & CS_DBLCLKS);
    RECT outer{};
    GetWindowRect(window, &outer);
    EXPECT_EQ(outer.left, std::max(0L, (GetSystemMetrics(SM_CXSCREEN) - (outer.right - outer.left)) / 2));
    EXPECT_EQ(outer.top, std::max(0L, (GetSystemMetrics(SM_CYSCREEN) - (outer.bottom - outer.top)) / 2));

    HWND list = shown.host.List();
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(GetDlgCtrlID(list), 52);
    constexpr LONG_PTR listStyles =
        WS_CHILD | WS_VISIBLE | WS_TABSTOP | LVS_REPORT | LVS_SINGLESEL | LVS_SHAREIMAGELISTS;
    EXPECT_EQ(GetWindowLongPtrW(list, GWL_STYLE) & listStyles, listStyles);
    EXPECT_TRUE(GetWindowLongPtrW(list, GWL_EXSTYLE) & WS_EX_CLIENTEDGE);
    LRESULT extended = SendMessageW(list, LVM_GETEXTENDEDLISTVIEWSTYLE, 0, 0);
    EXPECT_EQ(extended & (LVS_EX_FULLROWSELECT | LVS_EX_DOUBLEBUFFER), LVS_EX_FULLROWSELECT | LVS_EX_DOUBLEBUFFER);
    EXPECT_TRUE(shown.Close());
}

// Every status a row can show, side by side: also the picture of the list in the README.
// The stop here is the host's first, which once stamped 0 and so never showed its countdown.
TEST(HostWindowTest, RowsShowEveryStatusAtOnce) {
    ShownHost shown{L"busy", L"cooperative", L"ignores_word", L"only_entry", L"returns_at_once"};
    ASSERT_TRUE(shown.Start());
    HostProcess& host = shown.host;
    ASSERT_EQ(host.RowCount(), 5);
    enum { Busy = 0, Paused, Stopping, Plain, Ended };  // rows in discovery order

    for (auto [row, item] : {std::pair{int{Paused}, ItemPause}, std::pair{int{Stopping}, ItemStop}}) {
        ASSERT_NE(host.OpenContextMenu(row), nullptr);
        ChooseMenuItem(item);
        ASSERT_TRUE(host.WaitForNoPopupMenu());
    }
    ASSERT_TRUE(host.SelectRow(-1));
    EXPECT_TRUE(WaitUntil([&] { return host.StatusColour(Paused) == Blue; }, 20s)) << "paused";
    EXPECT_TRUE(WaitUntil([&] { return host.Cell(Stopping, 1).size() > 2; }, 20s)) << "the countdown";
    EXPECT_TRUE(WaitUntil([&] { return host.Cell(Ended, 2) == L"" && host.Cell(Ended, 3) == L""; }, 20s)) << "reaped";
    EXPECT_EQ(host.Cell(Busy, 1), BlackStar);
    EXPECT_EQ(host.StatusColour(Busy), Green);
    EXPECT_NE(host.Cell(Busy, 2), L"");
    EXPECT_EQ(host.Cell(Paused, 1), PausedStars);
    EXPECT_EQ(host.StatusColour(Paused), Blue);
    EXPECT_EQ(host.Cell(Stopping, 1).substr(0, 2), DownArrow);
    EXPECT_EQ(host.StatusColour(Stopping), DarkRed);
    EXPECT_EQ(host.Cell(Plain, 1), BlackStar);
    EXPECT_EQ(host.StatusColour(Plain), Olive);
    EXPECT_EQ(host.Cell(Ended, 1), WhiteStar);
    EXPECT_EQ(host.StatusColour(Ended), Grey);
    SaveScreenshot(L"main-window-states", host.MainWindow());
    // The ignoring daemon would hold a close up for its 30 s: the harness ends the host.
}

TEST(HostWindowTest, RealClickOnTheTrayIconShowsTheWindow) {
    TempFolder folder;
    HostProcess host(folder);
    ASSERT_TRUE(host.Start());
    HWND window = host.WaitForMainWindow();
    ASSERT_NE(window, nullptr);
    ASSERT_TRUE(host.Sync());
    HWND tray = nullptr;
    ASSERT_TRUE(WaitUntil([&] { return (tray = FindWindowW(nullptr, L"Wine System Tray")) != nullptr; }, 20s))
        << "Wine's stand-alone tray window";
    RECT area{};
    ASSERT_TRUE(WaitUntil([&] { return GetWindowRect(tray, &area) && area.right > area.left; }, 20s));
    // Icons fill the tray from the left, one square each; ours is the only one.
    int size = area.bottom - area.top;
    SetCursorPos(area.left + size / 2, area.top + size / 2);
    INPUT click[2] = {};
    click[0].type = click[1].type = INPUT_MOUSE;
    click[0].mi.dwFlags = MOUSEEVENTF_LEFTDOWN;
    click[1].mi.dwFlags = MOUSEEVENTF_LEFTUP;
    SendInput(2, click, sizeof(INPUT));
    EXPECT_TRUE(WaitUntil([&] { return host.IsWindowShown(); }, 20s));
    host.RequestClose();
    ASSERT_TRUE(host.WaitForExit(60s));
}

TEST(HostCloseTest, CloseAsksEveryDaemonAndWaitsForTheLast) {
    TempFolder folder;
    HostProcess host(folder);
    std::wstring cooperative = host.AddDaemon(L"cooperative");
    std::wstring ignoring = host.AddDaemon(L"ignores_word");
    std::wstring plain = host.AddDaemon(L"only_entry");
    ASSERT_TRUE(host.Start());
    HWND window = host.WaitForMainWindow();
    ASSERT_NE(window, nullptr);
    for (const auto& path : {cooperative, ignoring, plain}) ASSERT_TRUE(WaitForEntry(path));
    host.PressTrayIcon();
    ASSERT_TRUE(WaitUntil([&] { return host.IsWindowShown(); }, 20s));

    auto closed = std::chrono::steady_clock::now();
    host.RequestClose();
    ASSERT_TRUE(WaitForEvent(cooperative, "return"));
    int ignoringRow = host.RowEndingWith(L"\\ignores_word.dll");
    int cooperativeRow = host.RowEndingWith(L"\\cooperative.dll");
    int plainRow = host.RowEndingWith(L"\\only_entry.dll");
    ASSERT_TRUE(
        WaitUntil([&] { return host.Cell(cooperativeRow, 1) == WhiteStar && host.Cell(plainRow, 1) == WhiteStar; }));
    EXPECT_EQ(host.StatusColour(cooperativeRow), Grey);
    EXPECT_EQ(host.Cell(cooperativeRow, 2), L"") << "an unloaded daemon's CPU cell is emptied";
    EXPECT_EQ(host.Cell(plainRow, 3), L"");

    host.RequestClose();  // a second close changes nothing
    ASSERT_TRUE(WaitUntil([&] { return host.Cell(ignoringRow, 1).size() > 2; }, 10s)) << "the countdown appears";
    std::wstring countdown = host.Cell(ignoringRow, 1);
    EXPECT_EQ(countdown.substr(0, 2), DownArrow);
    EXPECT_EQ(host.StatusColour(ignoringRow), DarkRed);
    EXPECT_TRUE(IsWindow(window) && host.IsWindowShown()) << "the window stays while daemons stop";
    EXPECT_TRUE(host.IsRunning());
    SaveScreenshot(L"main-window-closing", window);

    DWORD exitCode = 1;
    ASSERT_TRUE(host.WaitForExit(90s, &exitCode));
    auto waited = std::chrono::steady_clock::now() - closed;
    EXPECT_EQ(exitCode, 0u);
    EXPECT_GE(waited, 29s) << "a daemon that ignores its word gets its 30 s";
    EXPECT_TRUE(HasEvent(cooperative, "stop-seen"));
    EXPECT_FALSE(HasEvent(ignoring, "return")) << "the ignoring daemon was terminated";
    EXPECT_FALSE(HasEvent(ignoring, "detach")) << "ended by force: its teardown never ran";
    EXPECT_TRUE(HasEvent(cooperative, "detach")) << "the one that returned had its library freed";
}

TEST(HostCloseTest, CloseWithNoDaemonsEndsAtOnce) {
    RunningHost running{};
    HostProcess& host = running.host;
    ASSERT_TRUE(running.Start());
    EXPECT_TRUE(WaitUntil([&] { return GetFileAttributesW(host.WildMagic().c_str()) != INVALID_FILE_ATTRIBUTES; }))
        << "a missing wild_magic folder is created";
    EXPECT_EQ(host.RowCount(), 0);
    DWORD exitCode = 1;
    ASSERT_TRUE(host.CloseAndWait(20s, &exitCode));
    EXPECT_EQ(exitCode, 0u);
}

TEST(HostCloseTest, DaemonThatEndsByItselfIsReapedAndTheHostRunsOn) {
    TempFolder folder;
    HostProcess host(folder);
    std::wstring later = host.AddDaemon(L"returns_later");
    ASSERT_TRUE(host.Start());
    ASSERT_NE(host.WaitForMainWindow(), nullptr) << host.Fate();
    ASSERT_TRUE(WaitForEvent(later, "return"));
    ASSERT_TRUE(WaitUntil([&] { return host.Cell(0, 1) == WhiteStar; }, 20s)) << "reaped and shown as ended";
    EXPECT_EQ(host.StatusColour(0), Grey);
    EXPECT_EQ(host.RowCount(), 1) << "the row stays";
    // A negative check, so a measured stretch: two of the reaper's visits, 512 ms apart, to
    // the emptied table.
    Sleep(1000);
    EXPECT_TRUE(host.IsRunning()) << "the host keeps running until closed";
    DWORD exitCode = 1;
    ASSERT_TRUE(host.CloseAndWait(20s, &exitCode));
    EXPECT_EQ(exitCode, 0u);
}

}  // namespace
}  // namespace kestrune::test
