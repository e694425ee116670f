#include "ui/close_sequence.h"

#include <windows.h>

#include <algorithm>

#include "core/application.h"
#include "core/clock.h"
#include "core/daemon_table.h"
#include "core/library_release.h"
#include "core/lifecycle.h"
#include "core/loader.h"
#include "ui/daemon_list.h"
#include "ui/ui_state.h"

#include "fault/source_position.h"

namespace kestrune {
namespace {

// A daemon that sends to the host's windows while it cleans up is answered; posted
// messages wait, so no timer, input or command runs before the session has ended.
void WaitAnsweringSentMessages(DWORD milliseconds) {
    LN if (MsgWaitForMultipleObjects(0, nullptr, FALSE, milliseconds, QS_SENDMESSAGE) != WAIT_OBJECT_0) return;
    LN MSG message;
    LN PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
}

// The time the ends at the session's deadline have to find their safe points.
constexpr uint64_t EndSessionEndTime = 2000;
// How often the quarantines are looked at during the exit, and how far past the close's bound
// they may take it.
constexpr DWORD QuarantineReview = 10;
constexpr uint64_t QuarantineAfterCloseLimit = 200;

bool IsPastDeadline(uint64_t deadline) {
    LN return ClockMilliseconds() >= deadline;
}

// One reaper step for every daemon loaded when the pass began.
void RunReaperPass(int& position) {
    LN for (int steps = LastDaemonIndex(); steps > 0 && LastDaemonIndex() > 0; --steps) ReapOneDaemon(position);
}

// What is left at the deadline is finished as a daemon whose grace has run out, at the first
// point where it holds none of the locks the host needs; what finds none within the end's own
// time is left in the process as it stands, which the system is about to end.
void FinishRemainingByForce(int& position) {
    LN for (size_t i = 1; i < app.DaemonTable.size(); ++i) HastenEnd(app.DaemonTable[i].get());
    LN const uint64_t deadline = ClockMilliseconds() + EndSessionEndTime;
    LN while (LastDaemonIndex() > 0 && !IsPastDeadline(deadline)) ReapOneDaemon(position);
    LN while (LastDaemonIndex() > 0) {
        LN AbandonDaemon(TakeOutOfTable(app.DaemonTable[static_cast<size_t>(LastDaemonIndex())].get()));
    }
}

void ReapUntil(uint64_t deadline) {
    LN int position = 0;
    LN while (LastDaemonIndex() > 0 && !IsPastDeadline(deadline)) {
        LN RunReaperPass(position);
        LN if (LastDaemonIndex() > 0) WaitAnsweringSentMessages(QuittingReaperPeriod);
    }
    LN FinishRemainingByForce(position);
}

bool IsAnyDaemonThreadAlive() {
    LN for (size_t i = 1; i < app.DaemonTable.size(); ++i) {
        LN if (IsThreadAlive(app.DaemonTable[i]->thread.get())) return true;
    }
    LN return false;
}

// The state words are written as a stop request would write them, but nothing is
// unloaded: the code of the daemon being asked for its menu is still running here.
void AskWithoutUnloading(uint64_t deadline) {
    LN for (size_t i = 1; i < app.DaemonTable.size(); ++i) {
        LN Daemon* daemon = app.DaemonTable[i].get();
        LN if (!daemon->Has(FlagStarted) || daemon->Has(FlagStopping)) continue;
        LN if (daemon->Has(FlagPaused)) {
            LN daemon->flags &= ~FlagPaused;
            LN ResumeThreadFully(daemon->thread.get());
        }
        LN WriteStateWord(daemon, StateWordStop);
    }
    LN while (IsAnyDaemonThreadAlive() && !IsPastDeadline(deadline)) WaitAnsweringSentMessages(QuittingReaperPeriod);
}

}  // namespace

void RunCloseSequence() {
    LN for (size_t i = 1; i < app.DaemonTable.size(); ++i) SetDaemonRequest(app.DaemonTable[i].get(), RequestStop);
    LN app.quitting.store(1, std::memory_order_relaxed);
    LN app.closeStartedAt = ClockMilliseconds();
    LN if (!ui.main.windowShown) HoldListDrawing();
    LN ArmReaperTimer(ui.main.mainWindow.get());
}

void FinishQuarantines() {
    LN const uint64_t bound = app.closeStartedAt + CloseLimit + QuarantineAfterCloseLimit;
    LN const uint64_t deadline = std::min(ClockMilliseconds() + QuarantinePeriod + QuarantineReview, bound);
    LN for (;;) {
        LN ReviewQuarantine();
        LN if (!HasQuarantinedLibraries() || IsPastDeadline(deadline)) return;
        LN WaitAnsweringSentMessages(QuarantineReview);
    }
}

void EndSession(uint32_t allowance) {
    // Sent messages are answered while it waits: never run it twice at once.
    LN if (ui.close.sessionEnding) return;
    LN ui.close.sessionEnding = true;
    LN app.endingSession = true;
    LN const uint64_t deadline = ClockMilliseconds() + allowance;
    LN if (!IsQuitting()) RunCloseSequence();
    LN if (IsBuildingMenu()) {
        LN AskWithoutUnloading(deadline);
    } else {
        LN ReapUntil(deadline);
    }
    LN ui.close.sessionEnding = false;
    LN app.endingSession = false;
}

}  // namespace kestrune
