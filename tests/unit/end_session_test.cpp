// The end of the user's session in process: the real window procedure and the real
// daemons, the force-stop question open meanwhile, and a menu being built meanwhile.
#include <thread>

#include "freed_blocks.h"
#include "menu_fixture.h"
#include "message_box.h"
#include "system_answers.h"
#include "ui/close_sequence.h"
#include "ui/daemon_commands.h"
#include "ui/reaper.h"
#include "ui/ui_state.h"

namespace kestrune::test {
namespace {

const std::wstring WhiteStar = L" \u2606";

class EndSessionTest : public WindowFixture {
protected:
    LRESULT Send(UINT message, WPARAM wParam) {
        return SendMessageW(ui.main.mainWindow.get(), message, wParam, ENDSESSION_LOGOFF);
    }
};

TEST_F(EndSessionTest, QueryAndCancelledEndAskNothingAndTheRealEndWaitsForTheDaemonToSave) {
    Daemon* daemon = Run(L"slow_cleanup");
    ASSERT_NE(daemon, nullptr);
    const std::wstring path = daemon->path;
    const int row = FindRowByPath(path);

    EXPECT_EQ(Send(WM_QUERYENDSESSION, 0), TRUE) << "the host never holds up the end of a session";
    EXPECT_EQ(Send(WM_ENDSESSION, FALSE), 0);
    EXPECT_FALSE(IsQuitting()) << "a cancelled end leaves the host running";
    EXPECT_EQ(daemon->request, RequestNone);
    EXPECT_NE(*daemon->stateWordAddress, StateWordStop);
    EXPECT_FALSE(HasEvent(path, "stop-seen"));

    EXPECT_EQ(Send(WM_QUERYENDSESSION, 0), TRUE);
    Send(WM_ENDSESSION, TRUE);
    EXPECT_TRUE(IsQuitting());
    EXPECT_EQ(LastDaemonIndex(), 0) << "every daemon has ended when the handler returns";
    EXPECT_TRUE(HasEvent(path, "saved")) << "its second of cleaning up was waited for";
    EXPECT_TRUE(HasEvent(path, "return"));
    EXPECT_EQ(RowCellText(row, ColumnStatus), WhiteStar) << "its row had its final update";
}

TEST_F(EndSessionTest, SeveralDaemonsEveryKindEndsBeforeTheHandlerReturns) {
    Daemon* slow = Run(L"slow_cleanup");
    Daemon* paused = Run(L"cooperative");
    Daemon* ignoring = Run(L"ignores_word");
    Daemon* wordless = Run(L"only_entry");
    ASSERT_TRUE(slow && paused && ignoring && wordless);
    const std::wstring slowPath = slow->path, pausedPath = paused->path, ignoringPath = ignoring->path,
                       wordlessPath = wordless->path;
    SetDaemonRequest(paused, RequestPause);
    ASSERT_TRUE(TickDaemon(paused));
    ASSERT_EQ(SuspendCount(paused->thread.get()), 1u);

    Send(WM_ENDSESSION, TRUE);
    EXPECT_EQ(LastDaemonIndex(), 0);
    EXPECT_TRUE(HasEvent(slowPath, "saved"));
    EXPECT_TRUE(HasEvent(pausedPath, "stop-seen")) << "a paused daemon is resumed to see 255";
    EXPECT_TRUE(HasEvent(pausedPath, "return"));
    EXPECT_FALSE(HasEvent(ignoringPath, "return")) << "ended by force at the allowance, not after 30 s";
    // Whether a returned daemon's library is freed is not asked here: the end of the session may
    // be reached from a daemon's code on this thread, so the host keeps what this thread's stack
    // might return into, and the system ends the process next.
    for (const std::wstring& path : {ignoringPath, wordlessPath}) {
        EXPECT_FALSE(HasEvent(path, "detach")) << testing::PrintToString(path) << " was ended by force: no teardown";
    }
}

TEST_F(EndSessionTest, ADaemonBusyInTheHeapIsEndedWithoutLeavingItsLockHeld) {
    Daemon* busy = Run(L"loops_heap_ignoring_word");
    ASSERT_NE(busy, nullptr);
    const std::wstring path = busy->path;
    Send(WM_ENDSESSION, TRUE);
    EXPECT_EQ(LastDaemonIndex(), 0);
    EXPECT_FALSE(HasEvent(path, "return")) << "ended by force";
    EXPECT_TRUE(SystemAnswers()) << "a lock of the system was left held";
}

TEST_F(EndSessionTest, ForceStopAnsweredAfterTheSessionEndedWritesIntoNoFreedRecord) {
    Daemon* daemon = Run(L"cooperative");
    ASSERT_NE(daemon, nullptr);
    const void* record = daemon;
    const size_t requestOffset =
        static_cast<size_t>(reinterpret_cast<const char*>(&daemon->request) - reinterpret_cast<const char*>(daemon));
    ShowWindow(ui.main.mainWindow.get(), SW_SHOWNORMAL);
    SetForegroundWindow(ui.main.mainWindow.get());
    Select(FindRowByPath(daemon->path));

    FreedBlockWatch watch;
    bool answered = false;
    std::thread user([&] {
        HWND box = WaitForMessageBox(GetCurrentProcessId(), L"Kestrune\\\\cooperative.dll");
        if (!box) return;
        // Handled inside the box's own message loop.
        SendMessageW(ui.main.mainWindow.get(), WM_ENDSESSION, TRUE, ENDSESSION_LOGOFF);
        answered = PressButton(box, IDYES);
    });
    ExecuteDaemonCommand(CmdForceStop);
    user.join();
    ASSERT_TRUE(answered);
    EXPECT_EQ(LastDaemonIndex(), 0) << "the end of the session unloaded the daemon under the box";
    EXPECT_TRUE(FreedBlockWatch::IsUntouched(record, requestOffset, sizeof(int32_t)))
        << "the answer was written into the freed record";
}

TEST_F(EndSessionTest, SeveralDaemonsWhileAMenuIsBuiltAreAskedButNothingIsUnloaded) {
    Daemon* cooperative = Run(L"cooperative");
    Daemon* wordless = Run(L"only_entry");
    ASSERT_TRUE(cooperative && wordless);
    const std::wstring cooperativePath = cooperative->path;

    // As if a daemon's EntryMenu, running on this thread, were waiting for its own thread.
    HMENU popup = BeginPopupMenu(nullptr);
    ASSERT_NE(popup, nullptr);
    EndSession(1000);
    EXPECT_TRUE(HasEvent(cooperativePath, "return")) << "asked, and given the time to return";
    EXPECT_EQ(LastDaemonIndex(), 2) << "nothing is unloaded while a daemon's code may be running here";
    EXPECT_TRUE(IsModuleLoaded(cooperativePath));
    EXPECT_TRUE(IsQuitting());
    EndPopupMenu();
    DestroyMenu(popup);

    // Once back in the event loop the reaper unloads what has ended.
    int position = 0;
    for (int i = 0; i < 4 && LastDaemonIndex() > 0; ++i) ReapOneDaemon(position);
    EXPECT_EQ(LastDaemonIndex(), 0);
    EXPECT_TRUE(WaitForLibraryFreed(cooperativePath));
}

}  // namespace
}  // namespace kestrune::test
