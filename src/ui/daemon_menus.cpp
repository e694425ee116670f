#include "daemon_menus.h"

#include "../core/application.h"
#include "menu_builder.h"

namespace kestrune {
namespace {

// Real menus are a few levels deep; a menu that contains itself must not recurse forever.
constexpr int MaxMenuDepth = 32;

bool MayAskDaemon(const Daemon& daemon) {
    return daemon.Has(FlagStarted) && !daemon.Has(FlagPaused) && !daemon.Has(FlagStopping) && !IsQuitting();
}

void AddGreyedStandIn(const Daemon& daemon) {
    OpenSubmenu(daemon.fileName.c_str(), false);
    CloseSubmenu();
}

void AddRoute(HWND window, int32_t firstId, int32_t lastId) {
    app.MenuRouteCount += 1;
    app.MenuRoutes.resize(static_cast<size_t>(app.MenuRouteCount) + 1);
    app.MenuRoutes.back() = MenuRoute{firstId, lastId, window};
}

void RenumberWalk(HMENU menu, int32_t base, int32_t& highest, int depth) {
    if (highest < base) highest = base;
    if (depth > MaxMenuDepth) return;
    for (UINT position = 0;; ++position) {
        MENUITEMINFOW item{};
        item.cbSize = sizeof item;
        item.fMask = MIIM_ID | MIIM_SUBMENU;
        if (!GetMenuItemInfoW(menu, position, TRUE, &item)) return;
        if (item.hSubMenu) {
            RenumberWalk(item.hSubMenu, base, highest, depth + 1);  // the popup item keeps its identifier
            continue;
        }
        int32_t shifted = base + static_cast<int32_t>(item.wID);
        item.fMask = MIIM_ID;
        item.wID = static_cast<UINT>(shifted);
        SetMenuItemInfoW(menu, position, TRUE, &item);
        if (shifted > highest) highest = shifted;
    }
}

}  // namespace

void MergeDaemonMenu(HMENU popup, Daemon* daemon, INT_PTR placement, int32_t base) {
    if (!daemon || !daemon->entryMenuAddress) return;
    if (!MayAskDaemon(*daemon)) {
        AddGreyedStandIn(*daemon);
        return;
    }
    HMENU menu = nullptr;
    HWND window = nullptr;
    int result = daemon->entryMenuAddress(&menu, &window, placement);
    // A handle that is not a menu (null included) would be appended as a plain item whose
    // identifier is the handle's value: treated as no menu.
    if (result == 1 && IsMenu(menu) && AppendMenuW(popup, MF_POPUP | MF_STRING, reinterpret_cast<UINT_PTR>(menu),
                                   daemon->fileName.c_str())) {
        AddRoute(window, base, RenumberMenuIds(menu, base));
        return;
    }
    AddGreyedStandIn(*daemon);
    if (menu) DestroyMenu(menu);
}

int32_t RenumberMenuIds(HMENU menu, int32_t base) {
    int32_t highest = 0;
    RenumberWalk(menu, base, highest, 0);
    return highest;
}

bool CanReceiveDaemonCommand(HWND window) {
    if (!window || window == HWND_BROADCAST || !IsWindow(window)) return false;
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    return process == GetCurrentProcessId();
}

void RouteMenuCommand(int32_t id) {
    for (int32_t k = app.MenuRouteCount; k >= 1; --k) {
        const MenuRoute& route = app.MenuRoutes[static_cast<size_t>(k)];
        if (route.firstId <= id && id <= route.lastId) {
            if (CanReceiveDaemonCommand(route.window)) {
                PostMessageW(route.window, WM_COMMAND, static_cast<WPARAM>(id - route.firstId), 0);
            }
            break;
        }
    }
    app.MenuRouteCount = 0;
    app.MenuRoutes.assign(1, MenuRoute{});
}

}  // namespace kestrune
