// Menus that daemons supply: merged into the host's popups under a private identifier
// range, and the chosen command sent back to the daemon's window with its own identifier.
#pragma once

#include <windows.h>

#include <cstdint>
#include <vector>

#include "core/daemon_record.h"
#include "identifiers.h"

namespace kestrune {

// A range of daemon menu identifiers and the daemon window that receives them.
struct MenuRoute {
    int32_t firstId = 0;
    int32_t lastId = 0;
    HWND window = nullptr;  // the daemon's window, not owned
};

struct MenuRouting {
    int32_t MenuRouteCount = 0;
    // 1-based; slot 0 never holds an entry.
    std::vector<MenuRoute> MenuRoutes = std::vector<MenuRoute>(1);
};

// Adds the daemon's own menu, or a greyed empty stand-in captioned with its file name,
// to popup. Asks EntryMenu only while the daemon runs unpaused and the host is not quitting.
void MergeDaemonMenu(HMENU popup, Daemon* daemon, INT_PTR placement, int32_t base);

// Adds base to every non-popup item's identifier at any depth; returns the highest
// identifier written, at least base.
int32_t RenumberMenuIds(HMENU menu, int32_t base);

// Posts the command to the window of the newest route whose range holds id, then
// empties the route table, whatever id was.
void RouteMenuCommand(int32_t id);

// Only an existing window of this process may receive a daemon command: a null handle
// would post to the calling thread, HWND_BROADCAST to every top-level window, and a
// stale handle may by now name another program's window.
bool CanReceiveDaemonCommand(HWND window);

}  // namespace kestrune
