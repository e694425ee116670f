// Process entry and RunHost: start-up, the event loop and the exit.
#include <windows.h>

#include <commctrl.h>
#include <objbase.h>
#include <shellapi.h>

#include <algorithm>
#include <cstdint>

#include "core/application.h"
#include "core/clock.h"
#include "core/daemon_table.h"
#include "core/daemon_windows.h"
#include "core/discovery.h"
#include "core/dll_search.h"
#include "core/library_release.h"
#include "core/lifecycle.h"
#include "core/loader_lock.h"
#include "core/program_path.h"
#include "core/safe_point.h"
#include "fault/fatal_error.h"
#include "ui/close_sequence.h"
#include "ui/context_menu.h"
#include "ui/daemon_commands.h"
#include "ui/daemon_list.h"
#include "ui/daemon_menus.h"
#include "ui/daemon_rows.h"
#include "ui/dpi.h"
#include "ui/host_events.h"
#include "ui/main_window.h"
#include "ui/menu_builder.h"
#include "ui/reaper.h"
#include "ui/selected_row.h"
#include "ui/tray_icon.h"
#include "ui/tray_menu.h"
#include "ui/ui_state.h"

#include "fault/source_position.h"

namespace kestrune {
namespace {

// How long one thread may hold the loader's lock at the exit before the process ends without
// it, and how long the exit waits for the shell to take the icon away.
constexpr DWORD ExitLoaderPatience = 200;
constexpr DWORD TrayRemovalPatience = 300;
// They come after the close's limit, and the close ends within 32 s whatever the daemons do.
static_assert(CloseLimit + TrayRemovalPatience + ExitLoaderPatience < 32000);

void LoadDiscoveredDaemons() {
    LN DiscoverDaemons(app.DiscoveredPaths);
    LN for (size_t i = 1; i < app.DiscoveredPaths.size(); ++i) {
        LN AddDaemonRow(AddDaemon(app.DiscoveredPaths[i], app.DaemonTable));
    }
    // Every daemon is loaded before the first one starts.
    LN int count = LastDaemonIndex();
    LN for (int i = 1; i <= count; ++i) StartDaemonThread(app.DaemonTable[static_cast<size_t>(i)].get(), RequestNone);
}

enum class LoopStep { Continue, Leave };

LoopStep OnCloseRequest() {
    LN if (LastDaemonIndex() == 0) return LoopStep::Leave;
    LN if (!IsQuitting()) RunCloseSequence();
    LN return LoopStep::Continue;
}

LoopStep OnReaperTick(ReaperState& reaper) {
    LN const uint64_t now = ClockMilliseconds();
    LN const uint64_t since = now - reaper.lastTick;
    LN reaper.lastTick = now;
    LN switch (ReapDaemons(reaper.position, static_cast<uint32_t>(std::min<uint64_t>(since, UINT32_MAX)))) {
    case ReapResult::Finish:
        LN return LoopStep::Leave;
    case ReapResult::Removed:
        LN if (!IsQuitting()) ArmReaperTimer(ui.main.mainWindow.get());
        LN return LoopStep::Continue;
    default:
        LN return LoopStep::Continue;
    }
}

LoopStep HandleHostEvent(HostEvent event) {
    LN switch (event) {
    case HostEvent::CloseRequest:
        LN return OnCloseRequest();
    case HostEvent::TrayLeftPress:
        LN ShowFromTray();
        LN return LoopStep::Continue;
    case HostEvent::TrayRightPress:
        LN ShowTrayMenu();
        LN return LoopStep::Continue;
    case HostEvent::ListRightClick:
        LN if (SelectedRow() >= 0 && !IsContextMenuOpen()) ShowDaemonContextMenu(ui.main.mainWindow.get());
        LN return LoopStep::Continue;
    case HostEvent::ListDoubleClick:
        LN ExecuteDaemonCommand(CmdOpenFolder);
        LN return LoopStep::Continue;
    default:
        LN return LoopStep::Continue;
    }
}

// One GetMessageW-based loop; the reaper, the tooltip check, menus, routing and the
// close request run here and nowhere else, so never inside a modal loop.
void RunEventLoop() {
    LN ui.reaper = ReaperState{0, ClockMilliseconds()};
    LN MSG message;
    LN for (;;) {
        LN BOOL got = GetMessageW(&message, nullptr, 0, 0);
        LN if (got == -1) return;
        // The host never asks itself to quit: a quit request comes from a daemon's window on this
        // thread, and it closes the host as the user's close does, every daemon asked to stop.
        LN if (got == 0) {
            LN if (OnCloseRequest() == LoopStep::Leave) return;
            LN continue;
        }
        LN const bool mine = message.hwnd != nullptr && message.hwnd == ui.main.mainWindow.get();
        LN if (mine && message.message == WM_TIMER && message.wParam == ReaperTimerId) {
            LN if (OnReaperTick(ui.reaper) == LoopStep::Leave) return;
        } else if (IsOrphanedTimer(message)) {
            // The callback of a daemon that has been unloaded: its code is gone.
            LN KillTimer(message.hwnd, message.wParam);
        } else {
            LN TranslateMessage(&message);
            LN DispatchMessageW(&message);
            LN if (mine && message.message == WM_TIMER && message.wParam == RefreshTimerId) CheckTrayTooltip();
            // Every menu command, host or daemon, reaches the route lookup after its handler.
            LN if (mine && message.message == WM_COMMAND && IsMenuCommand(message.wParam, message.lParam)) {
                LN RouteMenuCommand(LOWORD(message.wParam));
            }
        }
        LN HostEvent event;
        LN while (TakeHostEvent(event)) {
            LN if (HandleHostEvent(event) == LoopStep::Leave) return;
        }
    }
}

void RunExitSequence() {
    LN KillTimer(ui.main.mainWindow.get(), ReaperTimerId);
    LN KillTimer(ui.main.mainWindow.get(), RefreshTimerId);
    LN KillTimer(ui.main.mainWindow.get(), TrayRetryTimerId);
    LN RemoveTrayIcon(TrayRemovalPatience);
    LN ui.tray.trayIcon.reset();
    LN FinishQuarantines();
    LN EndEveryQuarantine();
    // Destroying the host's windows runs the window code of daemons that made windows on this
    // thread, and ending the process runs every library's teardown under the loader's lock, after
    // every other thread has stopped where it stood. A library the host kept because its code still
    // ran, or because its daemon was ended by force, could wait there for a lock such a thread held;
    // a loader's lock that a stuck thread holds would stop both before they began.
    LN if (KeepsLibrariesItCannotTearDown() || IsLoaderLockStuck(ExitLoaderPatience)) {
        LN TerminateProcess(GetCurrentProcess(), 0);
    }
    LN DestroyHostWindows();
}

}  // namespace

// False when the host could not start: without its window it has no way to run.
bool RunHost() {
    // The clock reads 0 on first use and a stop stamped 0 counts as none written (no
    // countdown): started here, the clock is past 0 before any stop can be stamped.
    LN ClockMilliseconds();
    LN std::wstring title = L"Kestrune " + VersionText();
    LN if (!CreateMainWindow(title)) return false;
    LN std::wstring program = ProgramPath();
    LN HICON icon = ExtractIconW(GetModuleHandleW(nullptr), program.c_str(), 0);
    LN if (icon == reinterpret_cast<HICON>(1)) icon = nullptr;  // "not an executable file"
    LN ui.tray.trayIcon.reset(icon);
    LN SetUpTray();
    LN CreateDaemonList();
    LN StartLockProbe();
    LN LoadDiscoveredDaemons();
    LN ArmReaperTimer(ui.main.mainWindow.get());
    LN SetTimer(ui.main.mainWindow.get(), RefreshTimerId, RefreshPeriod, nullptr);
    LN RefreshDaemonList();
    LN RunEventLoop();
    LN RunExitSequence();
    LN return true;
}

}  // namespace kestrune

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    using namespace kestrune;
    LN ResetHost();
    LN KeepCurrentDirectoryOutOfDllSearch();
    LN INITCOMMONCONTROLSEX controls{sizeof controls, ICC_LISTVIEW_CLASSES};
    LN InitCommonControlsEx(&controls);
    LN HRESULT com = CoInitialize(nullptr);
    LN InstallFatalErrorHandler();
    LN ReadDisplayDpi();
    LN const bool ran = RunHost();
    LN RestoreUnhandledExceptionFilter();
    LN if (SUCCEEDED(com)) CoUninitialize();
    LN ExitProcess(ran ? 0 : 1);
}
