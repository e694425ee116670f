// The host's one main window: hidden at start, shown from the tray, holding the daemon list.
#pragma once

#include <windows.h>

#include <string>

#include "core/owner.h"
#include "identifiers.h"

namespace kestrune {

struct MainWindowState {
    WindowOwner mainWindow;  // destroyed by DestroyHostWindows at the exit
    // 1 while the user has shown the window from the tray, 0 once it went back to the tray.
    int windowShown = 0;
};

constexpr UINT RefreshPeriod = 1000;
constexpr int MinClientWidth = 640;
constexpr int MaxClientWidth = 960;
constexpr int ClientHeight = 480;

// The project's version, as the build gives it (kestrune/version.h).
std::wstring VersionText();

// Creates the main window hidden, centred, with a 640 x 480 client area; sets ui.main.mainWindow.
bool CreateMainWindow(const std::wstring& title);

// Destroys the About window, if open, the main window with its list, and the list's font.
void DestroyHostWindows();

// Goes to the tray instead of the taskbar when minimised while the tray icon exists.
void HideToTray();

}  // namespace kestrune
