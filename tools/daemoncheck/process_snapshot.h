// What the process holds at one moment: handle and GUI object counts, its threads, its windows.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "process_probe.h"

namespace daemoncheck {

struct ProcessSnapshot {
    DWORD handles = 0;
    // The process's handle values from the system's handle table, where it answers.
    bool handleTableRead = false;
    std::vector<uintptr_t> handleValues;
    DWORD gdiObjects = 0;
    DWORD userObjects = 0;
    std::vector<kestrune::probe::ThreadIdentity> threads;  // living ones
    std::vector<HWND> windows;                             // top-level and message-only windows
};

// Which counters this system keeps: a counter that does not move when an object
// of its kind is made tells nothing.
struct CounterSupport {
    bool handles = false;
    bool gdiObjects = false;
    bool userObjects = false;
};

ProcessSnapshot TakeSnapshot();

// Does once what the checker itself does later (a thread, a window, a menu, a
// snapshot), so that the system's one-time set-up is not charged to the daemon,
// and finds out which counters move.
CounterSupport WarmUpAndProbeCounters();

// The window's class name, read without sending it a message.
std::wstring WindowClassName(HWND window);

// "message-only", "top-level" or "child".
std::wstring WindowKind(HWND window);

// Waits for the thread while dispatching this thread's messages, as the host's
// event loop would go on doing. True when the thread ended within the time.
bool WaitPumping(HANDLE thread, DWORD milliseconds);

// Dispatches this thread's messages for a while, as the host's event loop would.
void PumpMessages(DWORD milliseconds);

// The kind of object a handle of this process refers to ("Event", "File"), or "?".
std::wstring HandleTypeName(uintptr_t handle);

// The file name of the module that holds address, or an empty string.
std::wstring ModuleNameAt(const void* address);

}  // namespace daemoncheck
