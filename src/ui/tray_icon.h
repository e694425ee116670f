// The notification-area icon: its tooltip, showing the window, and coming back after the shell restarts.
#pragma once

#include <windows.h>

#include <string>

namespace kestrune {

bool CreateTrayIcon();
void BuildTrayTooltip();
void RemoveTrayIcon();

// The icon, its tooltip and the "TaskbarCreated" watch, when the icon could be taken.
void SetUpTray();

// "Kestrune: dd/mm/yyyy" for a local date.
std::wstring TrayTooltipFor(const SYSTEMTIME& localTime);

// Rebuilds the tooltip at the first refresh tick of each minute.
void CheckTrayTooltip();

void ShowFromTray();

void HandleTaskbarCreated(UINT message);

}  // namespace kestrune
