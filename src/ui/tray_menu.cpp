#include "ui/tray_menu.h"

#include <windows.h>

#include <shellapi.h>

#include <string>

#include "core/application.h"
#include "core/commands.h"
#include "core/owner.h"
#include "core/program_path.h"
#include "ui/about_window.h"
#include "ui/context_menu.h"
#include "ui/daemon_menus.h"
#include "ui/menu_builder.h"
#include "ui/ui_state.h"

#include "fault/source_position.h"

namespace kestrune {
namespace {

void ExploreHostFolder() {
    LN std::wstring folder = FolderOfPath(ProgramPath());
    LN if (!folder.empty()) ShellExecuteW(nullptr, L"open", folder.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

}  // namespace

MenuOwner BuildTrayMenu() {
    LN if (IsQuitting()) return {};
    LN MenuOwner popup(BeginPopupMenu(DispatchMenuCommand));
    LN if (!popup) return popup;
    LN int withMenu = 0;
    LN for (size_t i = 1; i < app.DaemonTable.size(); ++i) {
        LN Daemon* daemon = app.DaemonTable[i].get();
        LN if (!daemon->entryMenuAddress) continue;
        LN ++withMenu;
        // Ranges go to the daemons that offer a menu, in table order: by table position, the
        // range of a daemon past the 247th would pass the 16 bits a menu command carries.
        LN int32_t base = DaemonMenuBase + TrayDaemonMenuStride * withMenu;
        LN MergeDaemonMenu(popup.get(), daemon, MenuPlacementTray, base);
    }
    LN if (withMenu > 0) AddMenuSeparator();
    LN AddMenuItem(TrayExplore, L"Explore", true);
    LN AddMenuItem(TrayAbout, L"About program...", true);
    LN AddMenuItem(TrayQuit, L"Quit Kestrune", true);
    LN EndPopupMenu();
    LN return popup;
}

void ShowTrayMenu() {
    LN const MenuOwner popup = BuildTrayMenu();
    LN if (popup) TrackPopupAtCursor(popup.get(), ui.main.mainWindow.get());
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
        LN PostMessageW(ui.main.mainWindow.get(), WM_CLOSE, 0, 0);
        break;
    default:
        break;
    }
}

}  // namespace kestrune
