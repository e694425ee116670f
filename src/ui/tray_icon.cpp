#include "tray_icon.h"

#include <shellapi.h>

#include <cwchar>

#include "../core/application.h"
#include "daemon_list.h"
#include "main_window.h"
#include "fault/source_position.h"

namespace kestrune {
namespace {

constexpr size_t TooltipLength = 63;

NOTIFYICONDATAW IconData() {
    LN NOTIFYICONDATAW data{};
    LN data.cbSize = sizeof data;
    LN data.hWnd = app.mainWindow;
    LN data.uID = app.trayIconId;
    LN return data;
}

// Shell_NotifyIconW fails while the shell restarts; TaskbarCreated brings the icon back.
bool SetTooltip(const std::wstring& text) {
    LN NOTIFYICONDATAW data = IconData();
    LN data.uFlags = NIF_TIP;
    LN wcsncpy(data.szTip, text.c_str(), TooltipLength);
    LN data.szTip[TooltipLength] = L'\0';
    LN return Shell_NotifyIconW(NIM_MODIFY, &data) != FALSE;
}

}  // namespace

bool CreateTrayIcon() {
    LN if (!app.trayIcon) return false;
    LN NOTIFYICONDATAW data = IconData();
    LN data.uFlags = NIF_MESSAGE | NIF_ICON;
    LN data.uCallbackMessage = TrayCallbackMessage;
    LN data.hIcon = app.trayIcon;
    LN return Shell_NotifyIconW(NIM_ADD, &data) != FALSE;
}

std::wstring TrayTooltipFor(const SYSTEMTIME& localTime) {
    LN wchar_t date[32];
    LN swprintf(date, std::size(date), L"%02u/%02u/%04u", static_cast<unsigned>(localTime.wDay),
             static_cast<unsigned>(localTime.wMonth), static_cast<unsigned>(localTime.wYear));
    LN return std::wstring(L"Kestrune: ") + date;
}

void BuildTrayTooltip() {
    LN SYSTEMTIME now;
    LN GetLocalTime(&now);
    LN app.trayTooltip = TrayTooltipFor(now);
    LN SetTooltip(app.trayTooltip);
}

void RemoveTrayIcon() {
    LN if (!app.trayIconPresent) return;
    LN NOTIFYICONDATAW data = IconData();
    LN Shell_NotifyIconW(NIM_DELETE, &data);
    LN app.trayIconPresent = 0;
}

// Adds the icon with its tooltip; false while the shell refuses it, with the retry timer armed.
bool AddTrayIcon() {
    LN if (!CreateTrayIcon()) {
        LN SetTimer(app.mainWindow, TrayRetryTimerId, TrayRetryPeriod, nullptr);
        LN return false;
    }
    LN KillTimer(app.mainWindow, TrayRetryTimerId);
    LN if (app.trayTooltip.empty()) {
        LN SYSTEMTIME now;
        LN GetLocalTime(&now);
        LN app.trayTooltip = TrayTooltipFor(now);
    }
    LN app.trayIconPresent = 1;
    LN SetTooltip(app.trayTooltip);
    LN return true;
}

void SetUpTray() {
    // Watched from the start: a host whose icon the shell refused must still get it, or only a
    // task manager could end it, and then no daemon would be asked to stop.
    LN app.taskbarCreatedMessage = RegisterWindowMessageW(L"TaskbarCreated");
    LN if (app.trayIcon) AddTrayIcon();
}

void RetryTrayIcon() {
    LN if (app.trayIconPresent || !app.trayIcon) {
        LN KillTimer(app.mainWindow, TrayRetryTimerId);
        LN return;
    }
    LN AddTrayIcon();
}

void CheckTrayTooltip() {
    LN if (!app.trayIconPresent) return;
    LN SYSTEMTIME now;
    LN GetLocalTime(&now);
    LN if (now.wSecond == 0) BuildTrayTooltip();
}

void ShowFromTray() {
    LN app.windowShown = 1;
    // A window left minimised on the taskbar (the icon was lost meanwhile) stays minimised.
    LN ShowWindow(app.mainWindow, IsIconic(app.mainWindow) ? SW_SHOWMINIMIZED : SW_SHOWNORMAL);
    LN if (GetForegroundWindow() != app.mainWindow) SetForegroundWindow(app.mainWindow);
    LN RefreshDaemonList();
}

void HandleTaskbarCreated(UINT message) {
    LN if (message != app.taskbarCreatedMessage) return;
    LN if (app.trayIconPresent) {
        LN RemoveTrayIcon();
        LN app.trayIconPresent = 0;
    }
    // The tooltip is the text last built, not rebuilt here.
    LN if (app.trayIcon) AddTrayIcon();
}

}  // namespace kestrune
