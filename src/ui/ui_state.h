// The host window's one process-wide record: a part for each window and concern.
#pragma once

#include "ui/about_window.h"
#include "ui/close_sequence.h"
#include "ui/context_menu.h"
#include "ui/daemon_list.h"
#include "ui/daemon_menus.h"
#include "ui/dpi.h"
#include "ui/host_events.h"
#include "ui/main_window.h"
#include "ui/menu_builder.h"
#include "ui/reaper.h"
#include "ui/tray_icon.h"

namespace kestrune {

struct UiState {
    MainWindowState main;
    DaemonListState list;
    TrayState tray;
    AboutState about;
    ContextMenuState contextMenu;
    MenuConstruction menu;
    MenuRouting routing;
    HostEventQueue events;
    ReaperState reaper;
    CloseState close;
    DisplayDpi display;
};

extern UiState ui;

// Returns this record and the core's to their state at process entry; the one reset that
// tests use between cases.
void ResetHost();

}  // namespace kestrune
