#include "core/application.h"

#include "core/check.h"
#include "core/clock.h"
#include "core/lifecycle.h"

#include "fault/source_position.h"

namespace kestrune {

Application app;

void ResetApplication() {
    // Records still in the table would be lost with their threads and libraries.
    KESTRUNE_CHECK(LastDaemonIndex() <= 0);
    LN app.quitting.store(0, std::memory_order_relaxed);
    LN app.closeStartedAt = 0;
    LN app.endingSession = false;
    LN ResetPauseAllowance();
    LN app.scan = ScanState{};
    LN app.DiscoveredPaths.assign(1, std::wstring());
    // A record still here may still run: it is left to the process rather than freed under it.
    LN for (DaemonOwner& daemon : app.DaemonTable) static_cast<void>(daemon.release());
    LN app.DaemonTable.resize(1);
}

bool IsQuitting() {
    LN return app.quitting.load(std::memory_order_relaxed) != 0;
}

bool IsPastCloseLimit() {
    LN return IsQuitting() && ClockMilliseconds() - app.closeStartedAt > CloseLimit;
}

int LastDaemonIndex() {
    LN return static_cast<int>(app.DaemonTable.size()) - 1;
}

}  // namespace kestrune
