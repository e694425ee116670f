#include "context_menu.h"

#include "../core/application.h"
#include "../core/commands.h"
#include "../core/daemon_table.h"
#include "../core/file_info.h"
#include "../core/owner.h"
#include "../core/priority.h"
#include "daemon_menus.h"
#include "menu_builder.h"
#include "selected_row.h"
#include "tray_menu.h"

namespace kestrune {
namespace {

bool contextMenuOpen = false;

struct RowState {
    Daemon* daemon = nullptr;
    bool started = false;
    bool stopping = false;
    bool paused = false;
    bool hasMenu = false;
    bool filePresent = false;
};

RowState ReadRowState(const std::wstring& rowPath) {
    RowState state;
    state.daemon = rowPath.empty() ? nullptr : FindDaemonByPath(rowPath);
    if (Daemon* daemon = state.daemon) {
        state.started = daemon->Has(FlagStarted);
        state.stopping = daemon->Has(FlagStopping);
        state.paused = daemon->Has(FlagPaused);
        state.hasMenu = daemon->entryMenuAddress != nullptr;
    }
    FileInfo file = QueryFile(state.daemon ? state.daemon->path : rowPath);
    state.filePresent = file.exists && !file.isFolder && file.size > 0;
    return state;
}

// The priority items as they are listed, from the highest down, with their command codes.
struct PriorityItem {
    int32_t priority;
    int command;
};
constexpr PriorityItem PriorityItems[] = {
    {THREAD_PRIORITY_TIME_CRITICAL, CmdPriorityTimeCritical},
    {THREAD_PRIORITY_HIGHEST, CmdPriorityHighest},
    {THREAD_PRIORITY_ABOVE_NORMAL, CmdPriorityAboveNormal},
    {THREAD_PRIORITY_NORMAL, CmdPriorityNormal},
    {THREAD_PRIORITY_BELOW_NORMAL, CmdPriorityBelowNormal},
    {THREAD_PRIORITY_LOWEST, CmdPriorityLowest},
    {THREAD_PRIORITY_IDLE, CmdPriorityIdle},
};
constexpr size_t NormalPriorityItem = 3;  // set apart by a separator on each side

void AddPrioritySubmenu(const RowState& state) {
    OpenSubmenu(L"Priority", state.started);
    if (state.started) {
        for (size_t i = 0; i < std::size(PriorityItems); ++i) {
            if (i == NormalPriorityItem) AddMenuSeparator();
            AddMenuItem(PriorityItems[i].command, PriorityName(PriorityItems[i].priority), true);
            if (i == NormalPriorityItem) AddMenuSeparator();
        }
        // A priority outside the seven (a real-time process, a failed query) marks nothing.
        int32_t current = GetDaemonPriority(state.daemon->thread.get());
        for (const PriorityItem& item : PriorityItems) {
            if (item.priority == current) MarkMenuItem(item.command);
        }
    }
    CloseSubmenu();
}

void AddContextItems(HMENU popup, const RowState& state) {
    AddMenuItem(CmdStart, L"Start", !state.started && !state.stopping && !IsQuitting());
    AddMenuItem(CmdOpenFolder, L"Open folder", state.filePresent);
    if (state.hasMenu) MergeDaemonMenu(popup, state.daemon, MenuPlacementContext, DaemonMenuBase);
    AddMenuSeparator();
    AddPrioritySubmenu(state);
    AddMenuSeparator();
    const bool running = state.started && !state.stopping;
    AddMenuItem(CmdPauseResume, L"Pause", running);
    AddMenuItem(CmdPauseResumeAll, L"Pause all", running);
    if (state.paused) {
        SetMenuItemText(CmdPauseResume, L"Resume");
        SetMenuItemText(CmdPauseResumeAll, L"Resume all");
    }
    AddMenuSeparator();
    AddMenuItem(CmdForceStop, L"Stop [F]", state.started);
    AddMenuItem(CmdStop, L"Stop", running);
}

}  // namespace

HMENU BuildDaemonContextMenu() {
    HMENU popup = BeginPopupMenu(DispatchMenuCommand);
    if (!popup) return nullptr;
    AddContextItems(popup, ReadRowState(SelectedRowPath()));
    EndPopupMenu();
    return popup;
}

void TrackPopupAtCursor(HMENU popup, HWND owner) {
    POINT cursor{};
    GetCursorPos(&cursor);
    // Without the owner in the foreground the menu would not close on a click elsewhere.
    SetForegroundWindow(owner);
    TrackPopupMenu(popup, TPM_RIGHTBUTTON, cursor.x - 1, cursor.y - 1, 0, owner, nullptr);
}

void ShowDaemonContextMenu(HWND owner) {
    // Destroyed with every submenu, the daemon's own included, as soon as tracking ends;
    // the chosen command arrives afterwards as WM_COMMAND.
    MenuOwner popup(BuildDaemonContextMenu());
    if (!popup) return;
    contextMenuOpen = true;
    TrackPopupAtCursor(popup.get(), owner);
    contextMenuOpen = false;
}

bool IsContextMenuOpen() {
    return contextMenuOpen;
}

void DispatchMenuCommand(int id) {
    if (id >= 5 && id <= 19) {
        ExecuteDaemonCommand(id);
    } else if (id >= 20 && id <= 24) {
        HandleTrayCommand(id);
    }
}

}  // namespace kestrune
