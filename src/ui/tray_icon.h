// The notification-area icon: its tooltip, showing the window, and coming back after the shell restarts.
#pragma once

#include <windows.h>

#include <string>

#include "core/owner.h"
#include "identifiers.h"

namespace kestrune {

// While the shell refuses the icon (its taskbar is not there yet at an early logon start, or it
// is restarting), the host tries again on its retry timer, and whenever "TaskbarCreated" arrives.
constexpr UINT TrayRetryPeriod = 3000;

struct TrayState {
    IconOwner trayIcon;  // taken from the program file; none when it could not be taken
    int trayIconPresent = 0;
    UINT trayIconId = TrayIconId;
    UINT taskbarCreatedMessage = 0;  // registered before the first add
    std::wstring trayTooltip;        // the text last built
};

bool CreateTrayIcon();
void BuildTrayTooltip();
// Takes the icon away at the exit, waiting at most patience milliseconds for the shell: under a
// display without a window manager Wine's shell takes two seconds over it, and the close has a
// bound to keep. The shell finishes on its own once asked.
void RemoveTrayIcon(DWORD patience);

// The "TaskbarCreated" watch, and the icon with its tooltip when the icon could be taken.
void SetUpTray();

// The retry timer's tick: adds the icon if it is still missing.
void RetryTrayIcon();

// "Kestrune: dd/mm/yyyy" for a local date.
std::wstring TrayTooltipFor(const SYSTEMTIME& localTime);

// Rebuilds the tooltip at the first refresh tick of each minute.
void CheckTrayTooltip();

void ShowFromTray();

void HandleTaskbarCreated(UINT message);

}  // namespace kestrune
