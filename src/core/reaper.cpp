#include "reaper.h"

#include <utility>

#include "application.h"
#include "lifecycle.h"

namespace kestrune {

UINT ReaperPeriod(int daemonCount) {
    return static_cast<UINT>(512 / (daemonCount + 1));
}

ReapResult ReapOneDaemon(int& position) {
    int last = LastDaemonIndex();
    if (last == 0) return IsQuitting() ? ReapResult::Finish : ReapResult::Idle;
    if (++position > last) position = 1;
    if (TickDaemon(app.DaemonTable[static_cast<size_t>(position)])) return ReapResult::Kept;
    // The record is gone; the last entry takes its slot and is visited after the position wraps.
    std::swap(app.DaemonTable[static_cast<size_t>(position)], app.DaemonTable[static_cast<size_t>(last)]);
    app.DaemonTable.pop_back();
    return ReapResult::Removed;
}

void ArmReaperTimer(HWND window) {
    if (!window) return;
    KillTimer(window, ReaperTimerId);
    UINT period = IsQuitting() ? QuittingReaperPeriod : ReaperPeriod(LastDaemonIndex());
    SetTimer(window, ReaperTimerId, period, nullptr);
}

}  // namespace kestrune
