#include "ui/daemon_menus.h"

#include "core/application.h"
#include "ui/menu_builder.h"
#include "ui/ui_state.h"

#include "fault/source_position.h"

namespace kestrune {
namespace {

// Real menus are a few levels deep; a menu that contains itself must not recurse forever.
constexpr int MaxMenuDepth = 32;

bool MayAskDaemon(const Daemon& daemon) {
    LN return daemon.Has(FlagStarted) && !daemon.Has(FlagPaused) && !daemon.Has(FlagStopping) && !IsQuitting();
}

void AddGreyedStandIn(const Daemon& daemon) {
    LN OpenSubmenu(daemon.fileName.c_str(), false);
    LN CloseSubmenu();
}

void AddRoute(HWND window, int32_t firstId, int32_t lastId) {
    LN ui.routing.MenuRouteCount += 1;
    LN ui.routing.MenuRoutes.resize(static_cast<size_t>(ui.routing.MenuRouteCount) + 1);
    LN ui.routing.MenuRoutes.back() = MenuRoute{firstId, lastId, window};
}

// Calls visit(menu, position, id) for every command item at any depth; popup items keep
// their identifiers and are not visited.
template <typename Visit>
void WalkCommandItems(HMENU menu, Visit&& visit, int depth = 0) {
    LN if (depth > MaxMenuDepth) return;
    LN for (UINT position = 0;; ++position) {
        LN MENUITEMINFOW item{};
        LN item.cbSize = sizeof item;
        LN item.fMask = MIIM_ID | MIIM_SUBMENU;
        LN if (!GetMenuItemInfoW(menu, position, TRUE, &item)) return;
        LN if (item.hSubMenu) {
            LN WalkCommandItems(item.hSubMenu, visit, depth + 1);
        } else {
            LN visit(menu, position, item.wID);
        }
    }
}

bool FitsAbove(HMENU menu, int32_t base) {
    LN UINT highest = 0;
    LN WalkCommandItems(menu, [&](HMENU, UINT, UINT id) { LN if (id > highest) highest = id; });
    LN return DaemonMenuIds.Holds(static_cast<int64_t>(base) + highest);
}

}  // namespace

void MergeDaemonMenu(HMENU popup, Daemon* daemon, INT_PTR placement, int32_t base) {
    LN if (!daemon || !daemon->entryMenuAddress) return;
    LN if (!MayAskDaemon(*daemon) || !DaemonMenuIds.Holds(base)) {
        LN AddGreyedStandIn(*daemon);
        LN return;
    }
    LN HMENU menu = nullptr;
    LN HWND window = nullptr;
    LN int result = daemon->entryMenuAddress(&menu, &window, placement);
    // A handle that is not a menu (null included) would be appended as a plain item whose
    // identifier is the handle's value: treated as no menu.
    // A menu whose identifiers would not fit above base is shown as the stand-in too.
    LN if (result == 1 && IsMenu(menu) && FitsAbove(menu, base) &&
           AppendMenuW(popup, MF_POPUP | MF_STRING, reinterpret_cast<UINT_PTR>(menu), daemon->fileName.c_str())) {
        LN AddRoute(window, base, RenumberMenuIds(menu, base));
        LN return;
    }
    LN AddGreyedStandIn(*daemon);
    LN if (menu) DestroyMenu(menu);
}

int32_t RenumberMenuIds(HMENU menu, int32_t base) {
    LN int32_t highest = base;
    LN WalkCommandItems(menu, [&](HMENU owner, UINT position, UINT id) {
        LN MENUITEMINFOW item{};
        LN item.cbSize = sizeof item;
        LN item.fMask = MIIM_ID;
        LN const int32_t shifted = base + static_cast<int32_t>(id);
        LN item.wID = static_cast<UINT>(shifted);
        LN SetMenuItemInfoW(owner, position, TRUE, &item);
        LN if (shifted > highest) highest = shifted;
    });
    LN return highest;
}

bool CanReceiveDaemonCommand(HWND window) {
    LN if (!window || window == HWND_BROADCAST || !IsWindow(window)) return false;
    LN DWORD process = 0;
    LN GetWindowThreadProcessId(window, &process);
    LN return process == GetCurrentProcessId();
}

void RouteMenuCommand(int32_t id) {
    LN for (int32_t k = ui.routing.MenuRouteCount; k >= 1; --k) {
        LN const MenuRoute& route = ui.routing.MenuRoutes[static_cast<size_t>(k)];
        LN if (route.firstId <= id && id <= route.lastId) {
            LN if (CanReceiveDaemonCommand(route.window)) {
                LN PostMessageW(route.window, WM_COMMAND, static_cast<WPARAM>(id - route.firstId), 0);
            }
            break;
        }
    }
    LN ui.routing.MenuRouteCount = 0;
    LN ui.routing.MenuRoutes.assign(1, MenuRoute{});
}

}  // namespace kestrune
