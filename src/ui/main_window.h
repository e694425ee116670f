// The host's one main window: hidden at start, shown from the tray, holding the daemon list.
#pragma once

#include <windows.h>

#include <string>

namespace kestrune {

constexpr UINT TrayCallbackMessage = 12501;
constexpr UINT_PTR RefreshTimerId = 6;
constexpr UINT RefreshPeriod = 1000;
constexpr int MinClientWidth = 640;
constexpr int MaxClientWidth = 960;
constexpr int ClientHeight = 480;

// The project's version, as the build gives it (kestrune/version.h).
std::wstring VersionText();

// Creates the main window hidden, centred, with a 640 x 480 client area; sets app.mainWindow.
bool CreateMainWindow(const std::wstring& title);

// Destroys the About window, if open, and the main window.
void DestroyHostWindows();

// Goes to the tray instead of the taskbar when minimised while the tray icon exists.
void HideToTray();

}  // namespace kestrune
