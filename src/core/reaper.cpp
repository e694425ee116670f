#include "reaper.h"

#include <utility>

#include "application.h"
#include "lifecycle.h"
#include "../fault/source_position.h"

namespace kestrune {

UINT ReaperPeriod(int daemonCount) {
    LN return static_cast<UINT>(512 / (daemonCount + 1));
}

ReapResult ReapOneDaemon(int& position) {
    LN int last = LastDaemonIndex();
    LN if (last == 0) return IsQuitting() ? ReapResult::Finish : ReapResult::Idle;
    LN if (++position > last) position = 1;
    LN if (TickDaemon(app.DaemonTable[static_cast<size_t>(position)])) return ReapResult::Kept;
    // The record is gone; the last entry takes its slot and is visited after the position wraps.
    LN std::swap(app.DaemonTable[static_cast<size_t>(position)], app.DaemonTable[static_cast<size_t>(last)]);
    LN app.DaemonTable.pop_back();
    LN return ReapResult::Removed;
}

void ArmReaperTimer(HWND window) {
    LN if (!window) return;
    LN KillTimer(window, ReaperTimerId);
    LN UINT period = IsQuitting() ? QuittingReaperPeriod : ReaperPeriod(LastDaemonIndex());
    LN SetTimer(window, ReaperTimerId, period, nullptr);
}

}  // namespace kestrune
