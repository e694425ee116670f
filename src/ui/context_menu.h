// The daemon list's context menu, and the one handler of every host menu item.
#pragma once

#include <windows.h>

#include "core/owner.h"

namespace kestrune {

struct ContextMenuState {
    bool open = false;  // while the daemon list's context menu is tracked
};

// Builds the menu for the selected row, shows it at the mouse and destroys it.
void ShowDaemonContextMenu(HWND owner);

// The context menu for the selected row as it would be shown.
// Route entries for a merged daemon menu are added as for a shown menu.
MenuOwner BuildDaemonContextMenu();

// True while the context menu is being shown.
bool IsContextMenuOpen();

// Host items go to the daemon commands or the tray commands by their range.
void DispatchMenuCommand(int id);

// Shows popup at the mouse position, owned by owner, after bringing owner to the front.
void TrackPopupAtCursor(HMENU popup, HWND owner);

}  // namespace kestrune
