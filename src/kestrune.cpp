// Process entry and RunHost: start-up, the event loop and the exit.
#include <windows.h>
#include <commctrl.h>
#include <objbase.h>
#include <shellapi.h>

#include "core/application.h"
#include "core/commands.h"
#include "core/daemon_table.h"
#include "core/discovery.h"
#include "core/lifecycle.h"
#include "core/reaper.h"
#include "fault/fatal_error.h"
#include "ui/context_menu.h"
#include "ui/daemon_list.h"
#include "ui/daemon_menus.h"
#include "ui/daemon_rows.h"
#include "ui/dpi.h"
#include "ui/host_events.h"
#include "ui/main_window.h"
#include "ui/menu_builder.h"
#include "ui/selected_row.h"
#include "ui/tray_icon.h"
#include "ui/tray_menu.h"

namespace kestrune {
namespace {

std::wstring ProgramPath() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length < path.size()) {
            path.resize(length);
            return path;
        }
        path.resize(path.size() * 2);
    }
}

void LoadDiscoveredDaemons() {
    DiscoverDaemons(app.DiscoveredPaths);
    for (size_t i = 1; i < app.DiscoveredPaths.size(); ++i) {
        AddDaemonRow(AddDaemon(app.DiscoveredPaths[i], app.DaemonTable));
    }
    // Every daemon is loaded before the first one starts.
    int count = LastDaemonIndex();
    for (int i = 1; i <= count; ++i) StartDaemonThread(app.DaemonTable[static_cast<size_t>(i)], RequestNone);
}

// Asks every daemon to stop and lets the reaper finish them quickly.
void RunCloseSequence() {
    for (size_t i = 1; i < app.DaemonTable.size(); ++i) SetDaemonRequest(app.DaemonTable[i], RequestStop);
    app.quitting.store(1, std::memory_order_relaxed);
    ArmReaperTimer(app.mainWindow);
}

enum class LoopStep { Continue, Leave };

LoopStep OnCloseRequest() {
    if (LastDaemonIndex() == 0) return LoopStep::Leave;
    if (!IsQuitting()) RunCloseSequence();
    return LoopStep::Continue;
}

LoopStep OnReaperTick(int& position) {
    switch (ReapOneDaemon(position)) {
    case ReapResult::Finish:
        return LoopStep::Leave;
    case ReapResult::Removed:
        if (!IsQuitting()) ArmReaperTimer(app.mainWindow);
        return LoopStep::Continue;
    default:
        return LoopStep::Continue;
    }
}

LoopStep HandleHostEvent(HostEvent event) {
    switch (event) {
    case HostEvent::CloseRequest:
        return OnCloseRequest();
    case HostEvent::TrayLeftPress:
        ShowFromTray();
        return LoopStep::Continue;
    case HostEvent::TrayRightPress:
        ShowTrayMenu();
        return LoopStep::Continue;
    case HostEvent::ListRightClick:
        if (SelectedRow() >= 0 && !IsContextMenuOpen()) ShowDaemonContextMenu(app.mainWindow);
        return LoopStep::Continue;
    case HostEvent::ListDoubleClick:
        ExecuteDaemonCommand(CmdOpenFolder);
        return LoopStep::Continue;
    default:
        return LoopStep::Continue;
    }
}

// One GetMessageW-based loop; the reaper, the tooltip check, menus, routing and the
// close request run here and nowhere else, so never inside a modal loop.
void RunEventLoop() {
    int reaperPosition = 0;
    MSG message;
    for (;;) {
        BOOL got = GetMessageW(&message, nullptr, 0, 0);
        if (got == 0 || got == -1) return;
        const bool mine = message.hwnd != nullptr && message.hwnd == app.mainWindow;
        if (mine && message.message == WM_TIMER && message.wParam == ReaperTimerId) {
            if (OnReaperTick(reaperPosition) == LoopStep::Leave) return;
        } else {
            TranslateMessage(&message);
            DispatchMessageW(&message);
            if (mine && message.message == WM_TIMER && message.wParam == RefreshTimerId) CheckTrayTooltip();
            // Every menu command, host or daemon, reaches the route lookup after its handler.
            if (mine && message.message == WM_COMMAND && IsMenuCommand(message.wParam, message.lParam)) {
                RouteMenuCommand(LOWORD(message.wParam));
            }
        }
        HostEvent event;
        while (TakeHostEvent(event)) {
            if (HandleHostEvent(event) == LoopStep::Leave) return;
        }
    }
}

void RunExitSequence() {
    KillTimer(app.mainWindow, ReaperTimerId);
    KillTimer(app.mainWindow, RefreshTimerId);
    RemoveTrayIcon();
    if (app.trayIcon) DestroyIcon(app.trayIcon);
    app.trayIcon = nullptr;
    DestroyHostWindows();
}

}  // namespace

void RunHost() {
    std::wstring title = L"Kestrune " + VersionText();
    if (!CreateMainWindow(title)) return;
    std::wstring program = ProgramPath();
    app.trayIcon = ExtractIconW(GetModuleHandleW(nullptr), program.c_str(), 0);
    if (app.trayIcon == reinterpret_cast<HICON>(1)) app.trayIcon = nullptr;  // "not an executable file"
    SetUpTray();
    CreateDaemonList();
    LoadDiscoveredDaemons();
    ArmReaperTimer(app.mainWindow);
    SetTimer(app.mainWindow, RefreshTimerId, RefreshPeriod, nullptr);
    RefreshDaemonList();
    RunEventLoop();
    RunExitSequence();
}

}  // namespace kestrune

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    using namespace kestrune;
    ResetApplication();
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_LISTVIEW_CLASSES};
    InitCommonControlsEx(&controls);
    HRESULT com = CoInitialize(nullptr);
    InstallFatalErrorHandler();
    ReadDisplayDpi();
    RunHost();
    RestoreUnhandledExceptionFilter();
    if (SUCCEEDED(com)) CoUninitialize();
    ExitProcess(0);
}
