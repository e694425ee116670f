#include "application.h"

namespace kestrune {

Application app;

void ResetApplication() {
    app.trayIcon = nullptr;
    app.windowShown = 0;
    app.taskbarCreatedMessage = 0;
    app.quitting.store(0, std::memory_order_relaxed);
    app.AboutText = nullptr;
    app.AboutWindow = nullptr;
    app.mainWindow = nullptr;
    app.trayIconPresent = 0;
    app.trayTooltip.clear();
    app.menuHandler = nullptr;
    app.MenuRouteCount = 0;
    app.trayIconId = 0;
    app.menuUnderConstruction = nullptr;
    app.scan = ScanState{};
    app.DiscoveredPaths.assign(1, std::wstring());
    app.DaemonTable.assign(1, nullptr);
    app.MenuRoutes.assign(1, MenuRoute{});
}

bool IsQuitting() {
    return app.quitting.load(std::memory_order_relaxed) != 0;
}

int LastDaemonIndex() {
    return static_cast<int>(app.DaemonTable.size()) - 1;
}

}  // namespace kestrune
