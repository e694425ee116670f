// The daemon host core's one process-wide record.
#pragma once

#include <windows.h>

#include <atomic>
#include <string>
#include <vector>

#include "daemon_record.h"
#include "discovery.h"

namespace kestrune {

struct Application {
    // Daemon threads read it as they start; written once by the main thread.
    std::atomic<LONG> quitting{0};
    ScanState scan;
    // 1-based; slot 0 stays empty.
    std::vector<std::wstring> DiscoveredPaths = std::vector<std::wstring>(1);
    // 1-based; slot 0 stays null. Records are freed only by UnloadDaemon.
    std::vector<Daemon*> DaemonTable = std::vector<Daemon*>(1);
};

extern Application app;

// Returns the record to its state at process entry: not quitting, the tables holding only
// their empty slot 0. The host window's record has its own reset around this one.
void ResetApplication();

bool IsQuitting();

// The number of loaded daemons, which is also the table's last index.
int LastDaemonIndex();

}  // namespace kestrune
