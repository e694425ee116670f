// The reaper: one daemon visited per timer tick, finished daemons taken out of the table.
#pragma once

#include <windows.h>

namespace kestrune {

constexpr UINT_PTR ReaperTimerId = 5;
constexpr UINT QuittingReaperPeriod = 4;

// 512 / (n + 1) ms for n daemons: a full pass takes just under half a second.
UINT ReaperPeriod(int daemonCount);

enum class ReapResult {
    Idle,     // no daemon loaded
    Kept,     // the visited daemon stays
    Removed,  // the visited daemon finished and left the table
    Finish,   // quitting with an empty table: the event loop is to end
};

// One tick: advances position, visits that daemon, and removes it from the
// table when it has finished.
ReapResult ReapOneDaemon(int& position);

// Sets the reaper timer of window for the current number of daemons (4 ms while quitting).
void ArmReaperTimer(HWND window);

}  // namespace kestrune
