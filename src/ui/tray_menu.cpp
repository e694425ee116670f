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

namespace kestrune {
namespace {

void ExploreHostFolder() {
    wchar_t program[MAX_PATH * 4];
    DWORD length = GetModuleFileNameW(nullptr, program, static_cast<DWORD>(std::size(program)));
    if (length == 0 || length >= std::size(program)) return;
    std::wstring folder = FolderOfPath(std::wstring(program, length));
    if (!folder.empty()) ShellExecuteW(nullptr, L"open", folder.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

}  // namespace

HMENU BuildTrayMenu() {
    if (IsQuitting()) return nullptr;
    HMENU popup = BeginPopupMenu(DispatchMenuCommand);
    if (!popup) return nullptr;
    int withMenu = 0;
    for (size_t i = 1; i < app.DaemonTable.size(); ++i) {
        Daemon* daemon = app.DaemonTable[i];
        if (!daemon || !daemon->entryMenuAddress) continue;
        ++withMenu;
        int32_t base = DaemonMenuBase + TrayDaemonMenuStride * static_cast<int32_t>(i);
        MergeDaemonMenu(popup, daemon, MenuPlacementTray, base);
    }
    if (withMenu > 0) AddMenuSeparator();
    AddMenuItem(TrayExplore, L"Explore", true);
    AddMenuItem(TrayAbout, L"About program...", true);
    AddMenuItem(TrayQuit, L"Quit Kestrune", true);
    EndPopupMenu();
    return popup;
}

void ShowTrayMenu() {
    MenuOwner popup(BuildTrayMenu());
    if (popup) TrackPopupAtCursor(popup.get(), app.mainWindow);
}

void HandleTrayCommand(int id) {
    switch (id) {
    case TrayExplore:
        ExploreHostFolder();
        break;
    case TrayAbout:
        ShowAboutWindow(L"About Kestrune", 800, 600);
        break;
    case TrayQuit:
        // Handled by the event loop exactly like closing the main window.
        PostMessageW(app.mainWindow, WM_CLOSE, 0, 0);
        break;
    default:
        break;
    }
}

}  // namespace kestrune
