#include "application.h"
#include "identifiers.h"
#include "fault/source_position.h"

namespace kestrune {

Application app;

void ResetApplication() {
    LN app.trayIcon = nullptr;
    LN app.windowShown = 0;
    LN app.taskbarCreatedMessage = 0;
    LN app.quitting.store(0, std::memory_order_relaxed);
    LN app.AboutText = nullptr;
    LN app.AboutWindow = nullptr;
    LN app.mainWindow = nullptr;
    LN app.trayIconPresent = 0;
    LN app.trayTooltip.clear();
    LN app.menuHandler = nullptr;
    LN app.MenuRouteCount = 0;
    LN app.trayIconId = TrayIconId;
    LN app.menuUnderConstruction = nullptr;
    LN app.scan = ScanState{};
    LN app.DiscoveredPaths.assign(1, std::wstring());
    LN app.DaemonTable.assign(1, nullptr);
    LN app.MenuRoutes.assign(1, MenuRoute{});
}

bool IsQuitting() {
    LN return app.quitting.load(std::memory_order_relaxed) != 0;
}

int LastDaemonIndex() {
    LN return static_cast<int>(app.DaemonTable.size()) - 1;
}

}  // namespace kestrune
