// The one process-wide record of the host's state.
#pragma once

#include <windows.h>

#include <atomic>
#include <string>
#include <vector>

#include "daemon_record.h"

namespace kestrune {

// A range of daemon menu identifiers and the daemon window that receives them.
struct MenuRoute {
    int32_t firstId = 0;
    int32_t lastId = 0;
    HWND window = nullptr;  // the daemon's window, not owned
};

using MenuHandler = void (*)(int id);

// State of one outermost folder scan, shared by its nested calls.
struct ScanState {
    int level = 0;
    int accepted = 0;
    int capacity = 0;
    void* pattern = nullptr;    // the compiled pattern while a scan runs
    void* matchData = nullptr;  // one match block for every name of the scan
};

struct Application {
    HICON trayIcon = nullptr;  // destroyed by the exit sequence
    int windowShown = 0;
    UINT taskbarCreatedMessage = 0;
    // Daemon threads read it as they start; written once by the main thread.
    std::atomic<LONG> quitting{0};
    HWND AboutText = nullptr;
    HWND AboutWindow = nullptr;
    HWND mainWindow = nullptr;
    int trayIconPresent = 0;
    std::wstring trayTooltip;
    MenuHandler menuHandler = nullptr;
    int32_t MenuRouteCount = 0;
    UINT trayIconId = 0;
    HMENU menuUnderConstruction = nullptr;
    ScanState scan;
    // 1-based; slot 0 stays empty.
    std::vector<std::wstring> DiscoveredPaths;
    // 1-based; slot 0 stays null. Records are freed only by UnloadDaemon.
    std::vector<Daemon*> DaemonTable;
    // 1-based; slot 0 never holds an entry.
    std::vector<MenuRoute> MenuRoutes;
};

extern Application app;

// Zeroes the record and creates the three tables with their empty slot 0.
void ResetApplication();

bool IsQuitting();

// The number of loaded daemons, which is also the table's last index.
int LastDaemonIndex();

}  // namespace kestrune
