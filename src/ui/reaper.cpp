#include "ui/reaper.h"

#include <algorithm>
#include <utility>

#include "core/application.h"
#include "core/check.h"
#include "core/clock.h"
#include "core/daemon_table.h"
#include "core/library_release.h"
#include "core/loader.h"
#include "core/thread_end_watch.h"
#include "ui/daemon_rows.h"

#include "fault/source_position.h"

namespace kestrune {
namespace {

constexpr int FullPassMilliseconds = 512;

// The most main-thread time one tick gives its visits before the window's messages come first.
constexpr uint64_t TickBudget = 100;

// Below the floor every tick already stands for several of the designed ones, and the batch
// follows the time since the last tick: ticking at 50 ms instead of at the floor keeps a pass
// under 512 ms and wakes an idle host a fifth as often.
constexpr UINT BatchedTickPeriod = 50;

// A visit would change nothing: no request to apply, no stop under way, no pause or end
// waiting for a safe point, and the thread is either not started or known to run. Knowing
// it runs costs no liveness wait, which at a thousand daemons would be most of what the
// idle host does. A pause or an end that waits looks again at every visit.
bool IsQuietVisit(const Daemon& daemon) {
    LN if (daemon.request != RequestNone || daemon.Has(FlagStopping)) return false;
    LN if (daemon.pauseWaiting || daemon.ending) return false;
    LN if (!daemon.Has(FlagStarted)) return true;
    LN return IsWatchedAndRunning(daemon.threadEnd);
}

void ShowFinalRow(Daemon* daemon) {
    LN RefreshDaemonRow(daemon, true);
}

}  // namespace

TickResult VisitDaemon(Daemon* daemon) {
    LN const TickResult result = TickDaemon(daemon, ShowFinalRow);
    LN if (result == TickChanged) RefreshDaemonRow(daemon, false);
    LN return result;
}

UINT ReaperPeriod(int daemonCount) {
    LN return static_cast<UINT>(FullPassMilliseconds / (daemonCount + 1));
}

UINT ReaperTimerPeriod(int daemonCount, bool quitting) {
    LN if (quitting) return std::max(QuittingReaperPeriod, TimerFloor);
    LN const UINT designed = ReaperPeriod(daemonCount);
    LN return designed >= TimerFloor ? designed : BatchedTickPeriod;
}

// The design spreads the visits over ticks of 512 / (n + 1) ms, one daemon a tick, so that
// a command reaches its daemon within half a second. Below the timer floor those ticks
// never come: from 51 daemons on a pass would take n x 10 ms, ten seconds at a thousand.
// So a tick does the visits of the designed ticks it stands for, in the time since the last
// one (at least the floor's worth): as many as keep a full pass under 512 ms, and while
// quitting at least as many as 4 ms ticks would have made. A tick that comes late (a busy
// machine, a modal loop) so makes up for the time it lost, and a pass stays under half a
// second of the clock. No daemon is visited twice in one tick.
int ReaperBatch(int daemonCount, bool quitting, uint32_t sinceLastTick) {
    LN if (daemonCount <= 0) return 0;
    LN const int64_t since = std::max<int64_t>(sinceLastTick, TimerFloor);
    LN int64_t batch = 1;
    LN if (ReaperPeriod(daemonCount) < TimerFloor) {
        // Ticks this far apart that still fit a full pass under 512 ms: 51 at the floor.
        LN const int64_t ticksPerPass = std::max<int64_t>((FullPassMilliseconds - 1) / since, 1);
        LN batch = (daemonCount + ticksPerPass - 1) / ticksPerPass;
    }
    LN if (quitting) batch = std::max<int64_t>(batch, (since + QuittingReaperPeriod - 1) / QuittingReaperPeriod);
    LN return static_cast<int>(std::min<int64_t>(batch, daemonCount));
}

ReapResult ReapOneDaemon(int& position) {
    LN int last = LastDaemonIndex();
    LN if (last == 0) return IsQuitting() ? ReapResult::Finish : ReapResult::Idle;
    KESTRUNE_CHECK(position >= 0 && position <= last + 1);
    LN if (++position > last) position = 1;
    LN Daemon* daemon = app.DaemonTable[static_cast<size_t>(position)].get();
    LN if (IsPastCloseLimit()) {
        LN ShowFinalRow(daemon);
        LN AbandonDaemon(TakeOutOfTable(daemon));
        LN return ReapResult::Removed;
    }
    LN if (IsQuietVisit(*daemon)) return ReapResult::Kept;
    LN if (VisitDaemon(daemon) != TickUnloaded) {
        LN if (daemon->Has(FlagStarted)) WatchThreadEnd(daemon->threadEnd, daemon->thread.get());
        LN return ReapResult::Kept;
    }
    // The record is gone and out of the table; the last entry took its slot and is visited
    // after the position wraps.
    LN return ReapResult::Removed;
}

ReapResult ReapDaemons(int& position, uint32_t sinceLastTick) {
    LN ReviewQuarantine();
    LN int visits = ReaperBatch(LastDaemonIndex(), IsQuitting(), sinceLastTick);
    LN if (visits == 0) return ReapOneDaemon(position);
    LN ReapResult result = ReapResult::Kept;
    // A visit that waits for a safe point takes tens of milliseconds: many of them in one tick
    // would keep the window from answering, so the rest wait for the next tick.
    LN const uint64_t started = ClockMilliseconds();
    LN for (int i = 0; i < visits && LastDaemonIndex() > 0 && ClockMilliseconds() - started < TickBudget; ++i) {
        LN if (ReapOneDaemon(position) == ReapResult::Removed) result = ReapResult::Removed;
    }
    LN return result;
}

void ArmReaperTimer(HWND window) {
    LN if (!window) return;
    LN KillTimer(window, ReaperTimerId);
    LN SetTimer(window, ReaperTimerId, ReaperTimerPeriod(LastDaemonIndex(), IsQuitting()), nullptr);
}

}  // namespace kestrune
