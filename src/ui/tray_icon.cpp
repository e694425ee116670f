#include "tray_icon.h"

#include <shellapi.h>

#include <cwchar>

#include "../core/application.h"
#include "daemon_list.h"
#include "main_window.h"

namespace kestrune {
namespace {

constexpr size_t TooltipLength = 63;

NOTIFYICONDATAW IconData() {
    NOTIFYICONDATAW data{};
    data.cbSize = sizeof data;
    data.hWnd = app.mainWindow;
    data.uID = app.trayIconId;
    return data;
}

// Shell_NotifyIconW fails while the shell restarts; TaskbarCreated brings the icon back.
bool SetTooltip(const std::wstring& text) {
    NOTIFYICONDATAW data = IconData();
    data.uFlags = NIF_TIP;
    wcsncpy(data.szTip, text.c_str(), TooltipLength);
    data.szTip[TooltipLength] = L'\0';
    return Shell_NotifyIconW(NIM_MODIFY, &data) != FALSE;
}

}  // namespace

bool CreateTrayIcon() {
    if (!app.trayIcon) return false;
    NOTIFYICONDATAW data = IconData();
    data.uFlags = NIF_MESSAGE | NIF_ICON;
    data.uCallbackMessage = TrayCallbackMessage;
    data.hIcon = app.trayIcon;
    return Shell_NotifyIconW(NIM_ADD, &data) != FALSE;
}

std::wstring TrayTooltipFor(const SYSTEMTIME& localTime) {
    wchar_t date[32];
    swprintf(date, std::size(date), L"%02u/%02u/%04u", static_cast<unsigned>(localTime.wDay),
             static_cast<unsigned>(localTime.wMonth), static_cast<unsigned>(localTime.wYear));
    return std::wstring(L"Kestrune: ") + date;
}

void BuildTrayTooltip() {
    SYSTEMTIME now;
    GetLocalTime(&now);
    app.trayTooltip = TrayTooltipFor(now);
    SetTooltip(app.trayTooltip);
}

void RemoveTrayIcon() {
    if (!app.trayIconPresent) return;
    NOTIFYICONDATAW data = IconData();
    Shell_NotifyIconW(NIM_DELETE, &data);
    app.trayIconPresent = 0;
}

void SetUpTray() {
    if (!app.trayIcon || !CreateTrayIcon()) return;
    SYSTEMTIME now;
    GetLocalTime(&now);
    app.trayTooltip = TrayTooltipFor(now);
    app.trayIconPresent = 1;
    SetTooltip(app.trayTooltip);
    app.taskbarCreatedMessage = RegisterWindowMessageW(L"TaskbarCreated");
}

void CheckTrayTooltip() {
    if (!app.trayIconPresent) return;
    SYSTEMTIME now;
    GetLocalTime(&now);
    if (now.wSecond == 0) BuildTrayTooltip();
}

void ShowFromTray() {
    app.windowShown = 1;
    // A window left minimised on the taskbar (the icon was lost meanwhile) stays minimised.
    ShowWindow(app.mainWindow, IsIconic(app.mainWindow) ? SW_SHOWMINIMIZED : SW_SHOWNORMAL);
    if (GetForegroundWindow() != app.mainWindow) SetForegroundWindow(app.mainWindow);
    RefreshDaemonList();
}

void HandleTaskbarCreated(UINT message) {
    if (message != app.taskbarCreatedMessage) return;
    if (app.trayIconPresent) {
        RemoveTrayIcon();
        app.trayIconPresent = 0;
    }
    if (app.trayIcon && CreateTrayIcon()) {
        app.trayIconPresent = 1;
        SetTooltip(app.trayTooltip);
    }
}

}  // namespace kestrune
