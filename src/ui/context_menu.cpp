#include "ui/context_menu.h"

#include "core/application.h"
#include "core/daemon_table.h"
#include "core/file_info.h"
#include "core/owner.h"
#include "core/priority.h"
#include "ui/daemon_commands.h"
#include "ui/daemon_menus.h"
#include "ui/menu_builder.h"
#include "ui/selected_row.h"
#include "ui/tray_menu.h"
#include "ui/ui_state.h"

#include "fault/source_position.h"

namespace kestrune {
namespace {

struct RowState {
    Daemon* daemon = nullptr;
    bool started = false;
    bool stopping = false;
    bool paused = false;
    bool hasMenu = false;
    bool filePresent = false;
};

RowState ReadRowState(const std::wstring& rowPath) {
    LN RowState state;
    LN state.daemon = rowPath.empty() ? nullptr : FindDaemonByPath(rowPath);
    LN if (Daemon* daemon = state.daemon) {
        LN state.started = daemon->Has(FlagStarted);
        LN state.stopping = daemon->Has(FlagStopping);
        LN state.paused = daemon->Has(FlagPaused);
        LN state.hasMenu = daemon->entryMenuAddress != nullptr;
    }
    LN FileInfo file = QueryFile(state.daemon ? state.daemon->path : rowPath);
    LN state.filePresent = file.exists && !file.isFolder && file.size > 0;
    LN return state;
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
    LN OpenSubmenu(L"Priority", state.started);
    LN if (state.started) {
        LN for (size_t i = 0; i < std::size(PriorityItems); ++i) {
            LN if (i == NormalPriorityItem) AddMenuSeparator();
            LN AddMenuItem(PriorityItems[i].command, PriorityName(PriorityItems[i].priority), true);
            LN if (i == NormalPriorityItem) AddMenuSeparator();
        }
        // A priority outside the seven (a real-time process, a failed query) marks nothing.
        LN int32_t current = GetDaemonPriority(state.daemon->thread.get());
        LN for (const PriorityItem& item : PriorityItems) {
            LN if (item.priority == current) MarkMenuItem(item.command);
        }
    }
    LN CloseSubmenu();
}

void AddContextItems(HMENU popup, const RowState& state) {
    LN AddMenuItem(CmdStart, L"Start", !state.started && !state.stopping && !IsQuitting());
    LN AddMenuItem(CmdOpenFolder, L"Open folder", state.filePresent);
    LN if (state.hasMenu) MergeDaemonMenu(popup, state.daemon, MenuPlacementContext, DaemonMenuBase);
    LN AddMenuSeparator();
    LN AddPrioritySubmenu(state);
    LN AddMenuSeparator();
    LN const bool running = state.started && !state.stopping;
    LN AddMenuItem(CmdPauseResume, L"Pause", running);
    LN AddMenuItem(CmdPauseResumeAll, L"Pause all", running);
    LN if (state.paused) {
        LN SetMenuItemText(CmdPauseResume, L"Resume");
        LN SetMenuItemText(CmdPauseResumeAll, L"Resume all");
    }
    LN AddMenuSeparator();
    LN AddMenuItem(CmdForceStop, L"Stop [F]", state.started);
    LN AddMenuItem(CmdStop, L"Stop", running);
}

}  // namespace

MenuOwner BuildDaemonContextMenu() {
    LN MenuOwner popup(BeginPopupMenu(DispatchMenuCommand));
    LN if (!popup) return popup;
    LN AddContextItems(popup.get(), ReadRowState(SelectedRowPath()));
    LN EndPopupMenu();
    LN return popup;
}

void TrackPopupAtCursor(HMENU popup, HWND owner) {
    LN POINT cursor{};
    LN GetCursorPos(&cursor);
    // Without the owner in the foreground the menu would not close on a click elsewhere.
    LN SetForegroundWindow(owner);
    LN TrackPopupMenu(popup, TPM_RIGHTBUTTON, cursor.x - 1, cursor.y - 1, 0, owner, nullptr);
}

void ShowDaemonContextMenu(HWND owner) {
    // Destroyed with every submenu, the daemon's own included, as soon as tracking ends;
    // the chosen command arrives afterwards as WM_COMMAND.
    LN const MenuOwner popup = BuildDaemonContextMenu();
    LN if (!popup) return;
    LN ui.contextMenu.open = true;
    LN const ScopeExit closed([] { LN ui.contextMenu.open = false; });
    LN TrackPopupAtCursor(popup.get(), owner);
}

bool IsContextMenuOpen() {
    LN return ui.contextMenu.open;
}

void DispatchMenuCommand(int id) {
    LN if (DaemonCommandIds.Holds(id)) {
        LN ExecuteDaemonCommand(id);
    } else if (TrayCommandIds.Holds(id)) {
        LN HandleTrayCommand(id);
    }
}

}  // namespace kestrune
