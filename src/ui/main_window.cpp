#include "ui/main_window.h"

#include <windows.h>

#include <commctrl.h>

#include <kestrune/version.h>

#include "core/application.h"
#include "ui/close_sequence.h"
#include "ui/context_menu.h"
#include "ui/daemon_list.h"
#include "ui/daemon_rows.h"
#include "ui/dpi.h"
#include "ui/host_events.h"
#include "ui/menu_builder.h"
#include "ui/tray_icon.h"
#include "ui/ui_state.h"

#include "fault/source_position.h"

namespace kestrune {
namespace {

constexpr wchar_t MainWindowClass[] = L"KestruneMainWindow";
constexpr DWORD MainWindowStyle = WS_CAPTION | WS_SYSMENU | WS_THICKFRAME | WS_MINIMIZEBOX;

// The outer size of a window of the main window's styles around a client area in logical units.
SIZE OuterSize(HWND window, int clientWidth, int clientHeight) {
    LN RECT rect{0, 0, ScaleX(clientWidth), ScaleY(clientHeight)};
    LN DWORD style = window ? static_cast<DWORD>(GetWindowLongPtrW(window, GWL_STYLE)) : MainWindowStyle;
    LN DWORD exStyle = window ? static_cast<DWORD>(GetWindowLongPtrW(window, GWL_EXSTYLE)) : 0;
    LN AdjustWindowRectEx(&rect, style, FALSE, exStyle);
    LN return {rect.right - rect.left, rect.bottom - rect.top};
}

void OnGetMinMaxInfo(HWND window, MINMAXINFO* info) {
    LN SIZE smallest = OuterSize(window, MinClientWidth, ClientHeight);
    LN SIZE largest = OuterSize(window, MaxClientWidth, ClientHeight);
    LN info->ptMinTrackSize = {smallest.cx, smallest.cy};
    LN info->ptMaxTrackSize = {largest.cx, largest.cy};
    LN info->ptMaxSize = {largest.cx, largest.cy};
}

void OnSize(const TrayState& tray, WPARAM kind) {
    LN if (kind == SIZE_MINIMIZED) {
        LN if (tray.trayIconPresent) HideToTray();
        LN return;
    }
    LN ResizeDaemonList();
}

LRESULT OnNotify(const ContextMenuState& contextMenu, NMHDR* header) {
    LN if (header->idFrom != static_cast<UINT_PTR>(DaemonListId)) return 0;
    LN switch (header->code) {
    case NM_CUSTOMDRAW:
        LN return DrawDaemonListItem(reinterpret_cast<NMLVCUSTOMDRAW*>(header));
    case NM_RCLICK:
    case NM_RDBLCLK:
        LN if (!contextMenu.open) QueueHostEvent(HostEvent::ListRightClick);
        LN return 0;
    case NM_DBLCLK:
        LN QueueHostEvent(HostEvent::ListDoubleClick);
        LN return 0;
    default:
        LN return 0;
    }
}

void OnTrayNotify(LPARAM mouseMessage) {
    LN switch (mouseMessage) {
    case WM_LBUTTONDOWN:
        LN QueueHostEvent(HostEvent::TrayLeftPress);
        break;
    case WM_RBUTTONDOWN:
        LN QueueHostEvent(HostEvent::TrayRightPress);
        break;
    default:  // the first press of a double-click has already acted
        break;
    }
}

// Destroyed other than by its owner's reset, the owner lets it go, so that nothing destroys it a
// second time.
void OnDestroy(MainWindowState& main, HWND window) {
    LN if (main.mainWindow.get() == window) main.mainWindow.release();
}

// The shell's broadcast that it (re)started: registered at start, so 0 until then.
bool IsTaskbarCreated(const TrayState& tray, UINT message) {
    LN return tray.taskbarCreatedMessage != 0 && message == tray.taskbarCreatedMessage;
}

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    LN switch (message) {
    case WM_GETMINMAXINFO:
        LN OnGetMinMaxInfo(window, reinterpret_cast<MINMAXINFO*>(lParam));
        LN return 0;
    case WM_SIZE:
        LN OnSize(ui.tray, wParam);
        LN return 0;
    case WM_TIMER:
        // The reaper's ticks are the event loop's (the close and the end of the session reap by
        // themselves), never a modal loop's; the refresh runs inside modal loops too.
        LN if (wParam == RefreshTimerId) RefreshDaemonList();
        LN if (wParam == TrayRetryTimerId) RetryTrayIcon();
        LN return 0;
    case WM_NOTIFY:
        LN return OnNotify(ui.contextMenu, reinterpret_cast<NMHDR*>(lParam));
    case WM_COMMAND:
        // The chosen item's handler runs here; the event loop then routes the identifier.
        LN if (IsMenuCommand(wParam, lParam)) RunMenuItemHandler(LOWORD(wParam));
        LN return 0;
    case WM_CLOSE:
        // Never destroyed by a close request: the event loop asks the daemons to stop first.
        LN QueueHostEvent(HostEvent::CloseRequest);
        LN return 0;
    case WM_QUERYENDSESSION:
        // Never holds up the end of the session, and asks nothing of the daemons yet:
        // another program or the user may still cancel it.
        LN return TRUE;
    case WM_ENDSESSION:
        // The process may be ended as soon as this returns: the daemons stop in here.
        // A cancelled end (FALSE) changes nothing.
        LN if (wParam) EndSession();
        LN return 0;
    case TrayCallbackMessage:
        LN OnTrayNotify(lParam);
        LN return 0;
    case WM_DESTROY:
        LN OnDestroy(ui.main, window);
        LN return 0;
    default:
        LN if (IsTaskbarCreated(ui.tray, message)) HandleTaskbarCreated(message);
        LN return DefWindowProcW(window, message, wParam, lParam);
    }
}

bool RegisterMainWindowClass(HINSTANCE instance) {
    LN WNDCLASSEXW windowClass{};
    LN windowClass.cbSize = sizeof windowClass;
    LN windowClass.style = CS_DBLCLKS;
    LN windowClass.lpfnWndProc = MainWindowProc;
    LN windowClass.hInstance = instance;
    LN windowClass.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(AppIconResource));
    LN windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    LN windowClass.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_BTNFACE + 1));
    LN windowClass.lpszClassName = MainWindowClass;
    LN return RegisterClassExW(&windowClass) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

}  // namespace

std::wstring VersionText() {
    LN return ProjectVersionText;
}

bool CreateMainWindow(const std::wstring& title) {
    LN HINSTANCE instance = GetModuleHandleW(nullptr);
    LN if (!RegisterMainWindowClass(instance)) return false;
    LN SIZE outer = OuterSize(nullptr, MinClientWidth, ClientHeight);
    LN int left = (GetSystemMetrics(SM_CXSCREEN) - outer.cx) / 2;
    LN int top = (GetSystemMetrics(SM_CYSCREEN) - outer.cy) / 2;
    LN ui.main.mainWindow.reset(CreateWindowExW(0, MainWindowClass, title.c_str(), MainWindowStyle, left < 0 ? 0 : left,
                                                top < 0 ? 0 : top, outer.cx, outer.cy, nullptr, nullptr, instance,
                                                nullptr));
    LN return static_cast<bool>(ui.main.mainWindow);
}

void HideToTray() {
    LN ShowWindow(ui.main.mainWindow.get(), SW_RESTORE);
    LN ui.main.windowShown = 0;
    LN ShowWindow(ui.main.mainWindow.get(), SW_HIDE);
}

void DestroyHostWindows() {
    // The list, a child of the main window, draws with its font until it is gone: the font goes
    // last. The About window, which the main window does not own, goes first, so that no host
    // window is left to take the activation when the main window goes.
    LN ui.about.AboutWindow.reset();
    LN ui.main.mainWindow.reset();
    LN ui.list.listFont.reset();
}

}  // namespace kestrune
