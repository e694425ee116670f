// The state of one check, handed from step to step.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "core/daemon_record.h"
#include "core/loader.h"
#include "findings.h"
#include "options.h"
#include "pe_image.h"
#include "process_snapshot.h"

namespace daemoncheck {

struct Check {
    Options options;
    Findings findings;
    PeImage image;
    kestrune::LoadFacts facts;
    // The host's record while the daemon is loaded; released only by the host's own unloading.
    kestrune::Daemon* daemon = nullptr;
    HMODULE module = nullptr;  // the daemon's library, not owned; only compared against
    uintptr_t moduleStart = 0;
    uintptr_t moduleEnd = 0;
    DWORD daemonThreadId = 0;
    bool threadTerminated = false;  // the host's unloading had to end the daemon's thread
    // A reference of our own that keeps the image mapped after the host has freed
    // it, so leftover threads and windows can be looked at before it goes.
    HMODULE pin = nullptr;
    // Window classes that the daemon registered under its own module.
    std::vector<std::wstring> daemonClasses;
    CounterSupport counters;
    ProcessSnapshot before;
};

// True when address lies inside the daemon's mapped image.
inline bool IsInDaemon(const Check& check, const void* address) {
    auto value = reinterpret_cast<uintptr_t>(address);
    return value >= check.moduleStart && value < check.moduleEnd;
}

// The file and its exports, read before anything of it runs.
void ExamineFile(Check& check);

// Loads the daemon with the host's own LoadDaemon and reports what the host made of each export.
void LoadAndJudge(Check& check);

// Starts the daemon's thread as the host does and lets it settle.
void StartAndSettle(Check& check);

// Asks EntryMenu for both placements, as the host does, and judges the menus and the window.
void CheckMenus(Check& check);

// Asks the daemon to stop through its state word, waits, and unloads it as the host does.
void StopAndUnload(Check& check);

// Adds the classes of the process's windows that the daemon registered.
void CollectDaemonClasses(Check& check, const std::vector<HWND>& windows);

// Compares the process after the daemon with the process before it.
void CheckLeftovers(Check& check);

}  // namespace daemoncheck
