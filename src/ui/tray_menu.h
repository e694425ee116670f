// The tray icon's menu: every daemon's own menu, then the host's folder, About and quit.
#pragma once

#include <windows.h>

#include "identifiers.h"

namespace kestrune {


// Builds, shows and destroys the tray menu; nothing while the host is quitting.
void ShowTrayMenu();

// The tray menu as it would be shown, or 0 while quitting; the caller owns it.
HMENU BuildTrayMenu();

// 21 "Explore", 22 "About program...", 23 "Quit Kestrune"; other identifiers do nothing.
void HandleTrayCommand(int id);

}  // namespace kestrune
