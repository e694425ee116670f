// Learning that a daemon's thread has ended without asking the system about every thread.
#pragma once

#include <windows.h>

#include <atomic>

#include "core/owner.h"

namespace kestrune {

// A wait registered with the system's thread pool marks the watch once the thread has
// ended, so the reaper can pass a daemon with nothing to do without a liveness wait.
// It waits on a handle of its own: the record's handle may be closed before the watch
// is released. The wait is declared last, so it is released before that handle.
struct ThreadEndWatch {
    HandleOwner thread;
    RegisteredWaitOwner wait;
    std::atomic<LONG> ended{0};
};

// A thread is alive while waiting on it with a zero time-out does not find it signalled.
bool IsThreadAlive(HANDLE thread);

// Starts watching thread, once; false when the system could not, and then the caller
// has to ask the thread itself.
bool WatchThreadEnd(ThreadEndWatch& watch, HANDLE thread);

// True while the watch is known to see thread, which has not ended yet.
bool IsWatchedAndRunning(const ThreadEndWatch& watch);

}  // namespace kestrune
