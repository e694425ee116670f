#include "main_window.h"

#include <commctrl.h>

#include "../core/application.h"
#include "context_menu.h"
#include "daemon_list.h"
#include "daemon_rows.h"
#include "dpi.h"
#include "host_events.h"
#include "menu_builder.h"
#include "tray_icon.h"

namespace kestrune {
namespace {

constexpr wchar_t MainWindowClass[] = L"KestruneMainWindow";
constexpr DWORD MainWindowStyle = WS_CAPTION | WS_SYSMENU | WS_THICKFRAME | WS_MINIMIZEBOX;
constexpr int AppIconResource = 1;

// The outer size of a window of the main window's styles around a client area in logical units.
SIZE OuterSize(HWND window, int clientWidth, int clientHeight) {
    RECT rect{0, 0, ScaleX(clientWidth), ScaleY(clientHeight)};
    DWORD style = window ? static_cast<DWORD>(GetWindowLongPtrW(window, GWL_STYLE)) : MainWindowStyle;
    DWORD exStyle = window ? static_cast<DWORD>(GetWindowLongPtrW(window, GWL_EXSTYLE)) : 0;
    AdjustWindowRectEx(&rect, style, FALSE, exStyle);
    return {rect.right - rect.left, rect.bottom - rect.top};
}

void OnGetMinMaxInfo(HWND window, MINMAXINFO* info) {
    SIZE smallest = OuterSize(window, MinClientWidth, ClientHeight);
    SIZE largest = OuterSize(window, MaxClientWidth, ClientHeight);
    info->ptMinTrackSize = {smallest.cx, smallest.cy};
    info->ptMaxTrackSize = {largest.cx, largest.cy};
    info->ptMaxSize = {largest.cx, largest.cy};
}

void OnSize(WPARAM kind) {
    if (kind == SIZE_MINIMIZED) {
        if (app.trayIconPresent) HideToTray();
        return;
    }
    ResizeDaemonList();
}

LRESULT OnNotify(NMHDR* header) {
    if (header->idFrom != static_cast<UINT_PTR>(DaemonListId)) return 0;
    switch (header->code) {
    case NM_CUSTOMDRAW:
        return DrawDaemonListItem(reinterpret_cast<NMLVCUSTOMDRAW*>(header));
    case NM_RCLICK:
    case NM_RDBLCLK:
        if (!IsContextMenuOpen()) QueueHostEvent(HostEvent::ListRightClick);
        return 0;
    case NM_DBLCLK:
        QueueHostEvent(HostEvent::ListDoubleClick);
        return 0;
    default:
        return 0;
    }
}

void OnTrayNotify(LPARAM mouseMessage) {
    switch (mouseMessage) {
    case WM_LBUTTONDOWN:
        QueueHostEvent(HostEvent::TrayLeftPress);
        break;
    case WM_RBUTTONDOWN:
        QueueHostEvent(HostEvent::TrayRightPress);
        break;
    default:  // the first press of a double-click has already acted
        break;
    }
}

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_GETMINMAXINFO:
        OnGetMinMaxInfo(window, reinterpret_cast<MINMAXINFO*>(lParam));
        return 0;
    case WM_SIZE:
        OnSize(wParam);
        return 0;
    case WM_TIMER:
        // The reaper runs from the event loop only; the refresh also inside modal loops.
        if (wParam == RefreshTimerId) RefreshDaemonList();
        return 0;
    case WM_NOTIFY:
        return OnNotify(reinterpret_cast<NMHDR*>(lParam));
    case WM_COMMAND:
        // The chosen item's handler runs here; the event loop then routes the identifier.
        if (IsMenuCommand(wParam, lParam)) RunMenuItemHandler(LOWORD(wParam));
        return 0;
    case WM_CLOSE:
        // Never destroyed by a close request: the event loop asks the daemons to stop first.
        QueueHostEvent(HostEvent::CloseRequest);
        return 0;
    case TrayCallbackMessage:
        OnTrayNotify(lParam);
        return 0;
    default:
        if (app.taskbarCreatedMessage != 0 && message == app.taskbarCreatedMessage) HandleTaskbarCreated(message);
        return DefWindowProcW(window, message, wParam, lParam);
    }
}

bool RegisterMainWindowClass(HINSTANCE instance) {
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.style = CS_DBLCLKS;
    windowClass.lpfnWndProc = MainWindowProc;
    windowClass.hInstance = instance;
    windowClass.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(AppIconResource));
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_BTNFACE + 1));
    windowClass.lpszClassName = MainWindowClass;
    return RegisterClassExW(&windowClass) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

}  // namespace

std::wstring VersionText() {
    const int parts[] = {0, 3, 3};
    std::wstring text = L"1";
    for (int part : parts) text += L"." + std::to_wstring(part);
    return text;
}

bool CreateMainWindow(const std::wstring& title) {
    HINSTANCE instance = GetModuleHandleW(nullptr);
    if (!RegisterMainWindowClass(instance)) return false;
    SIZE outer = OuterSize(nullptr, MinClientWidth, ClientHeight);
    int left = (GetSystemMetrics(SM_CXSCREEN) - outer.cx) / 2;
    int top = (GetSystemMetrics(SM_CYSCREEN) - outer.cy) / 2;
    app.mainWindow = CreateWindowExW(0, MainWindowClass, title.c_str(), MainWindowStyle, left < 0 ? 0 : left,
                                     top < 0 ? 0 : top, outer.cx, outer.cy, nullptr, nullptr, instance, nullptr);
    return app.mainWindow != nullptr;
}

void HideToTray() {
    ShowWindow(app.mainWindow, SW_RESTORE);
    app.windowShown = 0;
    ShowWindow(app.mainWindow, SW_HIDE);
}

void DestroyHostWindows() {
    if (app.AboutWindow) DestroyWindow(app.AboutWindow);
    app.AboutWindow = nullptr;
    app.AboutText = nullptr;
    if (app.mainWindow) DestroyWindow(app.mainWindow);
    app.mainWindow = nullptr;
    ReleaseDaemonListFont();
}

}  // namespace kestrune
