// The record of one loaded daemon.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include <kestrune/daemon.h>

#include "core/owner.h"
#include "core/thread_end_watch.h"

namespace kestrune {

// Bits of Daemon::flags.
enum DaemonFlag : uint32_t {
    FlagStarted = 1,   // the thread was alive right after it was created
    FlagStopping = 2,  // a stop request has been handled
    FlagPaused = 4,    // the host has suspended the thread
};

// Values of Daemon::request, applied by TickDaemon.
enum DaemonRequest : int32_t {
    RequestNone = 0,
    RequestStop = 1,
    RequestPause = 2,
    RequestResume = 3,
    RequestForceStop = 4,
    RequestPriorityBase = 80,  // + a thread priority
};

// How long a daemon may take to return after 255 was written into its state word.
constexpr int32_t StopGracePeriod = 30000;

// Made by LoadDaemon, owned by the table while loaded, and freed by UnloadDaemon or
// AbandonDaemon. The thread is declared after the library, so it is released before the code
// it runs.
struct Daemon {
    EntryPointFunction entryPointAddress = nullptr;
    StateWord* stateWordAddress = nullptr;
    EntryMenuFunction entryMenuAddress = nullptr;
    ModuleOwner library;
    std::wstring fileName;
    std::wstring path;
    HandleOwner thread;
    uint32_t flags = 0;
    int32_t request = RequestNone;
    int32_t stopRequestTime = 0;
    uint64_t lastThreadTime = 0;
    // The host has decided to end the daemon and waits for its thread to reach a safe point.
    bool ending = false;
    int32_t endingSince = 0;        // low 32 bits of the clock when the first attempt was made
    int32_t endingRanAt = 0;        // low 32 bits of the clock when its thread was last seen to run
    uint64_t endingThreadTime = 0;  // its thread time then; the row's figure is left alone
    // A pause that found no safe point yet, and since when (low 32 bits of the clock).
    bool pauseWaiting = false;
    int32_t pauseWaitingSince = 0;
    // Set up by the reaper at its first visit of the running daemon.
    ThreadEndWatch threadEnd;

    bool Has(DaemonFlag flag) const { return (flags & flag) != 0; }
};

using DaemonOwner = std::unique_ptr<Daemon>;

}  // namespace kestrune
