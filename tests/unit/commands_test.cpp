// Daemon commands against the selected row: requests, "Pause all", "Start" again and
// the force-stop question answered through the real message box.
#include <thread>

#include "menu_fixture.h"
#include "message_box.h"
#include "ui/about_window.h"
#include "ui/daemon_commands.h"
#include "ui/reaper.h"
#include "ui/ui_state.h"

namespace kestrune::test {
namespace {

using CommandsTest = WindowFixture;

TEST(FolderOfPathTest, KeepsTheLastSeparatorAndSkipsALeadingQuote) {
    struct Case {
        const wchar_t* path;
        const wchar_t* folder;
    } cases[] = {
        {L"C:\\app\\wild_magic\\a.dll", L"C:\\app\\wild_magic\\"},
        {L"\"C:\\app\\wild_magic\\a.dll", L"C:\\app\\wild_magic\\"},
        {L"C:/app/wild_magic/a.dll", L"C:/app/wild_magic/"},
        {L"C:\\app/mixed\\a.dll", L"C:\\app/mixed\\"},
        {L"a.dll", L""},
        {L"\"a.dll", L""},
        {L"", L""},
        {L"\"", L""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(FolderOfPath(c.path), c.folder) << testing::PrintToString(std::wstring(c.path));
}

TEST_F(CommandsTest, RequestsGoToTheSelectedDaemonOnly) {
    Daemon* daemon = Run(L"cooperative");
    ASSERT_NE(daemon, nullptr);
    int other = RowFor(folder.path() + L"other.dll");
    struct Case {
        int code;
        int32_t request;
    } cases[] = {
        {CmdPriorityIdle, 65},         {CmdPriorityLowest, 78},        {CmdPriorityBelowNormal, 79},
        {CmdPriorityNormal, 80},       {CmdPriorityAboveNormal, 81},   {CmdPriorityHighest, 82},
        {CmdPriorityTimeCritical, 95}, {CmdPauseResume, RequestPause}, {CmdStop, RequestStop},
    };
    for (const Case& c : cases) {
        SetDaemonRequest(daemon, RequestNone);
        Select(other);
        ExecuteDaemonCommand(c.code);
        Select(-1);
        ExecuteDaemonCommand(c.code);
        EXPECT_EQ(daemon->request, RequestNone) << "code " << c.code << " without the daemon's row";
        SelectDaemon(daemon);
        ExecuteDaemonCommand(c.code);
        EXPECT_EQ(daemon->request, c.request) << "code " << c.code;
    }
    for (int code : {5, int{CmdStart}, 19, 0, 100}) {
        SetDaemonRequest(daemon, RequestNone);
        ExecuteDaemonCommand(code);
        EXPECT_EQ(daemon->request, RequestNone) << "code " << code;
    }
    EXPECT_EQ(LastDaemonIndex(), 1) << "Start on a loaded daemon loads nothing";

    SetDaemonRequest(daemon, RequestPriorityBase + THREAD_PRIORITY_HIGHEST);
    ASSERT_TRUE(TickDaemon(daemon));
    EXPECT_EQ(GetThreadPriority(daemon->thread.get()), THREAD_PRIORITY_HIGHEST);
    ExecuteDaemonCommand(CmdPauseResume);
    ASSERT_TRUE(TickDaemon(daemon));
    ASSERT_TRUE(daemon->Has(FlagPaused));
    ExecuteDaemonCommand(CmdPauseResume);
    EXPECT_EQ(daemon->request, RequestResume) << "a paused daemon is resumed";
    ASSERT_TRUE(TickDaemon(daemon));
}

TEST_F(CommandsTest, SeveralDaemonsPauseAllFollowsTheSelectedDaemon) {
    Daemon* a = Run(L"cooperative", L"a.dll");
    Daemon* b = Run(L"cooperative", L"b.dll");
    Daemon* c = Run(L"returns_on_signal", L"c.dll");  // stays stopping: it ignores its state word
    ASSERT_TRUE(a && b && c);
    auto requests = [&] { return std::vector<int32_t>{a->request, b->request, c->request}; };
    auto tickAll = [&] {
        for (Daemon* d : {a, b, c}) ASSERT_TRUE(TickDaemon(d));
    };
    const std::vector<int32_t> allPause(3, RequestPause), allResume(3, RequestResume);

    Select(-1);
    ExecuteDaemonCommand(CmdPauseResumeAll);
    EXPECT_EQ(requests(), allPause) << "no row selected";
    tickAll();

    SelectDaemon(a);
    ExecuteDaemonCommand(CmdPauseResumeAll);
    EXPECT_EQ(requests(), allResume) << "the selected daemon is paused";
    tickAll();

    ExecuteDaemonCommand(CmdPauseResume);
    ASSERT_TRUE(TickDaemon(a));
    ASSERT_TRUE(a->Has(FlagPaused) && !b->Has(FlagPaused));
    SelectDaemon(b);
    ExecuteDaemonCommand(CmdPauseResumeAll);
    EXPECT_EQ(requests(), allPause) << "the selected daemon runs, whatever the others do";
    SetDaemonRequest(a, RequestNone);
    SetDaemonRequest(b, RequestNone);
    SetDaemonRequest(c, RequestStop);
    tickAll();
    ASSERT_TRUE(c->Has(FlagStopping));

    SelectDaemon(a);
    ExecuteDaemonCommand(CmdPauseResumeAll);
    EXPECT_EQ(requests(), allResume) << "never-paused and stopping daemons are asked too";
    tickAll();
    ASSERT_TRUE(WriteFileBytes(c->path + L".quit", ""));
}

TEST_F(CommandsTest, StartLoadsAnEndedDaemonAgainAndArmsTheReaper) {
    Daemon* first = Run(L"cooperative");
    ASSERT_NE(first, nullptr);
    const std::wstring path = first->path;
    int row = FindRowByPath(path);
    ASSERT_TRUE(StopAndUnload(first));
    ASSERT_EQ(LastDaemonIndex(), 0);
    ASSERT_FALSE(KillTimer(ui.main.mainWindow.get(), ReaperTimerId)) << "no reaper timer yet";

    std::wstring garbage = folder.Make(L"garbage.dll");
    ASSERT_TRUE(WriteFileBytes(garbage, "not a library"));
    Select(RowFor(garbage));
    ExecuteDaemonCommand(CmdStart);
    EXPECT_EQ(LastDaemonIndex(), 0);
    EXPECT_FALSE(KillTimer(ui.main.mainWindow.get(), ReaperTimerId)) << "a failed start arms nothing";

    Select(row);
    ExecuteDaemonCommand(CmdStart);
    ASSERT_EQ(LastDaemonIndex(), 1);
    Daemon* second = app.DaemonTable[1].get();
    EXPECT_EQ(second->path, path);
    EXPECT_TRUE(second->Has(FlagStarted));
    EXPECT_TRUE(WaitUntil([&] { return CountEvents(path, "entry") == 2; })) << "a new EntryPoint call";
    EXPECT_TRUE(KillTimer(ui.main.mainWindow.get(), ReaperTimerId)) << "the reaper timer was set for the new count";

    ExecuteDaemonCommand(CmdStart);
    EXPECT_EQ(LastDaemonIndex(), 1) << "Start on a loaded daemon does nothing";

    ASSERT_TRUE(StopAndUnload(second));
    app.quitting.store(1);
    ExecuteDaemonCommand(CmdStart);
    EXPECT_EQ(LastDaemonIndex(), 0) << "nothing starts while quitting";
    EXPECT_EQ(CountEvents(path, "entry"), 2);
}

// What the force-stop box looked like, and the host's windows while it was open.
struct BoxSeen {
    bool found = false;
    std::wstring text;
    HWND owner = nullptr;
    bool yes = false, no = false, cancel = false;
    bool mainEnabled = true, aboutEnabled = true;
};

std::thread AnswerBox(const std::wstring& title, int button, BoxSeen& seen,
                      std::chrono::milliseconds timeout = std::chrono::seconds(20)) {
    return std::thread([title, button, &seen, timeout] {
        HWND box = WaitForMessageBox(GetCurrentProcessId(), title, timeout);
        if (!box) return;
        seen.found = true;
        seen.text = MessageBoxText(box);
        seen.owner = GetWindow(box, GW_OWNER);
        seen.yes = HasButton(box, IDYES);
        seen.no = HasButton(box, IDNO);
        seen.cancel = HasButton(box, IDCANCEL) || HasButton(box, IDOK);
        seen.mainEnabled = IsWindowEnabled(ui.main.mainWindow.get()) != FALSE;
        seen.aboutEnabled = ui.about.AboutWindow && IsWindowEnabled(ui.about.AboutWindow.get());
        PressButton(box, button);
    });
}

TEST_F(CommandsTest, ForceStopAsksFirstAndOnlyYesStops) {
    Daemon* daemon = Run(L"cooperative");
    ASSERT_NE(daemon, nullptr);
    const std::wstring title = L"Kestrune\\\\cooperative.dll";
    const std::wstring text =
        L"Are you sure to terminate thread?\r\rThis can lead to OS handles leaks or other unexpected shit";
    ShowWindow(ui.main.mainWindow.get(), SW_SHOWNORMAL);
    ShowAboutWindow(L"About Kestrune", 800, 600);
    SetForegroundWindow(ui.about.AboutWindow.get());
    SelectDaemon(daemon);

    BoxSeen first;
    std::thread answer = AnswerBox(title, IDNO, first);
    ExecuteDaemonCommand(CmdForceStop);
    answer.join();
    ASSERT_TRUE(first.found) << "a box titled " << testing::PrintToString(title);
    EXPECT_EQ(first.text, text);
    EXPECT_TRUE(first.yes && first.no && !first.cancel) << "Yes and No only";
    EXPECT_EQ(first.owner, ui.about.AboutWindow.get()) << "the foreground window of the host owns the box";
    EXPECT_FALSE(first.mainEnabled) << "the host's other windows wait for the answer";
    EXPECT_FALSE(first.aboutEnabled);
    EXPECT_TRUE(IsWindowEnabled(ui.main.mainWindow.get()) && IsWindowEnabled(ui.about.AboutWindow.get()))
        << "enabled again after";
    EXPECT_EQ(daemon->request, RequestNone) << "No leaves the daemon alone";

    DestroyWindow(ui.about.AboutWindow.get());
    SetForegroundWindow(ui.main.mainWindow.get());
    BoxSeen second;
    answer = AnswerBox(title, IDYES, second);
    ExecuteDaemonCommand(CmdForceStop);
    answer.join();
    ASSERT_TRUE(second.found);
    EXPECT_EQ(second.owner, ui.main.mainWindow.get());
    EXPECT_EQ(daemon->request, RequestForceStop);
    // What the request then does is the reaper's business (and the end-to-end test's): here
    // the daemon is stopped gently, since under qemu a thread older than the box's helper
    // thread could not be terminated.
    ASSERT_TRUE(StopAndUnload(daemon));

    // Without a daemon for the row there is nothing to ask about.
    Select(RowFor(folder.path() + L"cooperative.dll"));
    BoxSeen none;
    answer = AnswerBox(title, IDNO, none, std::chrono::milliseconds(1500));
    ExecuteDaemonCommand(CmdForceStop);
    answer.join();
    EXPECT_FALSE(none.found);
}

}  // namespace
}  // namespace kestrune::test
