// The tray icon's menu: every daemon's own menu, then the host's folder, About and quit.
#pragma once

#include <windows.h>

#include "core/owner.h"
#include "identifiers.h"

namespace kestrune {

// Builds, shows and destroys the tray menu; nothing while the host is quitting.
void ShowTrayMenu();

// The tray menu as it would be shown, or none while quitting.
MenuOwner BuildTrayMenu();

// "Explore", "About program..." and "Quit Kestrune"; other identifiers do nothing.
void HandleTrayCommand(int id);

}  // namespace kestrune
