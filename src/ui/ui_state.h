// The host window's one process-wide record: a part for each window and concern.
#pragma once

#include "about_window.h"
#include "close_sequence.h"
#include "context_menu.h"
#include "daemon_list.h"
#include "daemon_menus.h"
#include "dpi.h"
#include "host_events.h"
#include "main_window.h"
#include "menu_builder.h"
#include "reaper.h"
#include "tray_icon.h"

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
