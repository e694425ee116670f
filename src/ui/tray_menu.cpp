#include "tray_menu.h"

#include <shellapi.h>

#include <string>

#include "../core/application.h"
#include "../core/commands.h"
#include "../core/owner.h"
#include "about_window.h"
#include "context_menu.h"
#include "daemon_menus.h"
#include "menu_builder.h"
#include "fault/source_position.h"

namespace kestrune {
namespace {

void ExploreHostFolder() {
    LN wchar_t program[MAX_PATH * 4];
    LN DWORD length = GetModuleFileNameW(nullptr, program, static_cast<DWORD>(std::size(program)));
    LN if (length == 0 || length >= std::size(program)) return;
    LN std::wstring folder = FolderOfPath(std::wstring(program, length));
    LN if (!folder.empty()) ShellExecuteW(nullptr, L"open", folder.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

}  // namespace

HMENU BuildTrayMenu() {
    LN if (IsQuitting()) return nullptr;
    LN HMENU popup = BeginPopupMenu(DispatchMenuCommand);
    LN if (!popup) return nullptr;
    LN int withMenu = 0;
    LN for (size_t i = 1; i < app.DaemonTable.size(); ++i) {
        LN Daemon* daemon = app.DaemonTable[i];
        LN if (!daemon || !daemon->entryMenuAddress) continue;
        LN ++withMenu;
        // Ranges go to the daemons that offer a menu, in table order: by table position, the
        // range of a daemon past the 247th would pass the 16 bits a menu command carries.
        LN int32_t base = DaemonMenuBase + TrayDaemonMenuStride * withMenu;
        LN MergeDaemonMenu(popup, daemon, MenuPlacementTray, base);
    }
    LN if (withMenu > 0) AddMenuSeparator();
    LN AddMenuItem(TrayExplore, L"Explore", true);
    LN AddMenuItem(TrayAbout, L"About program...", true);
    LN AddMenuItem(TrayQuit, L"Quit Kestrune", true);
    LN EndPopupMenu();
    LN return popup;
}

void ShowTrayMenu() {
    LN MenuOwner popup(BuildTrayMenu());
    LN if (popup) TrackPopupAtCursor(popup.get(), app.mainWindow);
}

void HandleTrayCommand(int id) {
    LN switch (id) {
    case TrayExplore:
        LN ExploreHostFolder();
        break;
    case TrayAbout:
        LN ShowAboutWindow(L"About Kestrune", 800, 600);
        break;
    case TrayQuit:
        // Handled by the event loop exactly like closing the main window.
        LN PostMessageW(app.mainWindow, WM_CLOSE, 0, 0);
        break;
    default:
        break;
    }
}

}  // namespace kestrune
