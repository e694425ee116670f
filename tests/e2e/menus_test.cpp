// The real host driven with real mouse and keyboard input: the context menu and its
// commands, the force-stop question, daemon menus, the tray menu and the About window.
#include <windows.h>

#include <richedit.h>

#include <gtest/gtest.h>

#include "host_process.h"
#include "message_box.h"
#include "row_status.h"
#include "run_program.h"
#include "shell_folders.h"
#include "shown_host.h"
#include "test_daemons.h"
#include "top_level_windows.h"

namespace kestrune::test {
namespace {

// Context menu positions, separators not counted, for a daemon without a menu of its own;
// a daemon with one has its submenu at 2 and everything after it one further down.

// A window's text, asked of the window itself: GetWindowText would only read the
// caption of another process's window.
std::wstring WindowText(HWND window) {
    std::wstring text(65536, L'\0');
    DWORD_PTR length = 0;
    if (!SendMessageTimeoutW(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()), SMTO_NORMAL, 10000,
                             &length)) {
        return L"<no answer>";
    }
    text.resize(length);
    return text;
}

TEST(ContextMenuEndToEndTest, DrivesADaemonThroughPausePriorityStopAndStartAgain) {
    ShownHost shown{{L"cooperative", L""}};
    ASSERT_TRUE(shown.Start());
    HostProcess& host = shown.host;
    const std::wstring& path = shown.paths[0];
    const int row = 0;

    ASSERT_NE(host.OpenContextMenu(row), nullptr) << "a right click on a row opens the menu";
    ChooseMenuItem(ItemPause);
    ASSERT_TRUE(WaitUntil([&] { return host.Cell(row, 1) == PausedStars; })) << "paused at the next reaper visit";
    EXPECT_EQ(host.StatusColour(row), Blue);

    ASSERT_NE(host.OpenContextMenu(row), nullptr);
    ChooseMenuItem(ItemPause);  // reads "Resume" now
    ASSERT_TRUE(WaitUntil([&] { return host.Cell(row, 1) == BlackStar; }));

    ASSERT_NE(host.OpenContextMenu(row), nullptr);
    ChooseMenuItem(ItemPriority, 1);  // "Highest", below "Time critical"
    ASSERT_TRUE(WaitUntil([&] { return host.Cell(row, 3) == L"highest"; }));

    ASSERT_NE(host.OpenContextMenu(row), nullptr);
    ChooseMenuItem(ItemStop);
    ASSERT_TRUE(WaitForEvent(path, "return")) << "asked through its state word";
    ASSERT_TRUE(WaitUntil([&] { return host.Cell(row, 1) == WhiteStar; }));
    ASSERT_TRUE(WaitForEvent(path, "detach"));

    ASSERT_NE(host.OpenContextMenu(row), nullptr);
    ChooseMenuItem(ItemStart);
    ASSERT_TRUE(WaitUntil([&] { return CountEvents(path, "entry") == 2; })) << "loaded and started again";
    ASSERT_TRUE(WaitUntil([&] { return host.Cell(row, 1) == BlackStar; }));
    EXPECT_EQ(host.Cell(row, 3), L"normal") << "a new thread";
    EXPECT_EQ(host.RowCount(), 1);

    // Escape dismisses the menu without a command.
    ASSERT_NE(host.OpenContextMenu(row), nullptr);
    PostMenuKeys({VK_ESCAPE});
    ASSERT_TRUE(host.WaitForNoPopupMenu());
    EXPECT_EQ(host.Cell(row, 1), BlackStar);
    EXPECT_TRUE(shown.Close());
}

TEST(ContextMenuEndToEndTest, ForceStopBoxHoldsTheReaperButNotTheRefreshAndOnlyYesTerminates) {
    ShownHost shown{{L"cooperative", L""}, {L"busy", L""}, {L"returns_on_signal", L""}};
    ASSERT_TRUE(shown.Start());
    HostProcess& host = shown.host;
    const std::wstring& cooperative = shown.paths[0];
    const std::wstring& signalled = shown.paths[2];
    int target = shown.Row(L"\\cooperative.dll"), busy = shown.Row(L"\\busy.dll"),
        ending = shown.Row(L"\\returns_on_signal.dll");
    const std::wstring title = L"Kestrune\\\\cooperative.dll";

    ASSERT_NE(host.OpenContextMenu(target), nullptr);
    ChooseMenuItem(ItemForceStop);
    HWND box = WaitForMessageBox(host.ProcessId(), title);
    ASSERT_NE(box, nullptr) << "titled Kestrune, two backslashes and the file name; status "
                            << testing::PrintToString(host.Cell(target, 1)) << ", popup " << host.WaitForPopupMenu(0s)
                            << ", other windows " << host.OtherVisibleWindows();
    EXPECT_EQ(MessageBoxText(box),
              L"Are you sure to terminate thread?\r\rThis can lead to OS handles leaks or other unexpected shit");
    EXPECT_TRUE(HasButton(box, IDYES) && HasButton(box, IDNO));
    EXPECT_FALSE(HasButton(box, IDCANCEL) || HasButton(box, IDOK));
    EXPECT_EQ(GetWindow(box, GW_OWNER), host.MainWindow()) << "the host's foreground window owns it";
    EXPECT_FALSE(IsWindowEnabled(host.MainWindow()));
    SaveScreenshotOf(L"force-stop-box", {host.MainWindow(), box});

    // A daemon that ends while the box is open is not reaped until it closes; the
    // one-second refresh goes on meanwhile.
    ASSERT_TRUE(WriteFileBytes(signalled + L".quit", ""));
    ASSERT_TRUE(WaitForEvent(signalled, "return"));
    for (int refresh = 0; refresh < 2; ++refresh) {
        std::wstring cpu = host.Cell(busy, 2);
        ASSERT_TRUE(WaitUntil([&] { return host.Cell(busy, 2) != cpu; })) << "refresh " << refresh;
    }
    EXPECT_EQ(host.Cell(ending, 1), BlackStar) << "no reaper step inside the box's loop";
    EXPECT_TRUE(IsWindow(box));

    ASSERT_TRUE(PressButton(box, IDNO));
    ASSERT_TRUE(WaitUntil([&] { return !IsWindow(box) && IsWindowEnabled(host.MainWindow()); }));
    ASSERT_TRUE(WaitUntil([&] { return host.Cell(ending, 1) == WhiteStar; })) << "reaped once the box closed";
    EXPECT_EQ(host.Cell(target, 1), BlackStar) << "No leaves the daemon running";

    ASSERT_NE(host.OpenContextMenu(target), nullptr);
    ChooseMenuItem(ItemForceStop);
    box = WaitForMessageBox(host.ProcessId(), title);
    ASSERT_NE(box, nullptr);
    ASSERT_TRUE(PressButton(box, IDYES));
    ASSERT_TRUE(WaitUntil([&] { return host.Cell(target, 1) == WhiteStar; }));
    EXPECT_FALSE(HasEvent(cooperative, "return")) << "terminated, never asked";
    EXPECT_FALSE(HasEvent(cooperative, "detach")) << "ended by force: its teardown never runs";
    EXPECT_TRUE(shown.Close());
}

TEST(ContextMenuEndToEndTest, PauseAllFollowsTheSelectedDaemon) {
    ShownHost shown{{L"cooperative", L"a.dll"}, {L"cooperative", L"b.dll"}};
    ASSERT_TRUE(shown.Start());
    HostProcess& host = shown.host;
    int a = shown.Row(L"\\a.dll"), b = shown.Row(L"\\b.dll");
    auto states = [&](const std::wstring& first, const std::wstring& second) {
        return WaitUntil([&] { return host.Cell(a, 1) == first && host.Cell(b, 1) == second; });
    };

    ASSERT_NE(host.OpenContextMenu(a), nullptr);
    ChooseMenuItem(ItemPauseAll);
    ASSERT_TRUE(states(PausedStars, PausedStars));
    ASSERT_NE(host.OpenContextMenu(b), nullptr);
    ChooseMenuItem(ItemPauseAll);  // "Resume all"
    ASSERT_TRUE(states(BlackStar, BlackStar));
    ASSERT_NE(host.OpenContextMenu(a), nullptr);
    ChooseMenuItem(ItemPause);
    ASSERT_TRUE(states(PausedStars, BlackStar));
    ASSERT_NE(host.OpenContextMenu(b), nullptr);
    ChooseMenuItem(ItemPauseAll);  // b runs: "Pause all"
    ASSERT_TRUE(states(PausedStars, PausedStars));
    ASSERT_NE(host.OpenContextMenu(a), nullptr);
    ChooseMenuItem(ItemPauseAll);  // a is paused: "Resume all"
    ASSERT_TRUE(states(BlackStar, BlackStar));
    EXPECT_TRUE(shown.Close());
}

TEST(ContextMenuEndToEndTest, DoubleClickAndOpenFolderShowTheFolderEvenAfterTheDaemonEnded) {
    ShownHost shown{{L"cooperative", L"opened_here\\cooperative.dll"}, {L"returns_later", L"gone_later\\ends.dll"}};
    ASSERT_TRUE(shown.Start());
    HostProcess& host = shown.host;
    const std::wstring openedHere = host.WildMagic() + L"opened_here\\", goneLater = host.WildMagic() + L"gone_later\\";
    int running = shown.Row(L"\\opened_here\\cooperative.dll"), ended = shown.Row(L"\\gone_later\\ends.dll");
    ASSERT_TRUE(WaitUntil([&] { return host.Cell(ended, 1) == WhiteStar; })) << "ended by itself and reaped";

    host.DoubleClickRow(running);
    HWND shell = WaitForFolderWindow(openedHere);
    ASSERT_NE(shell, nullptr) << "the shell is asked for the row's folder";
    ASSERT_TRUE(CloseForeignWindow(shell));

    ASSERT_NE(host.OpenContextMenu(running), nullptr);
    ChooseMenuItem(ItemOpenFolder);
    shell = WaitForFolderWindow(openedHere);
    ASSERT_NE(shell, nullptr);
    ASSERT_TRUE(CloseForeignWindow(shell));

    ASSERT_NE(host.OpenContextMenu(ended), nullptr);
    ChooseMenuItem(ItemOpenFolder);
    shell = WaitForFolderWindow(goneLater);
    ASSERT_NE(shell, nullptr) << "a daemon that ended still has its folder";
    ASSERT_TRUE(CloseForeignWindow(shell));

    RemoveTree(goneLater);
    ASSERT_EQ(GetFileAttributesW(goneLater.c_str()), INVALID_FILE_ATTRIBUTES);
    host.DoubleClickRow(ended);
    host.DoubleClickRow(running);
    shell = WaitForFolderWindow(openedHere);
    ASSERT_NE(shell, nullptr);
    // The first double-click was handled before the second, whose window shows: a window for the
    // deleted folder would have been asked for first and shows within the second's time.
    EXPECT_EQ(WaitForFolderWindow(goneLater, 1s), nullptr) << "a deleted folder opens nothing";
    ASSERT_TRUE(CloseForeignWindow(shell));
    EXPECT_TRUE(shown.Close());
}

TEST(DaemonMenuEndToEndTest, ItemsFromBothMenusReachTheDaemonThreadWithTheirOwnIds) {
    ShownHost shown{{L"routed_ids", L""}, {L"cooperative", L""}};
    ASSERT_TRUE(shown.Start());
    HostProcess& host = shown.host;
    const std::wstring& path = shown.paths[0];
    int row = shown.Row(L"\\routed_ids.dll");

    ASSERT_NE(host.OpenContextMenu(row), nullptr);
    PostMenuKeys({VK_DOWN, VK_DOWN, VK_DOWN, VK_RIGHT});  // routed_ids.dll, opened on "One"
    ASSERT_TRUE(WaitUntil([&] { return VisibleWindowsOf(host.ProcessId(), L"#32768").size() == 2; }));
    std::vector<HWND> open = VisibleWindowsOf(host.ProcessId(), L"#32768");
    PaintNow({open[0], open[1]});
    SaveScreenshotOf(L"context-menu", {host.MainWindow(), open[0], open[1]});
    PostMenuKeys({VK_DOWN, VK_RETURN});  // "Two"
    ASSERT_TRUE(WaitForEvent(path, "command 2"));
    EXPECT_EQ(LastNumber(path, "menu"), 0) << "asked for the context menu";
    long long windowThread = LastNumber(path, "window-thread");
    EXPECT_EQ(LastNumber(path, "command-thread"), windowThread);
    DWORD hostThread = GetWindowThreadProcessId(host.MainWindow(), nullptr);
    EXPECT_NE(windowThread, static_cast<long long>(hostThread)) << "on the daemon's own thread";

    // Tray menu: the daemon's submenu, a separator, then Explore, About and Quit.
    SetCursorPos(400, 300);
    HWND popup = host.OpenTrayMenu();
    ASSERT_NE(popup, nullptr);
    PostMenuKeys({VK_DOWN, VK_RIGHT});
    ASSERT_TRUE(WaitUntil([&] { return VisibleWindowsOf(host.ProcessId(), L"#32768").size() == 2; }));
    PostMenuKeys({VK_DOWN, VK_DOWN, VK_RETURN});
    ASSERT_TRUE(WaitForEvent(path, "command 3"));
    EXPECT_EQ(LastNumber(path, "menu"), 1) << "asked for the tray menu";
    EXPECT_EQ(CountEvents(path, "command "), 2);
    EXPECT_EQ(CountEvents(path, "menu-arguments-zeroed 1"), CountEvents(path, "menu "));
    EXPECT_TRUE(shown.Close());
}

enum TrayItem { TrayItemSampleMenu = 0, TrayItemExplore, TrayItemAbout, TrayItemQuit };

// The sample's own item, chosen from its submenu in the tray menu, writes its note.
void ChooseTheSamplesItem(HostProcess& host) {
    SetCursorPos(400, 300);
    // Its menu, opened on "Write the time to sample_daemon.txt".
    ASSERT_NE(host.OpenTrayMenu(), nullptr);
    PostMenuKeys({VK_DOWN, VK_RIGHT});
    ASSERT_TRUE(WaitUntil([&] { return VisibleWindowsOf(host.ProcessId(), L"#32768").size() == 2; }));
    std::vector<HWND> popups = VisibleWindowsOf(host.ProcessId(), L"#32768");
    PaintNow({popups[0], popups[1]});
    SaveScreenshotOf(L"tray-menu", {popups[0], popups[1]});
    PostMenuKeys({VK_RETURN});
    const std::wstring notes = host.WildMagic() + L"sample\\sample_daemon.txt";
    ASSERT_TRUE(WaitUntil([&] { return ReadFileBytes(notes).ends_with(" note\r\n"); })) << "the sample wrote a note";
}

std::vector<HWND> AboutWindows(const HostProcess& host) {
    std::vector<HWND> found;
    for (HWND window : VisibleWindowsOf(host.ProcessId(), L"KestruneAboutWindow")) {
        if (WindowText(window) == L"About Kestrune") found.push_back(window);
    }
    return found;
}

HWND OpenAbout(HostProcess& host) {
    if (!host.OpenTrayMenu()) return nullptr;
    ChooseMenuItem(TrayItemAbout);
    HWND about = nullptr;
    WaitUntil([&] {
        auto found = AboutWindows(host);
        about = found.empty() ? nullptr : found[0];
        return about != nullptr;
    });
    return about;
}

// A window just opened: at the screen's corner, 800 x 600 inside.
void ExpectFreshAbout(HWND about) {
    RECT outer{}, client{};
    GetWindowRect(about, &outer);
    GetClientRect(about, &client);
    EXPECT_EQ(outer.left, 0);
    EXPECT_EQ(outer.top, 0);
    EXPECT_EQ(client.right, 800);
    EXPECT_EQ(client.bottom, 600);
}

// The help text, which typing does not change.
void CheckAboutText(HostProcess& host, HWND about) {
    HWND text = FindWindowExW(about, nullptr, MSFTEDIT_CLASS, nullptr);
    if (!text) text = FindWindowExW(about, nullptr, RICHEDIT_CLASSW, nullptr);
    ASSERT_NE(text, nullptr) << "a rich edit control";
    const std::wstring help = WindowText(text);
    EXPECT_EQ(help.substr(0, help.find(L"\r\n")), L"Kestrune: the ultimate host process for daemons");
    EXPECT_NE(help.find(L"\r\n" + std::wstring(64, L'\u2014') + L"\r\n"), std::wstring::npos);
    EXPECT_NE(help.find(L"\r\n\u2014| WRITING DAEMONS AND ANGELS\r\n"), std::wstring::npos);
    PaintNow({about});
    SaveScreenshot(L"about-window", about);

    RECT area{};
    GetWindowRect(text, &area);
    SetCursorPos((area.left + area.right) / 2, (area.top + area.bottom) / 2);
    INPUT click[2] = {};
    click[0].type = click[1].type = INPUT_MOUSE;
    click[0].mi.dwFlags = MOUSEEVENTF_LEFTDOWN;
    click[1].mi.dwFlags = MOUSEEVENTF_LEFTUP;
    SendInput(2, click, sizeof(INPUT));
    PressKeys({'X', VK_BACK, VK_DELETE, VK_RETURN});
    ASSERT_TRUE(host.Sync());
    EXPECT_EQ(WindowText(text), help);
}

// "About program..." again brings the open window forward; closed, it opens anew.
void CheckAboutAgain(HostProcess& host, HWND about) {
    ASSERT_TRUE(SetWindowPos(about, nullptr, 120, 90, 600, 400, SWP_NOZORDER));
    EXPECT_EQ(OpenAbout(host), about) << "the open window is brought forward";
    EXPECT_EQ(AboutWindows(host).size(), 1u);
    RECT moved{};
    GetWindowRect(about, &moved);
    EXPECT_EQ(moved.left, 120) << "not placed again";
    EXPECT_TRUE(WaitUntil([&] { return GetForegroundWindow() == about; }, 10s)) << "in the foreground";

    PostMessageW(about, WM_CLOSE, 0, 0);
    ASSERT_TRUE(WaitUntil([&] { return !IsWindow(about); }));
    EXPECT_TRUE(host.IsRunning());
    HWND again = OpenAbout(host);
    ASSERT_NE(again, nullptr);
    EXPECT_NE(again, about);
    {
        SCOPED_TRACE("reopened");
        ExpectFreshAbout(again);
    }
}

void CheckExplore(HostProcess& host) {
#ifdef _WIN64
    // One look at the shell's own file browser, where it is quick and steady.
    RealShellFolders realShell;
    ASSERT_NE(host.OpenTrayMenu(), nullptr);
    ChooseMenuItem(TrayItemExplore);
    std::wstring hostFolder = host.Folder().substr(0, host.Folder().size() - 1);
    HWND shell = WaitForForeignWindow(host.ProcessId(), L"ExplorerWClass",
                                      hostFolder.substr(hostFolder.find_last_of(L'\\') + 1));
    ASSERT_NE(shell, nullptr) << "the shell shows the host's folder";
    ASSERT_TRUE(CloseForeignWindow(shell));
#else
    ASSERT_NE(host.OpenTrayMenu(), nullptr);
    ChooseMenuItem(TrayItemExplore);
    HWND shell = WaitForFolderWindow(host.Folder());
    ASSERT_NE(shell, nullptr) << "the shell is asked for the host's folder";
    ASSERT_TRUE(CloseForeignWindow(shell));
#endif
}

TEST(TrayMenuEndToEndTest, SampleDaemonsMenuAboutExploreAndQuitWork) {
    ShownHost shown{};
    HostProcess& host = shown.host;
    const std::wstring sample = host.WildMagic() + L"sample\\sample_daemon.dll";
    CreateFolders(host.WildMagic() + L"sample\\");
    ASSERT_TRUE(CopyFileW((ProgramFolder() + L"..\\daemons\\sample_daemon.dll").c_str(), sample.c_str(), FALSE));
    ASSERT_TRUE(shown.Start());
    // The sample offers its menu once its message-only window exists.
    ASSERT_TRUE(WaitUntil([] { return FindWindowExW(HWND_MESSAGE, nullptr, L"KestruneSampleDaemon", nullptr); }));

    ASSERT_NO_FATAL_FAILURE(ChooseTheSamplesItem(host));
    HWND about = OpenAbout(host);
    ASSERT_NE(about, nullptr);
    {
        SCOPED_TRACE("first opened");
        ExpectFreshAbout(about);
    }
    ASSERT_NO_FATAL_FAILURE(CheckAboutText(host, about));
    ASSERT_NO_FATAL_FAILURE(CheckAboutAgain(host, about));
    ASSERT_NO_FATAL_FAILURE(CheckExplore(host));

    ASSERT_NE(host.OpenTrayMenu(), nullptr);
    ChooseMenuItem(TrayItemQuit);
    DWORD exitCode = 1;
    ASSERT_TRUE(host.WaitForExit(60s, &exitCode)) << "quitting stops the daemons, then the host";
    EXPECT_EQ(exitCode, 0u);
}

}  // namespace
}  // namespace kestrune::test
