// The reaper: daemons visited in turn on a timer, finished daemons taken out of the table.
#pragma once

#include <windows.h>

#include <cstdint>

#include "core/lifecycle.h"
#include "identifiers.h"

namespace kestrune {

constexpr UINT QuittingReaperPeriod = 4;

// No window timer fires more often than this (Windows and Wine alike), whatever it asks for.
constexpr UINT TimerFloor = USER_TIMER_MINIMUM;

// Where the reaper stands in the table, and when its timer last ticked.
struct ReaperState {
    int position = 0;
    uint64_t lastTick = 0;
};

// 512 / (n + 1) ms for n daemons: a full pass takes just under half a second.
UINT ReaperPeriod(int daemonCount);

// The period the reaper timer is set to: the designed one where the timer can keep it, else
// a longer one whose ticks each make a batch of visits (ReaperBatch); 4 ms, or the floor,
// while quitting.
UINT ReaperTimerPeriod(int daemonCount, bool quitting);

// How many daemons one tick visits, sinceLastTick ms after the one before (see ReapDaemons).
int ReaperBatch(int daemonCount, bool quitting, uint32_t sinceLastTick);

// One visit of the reaper: the daemon's tick, with its row rewritten when the tick changed
// something and given its final look before an unload.
TickResult VisitDaemon(Daemon* daemon);

enum class ReapResult {
    Idle,     // no daemon loaded
    Kept,     // the visited daemons stay
    Removed,  // at least one visited daemon finished and left the table
    Finish,   // quitting with an empty table: the event loop is to end
};

// One visit: advances position, visits that daemon, and removes it from the table when
// it has finished.
ReapResult ReapOneDaemon(int& position);

// One tick, sinceLastTick ms after the one before: ReaperBatch visits in table order from
// position, each as ReapOneDaemon.
ReapResult ReapDaemons(int& position, uint32_t sinceLastTick = TimerFloor);

// Sets the reaper timer of window for the current number of daemons (4 ms while quitting).
void ArmReaperTimer(HWND window);

}  // namespace kestrune
