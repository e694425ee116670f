// The daemon host core's one process-wide record.
#pragma once

#include <windows.h>

#include <atomic>
#include <string>
#include <vector>

#include "core/daemon_record.h"
#include "core/discovery.h"

namespace kestrune {

struct Application {
    // Daemon threads read it as they start; written once by the main thread.
    std::atomic<LONG> quitting{0};
    // The clock when the close began: the close ends within CloseLimit of it.
    uint64_t closeStartedAt = 0;
    // Set while the end of the session unloads daemons: it may be reached from a daemon's own code
    // on the main thread (a window's teardown that answers sent messages).
    bool endingSession = false;
    ScanState scan;
    // 1-based; slot 0 stays empty.
    std::vector<std::wstring> DiscoveredPaths = std::vector<std::wstring>(1);
    // 1-based; slot 0 stays null. Records are freed only by UnloadDaemon.
    std::vector<DaemonOwner> DaemonTable = std::vector<DaemonOwner>(1);
};

extern Application app;

// Returns the record to its state at process entry: not quitting, the tables holding only
// their empty slot 0. The host window's record has its own reset around this one.
void ResetApplication();

bool IsQuitting();

// How long a close may take whatever the daemons do: their grace, and then a little for each end
// to find a safe point. What has not ended by then is left in the process as it stands. The
// rest of the close's 32 s is the exit's waits (RunExitSequence).
constexpr uint64_t CloseLimit = 31000;

// Whether the host is quitting and its close has run past CloseLimit.
bool IsPastCloseLimit();

// The number of loaded daemons, which is also the table's last index.
int LastDaemonIndex();

}  // namespace kestrune
