#include "ui/tray_icon.h"

#include <windows.h>

#include <shellapi.h>

#include <cwchar>
#include <memory>

#include "core/application.h"
#include "core/owner.h"
#include "ui/daemon_list.h"
#include "ui/main_window.h"
#include "ui/ui_state.h"

#include "fault/source_position.h"

namespace kestrune {
namespace {

constexpr size_t TooltipLength = 63;

NOTIFYICONDATAW IconData() {
    LN NOTIFYICONDATAW data{};
    LN data.cbSize = sizeof data;
    LN data.hWnd = ui.main.mainWindow.get();
    LN data.uID = ui.tray.trayIconId;
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

std::wstring TooltipForToday() {
    LN SYSTEMTIME now;
    LN GetLocalTime(&now);
    LN return TrayTooltipFor(now);
}

DWORD WINAPI DeleteIcon(LPVOID record) {
    LN std::unique_ptr<NOTIFYICONDATAW> request(static_cast<NOTIFYICONDATAW*>(record));
    LN Shell_NotifyIconW(NIM_DELETE, request.get());
    LN return 0;
}

}  // namespace

bool CreateTrayIcon() {
    LN if (!ui.tray.trayIcon) return false;
    LN NOTIFYICONDATAW data = IconData();
    LN data.uFlags = NIF_MESSAGE | NIF_ICON;
    LN data.uCallbackMessage = TrayCallbackMessage;
    LN data.hIcon = ui.tray.trayIcon.get();
    LN return Shell_NotifyIconW(NIM_ADD, &data) != FALSE;
}

std::wstring TrayTooltipFor(const SYSTEMTIME& localTime) {
    LN wchar_t date[32];
    LN swprintf(date, std::size(date), L"%02u/%02u/%04u", static_cast<unsigned>(localTime.wDay),
                static_cast<unsigned>(localTime.wMonth), static_cast<unsigned>(localTime.wYear));
    LN return std::wstring(L"Kestrune: ") + date;
}

void BuildTrayTooltip() {
    LN ui.tray.trayTooltip = TooltipForToday();
    LN SetTooltip(ui.tray.trayTooltip);
}

void RemoveTrayIcon(DWORD patience) {
    LN if (!ui.tray.trayIconPresent) return;
    LN ui.tray.trayIconPresent = 0;
    // The request's record goes with the thread that makes it, which frees it.
    LN auto request = std::make_unique<NOTIFYICONDATAW>(IconData());
    LN HandleOwner thread(CreateThread(nullptr, 0, DeleteIcon, request.get(), 0, nullptr));
    LN if (!thread) {
        LN Shell_NotifyIconW(NIM_DELETE, request.get());
        LN return;
    }
    LN request.release();
    LN WaitForSingleObject(thread.get(), patience);
}

// Adds the icon with its tooltip; false while the shell refuses it, with the retry timer armed.
bool AddTrayIcon() {
    LN if (!CreateTrayIcon()) {
        LN SetTimer(ui.main.mainWindow.get(), TrayRetryTimerId, TrayRetryPeriod, nullptr);
        LN return false;
    }
    LN KillTimer(ui.main.mainWindow.get(), TrayRetryTimerId);
    LN if (ui.tray.trayTooltip.empty()) ui.tray.trayTooltip = TooltipForToday();
    LN ui.tray.trayIconPresent = 1;
    LN SetTooltip(ui.tray.trayTooltip);
    LN return true;
}

void SetUpTray() {
    // Watched from the start: a host whose icon the shell refused must still get it, or only a
    // task manager could end it, and then no daemon would be asked to stop.
    LN ui.tray.taskbarCreatedMessage = RegisterWindowMessageW(L"TaskbarCreated");
    // An elevated host hears nothing from the shell, which runs with less, unless it lets this
    // one message through: after a restart of the shell its icon would never come back.
    LN if (ui.tray.taskbarCreatedMessage != 0) {
        LN ChangeWindowMessageFilterEx(ui.main.mainWindow.get(), ui.tray.taskbarCreatedMessage, MSGFLT_ALLOW, nullptr);
    }
    LN if (ui.tray.trayIcon) AddTrayIcon();
}

void RetryTrayIcon() {
    LN if (ui.tray.trayIconPresent || !ui.tray.trayIcon) {
        LN KillTimer(ui.main.mainWindow.get(), TrayRetryTimerId);
        LN return;
    }
    LN AddTrayIcon();
}

void CheckTrayTooltip() {
    LN if (!ui.tray.trayIconPresent) return;
    LN SYSTEMTIME now;
    LN GetLocalTime(&now);
    LN if (now.wSecond == 0) BuildTrayTooltip();
}

void ShowFromTray() {
    LN ui.main.windowShown = 1;
    LN ReleaseListDrawing();
    // A window left minimised on the taskbar (the icon was lost meanwhile) stays minimised.
    LN ShowWindow(ui.main.mainWindow.get(), IsIconic(ui.main.mainWindow.get()) ? SW_SHOWMINIMIZED : SW_SHOWNORMAL);
    LN if (GetForegroundWindow() != ui.main.mainWindow.get()) SetForegroundWindow(ui.main.mainWindow.get());
    LN RefreshDaemonList();
}

void HandleTaskbarCreated(UINT message) {
    LN if (message != ui.tray.taskbarCreatedMessage) return;
    LN if (ui.tray.trayIconPresent) {
        LN RemoveTrayIcon(INFINITE);
        LN ui.tray.trayIconPresent = 0;
    }
    // The tooltip is the text last built, not rebuilt here.
    LN if (ui.tray.trayIcon) AddTrayIcon();
}

}  // namespace kestrune
