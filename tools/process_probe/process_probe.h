// Looking at a process, this one or another, from the system's lists: its threads, its
// modules, its windows and its address space. Shared by daemoncheck, the tests and the
// benchmarks.
#pragma once

#include <windows.h>

#include <compare>
#include <cstdint>
#include <string>
#include <vector>

namespace kestrune::probe {

// Appends the ids of processId's threads, in the order the system lists them. False when
// the system gives no thread list.
bool ReadThreads(DWORD processId, std::vector<DWORD>& threads);

// A thread as it is known for as long as it lives. The system gives an ended thread's id to a
// later thread (Wine within one run, Windows sooner), so the id and the creation time together
// say which thread it is.
struct ThreadIdentity {
    DWORD id = 0;
    uint64_t created = 0;  // FILETIME, as one number

    friend auto operator<=>(const ThreadIdentity&, const ThreadIdentity&) = default;
};

// The identity of thread, opened with THREAD_QUERY_INFORMATION and SYNCHRONIZE. False when
// the thread has ended: its id may already be another thread's.
bool ReadThreadIdentity(HANDLE thread, ThreadIdentity& identity);

// Appends the identities of processId's living threads, in the order the system lists them.
// False when the system gives no thread list.
bool ReadThreadIdentities(DWORD processId, std::vector<ThreadIdentity>& threads);

// The address a thread was started at, or null when the thread cannot be opened or the
// system does not say.
const void* ThreadStartAddress(DWORD threadId);
// The same for a thread already opened with THREAD_QUERY_INFORMATION.
const void* ThreadStartAddress(HANDLE thread);

// The suspend count the system keeps for thread (opened with THREAD_QUERY_INFORMATION),
// read without changing it; -1 when the system does not say.
long ThreadSuspendCount(HANDLE thread);

// One module loaded in a process: its full path as loaded and the span of its image.
struct ModuleSpan {
    std::wstring path;
    uintptr_t base = 0;
    size_t size = 0;
};

// Appends processId's modules. False when the system gives no module list.
bool ReadModules(DWORD processId, std::vector<ModuleSpan>& modules);

// The module whose image holds address, or null.
const ModuleSpan* ModuleHolding(const std::vector<ModuleSpan>& modules, const void* address);

// The top-level and message-only windows of processId (their children are not listed).
std::vector<HWND> ProcessWindows(DWORD processId);

// A walk of a process's address space with VirtualQueryEx.
struct AddressSpace {
    uint64_t privateCommitted = 0;  // bytes committed privately: heaps, stacks, the image copies written to
    uint64_t imageCommitted = 0;    // bytes of mapped executable images
    uint64_t mappedCommitted = 0;   // bytes of other mapped views
    uint64_t reserved = 0;          // bytes reserved but not committed
    uint64_t used = 0;              // all bytes not free
    size_t regions = 0;
};

// process is opened with PROCESS_QUERY_INFORMATION; all zero when it cannot be read.
AddressSpace WalkAddressSpace(HANDLE process);

}  // namespace kestrune::probe
