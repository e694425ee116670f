#include "thread_origin.h"

#include <cstdint>
#include <iterator>

#include "import_redirect.h"

namespace daemoncheck {
namespace {

using CreateThreadFunction = HANDLE(WINAPI*)(LPSECURITY_ATTRIBUTES, SIZE_T, LPTHREAD_START_ROUTINE, LPVOID, DWORD,
                                             LPDWORD);
using CreateRemoteThreadFunction = HANDLE(WINAPI*)(HANDLE, LPSECURITY_ATTRIBUTES, SIZE_T, LPTHREAD_START_ROUTINE,
                                                   LPVOID, DWORD, LPDWORD);
using CreateRemoteThreadExFunction = HANDLE(WINAPI*)(HANDLE, LPSECURITY_ATTRIBUTES, SIZE_T, LPTHREAD_START_ROUTINE,
                                                     LPVOID, DWORD, LPPROC_THREAD_ATTRIBUTE_LIST, LPDWORD);
using BeginThreadExFunction = uintptr_t(__cdecl*)(void*, unsigned, unsigned(__stdcall*)(void*), void*, unsigned,
                                                  unsigned*);
using BeginThreadFunction = uintptr_t(__cdecl*)(void(__cdecl*)(void*), unsigned, void*);

// Appended from any thread without a lock: each writer takes a slot of its own.
constexpr LONG MaximumThreads = 4096;
DWORD createdThreads[MaximumThreads];
volatile LONG createdCount = 0;

CreateThreadFunction realCreateThread = nullptr;
CreateRemoteThreadFunction realCreateRemoteThread = nullptr;
CreateRemoteThreadExFunction realCreateRemoteThreadEx = nullptr;
BeginThreadExFunction realBeginThreadEx = nullptr;
BeginThreadFunction realBeginThread = nullptr;

void NoteThread(DWORD id) {
    if (id == 0) return;
    LONG slot = InterlockedIncrement(&createdCount) - 1;
    if (slot < MaximumThreads) createdThreads[slot] = id;
}

void NoteThreadOf(HANDLE thread) {
    if (thread && thread != INVALID_HANDLE_VALUE) NoteThread(GetThreadId(thread));
}

HANDLE WINAPI WatchedCreateThread(LPSECURITY_ATTRIBUTES security, SIZE_T stack, LPTHREAD_START_ROUTINE start,
                                  LPVOID parameter, DWORD flags, LPDWORD id) {
    DWORD created = 0;
    HANDLE thread = realCreateThread(security, stack, start, parameter, flags, &created);
    if (thread) NoteThread(created);
    if (id) *id = created;
    return thread;
}

HANDLE WINAPI WatchedCreateRemoteThread(HANDLE process, LPSECURITY_ATTRIBUTES security, SIZE_T stack,
                                        LPTHREAD_START_ROUTINE start, LPVOID parameter, DWORD flags, LPDWORD id) {
    HANDLE thread = realCreateRemoteThread(process, security, stack, start, parameter, flags, id);
    if (GetProcessId(process) == GetCurrentProcessId()) NoteThreadOf(thread);
    return thread;
}

HANDLE WINAPI WatchedCreateRemoteThreadEx(HANDLE process, LPSECURITY_ATTRIBUTES security, SIZE_T stack,
                                          LPTHREAD_START_ROUTINE start, LPVOID parameter, DWORD flags,
                                          LPPROC_THREAD_ATTRIBUTE_LIST attributes, LPDWORD id) {
    HANDLE thread = realCreateRemoteThreadEx(process, security, stack, start, parameter, flags, attributes, id);
    if (GetProcessId(process) == GetCurrentProcessId()) NoteThreadOf(thread);
    return thread;
}

uintptr_t __cdecl WatchedBeginThreadEx(void* security, unsigned stack, unsigned(__stdcall* start)(void*),
                                       void* parameter, unsigned flags, unsigned* id) {
    unsigned created = 0;
    uintptr_t thread = realBeginThreadEx(security, stack, start, parameter, flags, &created);
    if (thread) NoteThread(created);
    if (id) *id = created;
    return thread;
}

// The handle of _beginthread closes itself when the thread ends: a thread that is already
// gone gives no id, and a thread that is gone is not left behind either.
uintptr_t __cdecl WatchedBeginThread(void(__cdecl* start)(void*), unsigned stack, void* parameter) {
    uintptr_t thread = realBeginThread(start, stack, parameter);
    if (thread && thread != static_cast<uintptr_t>(-1)) NoteThreadOf(reinterpret_cast<HANDLE>(thread));
    return thread;
}

// Every module a daemon may take these functions from.
const ImportRedirect Redirects[] = {
    {L"kernel32.dll", "CreateThread", reinterpret_cast<void**>(&realCreateThread),
     FunctionAddress(&WatchedCreateThread)},
    {L"kernelbase.dll", "CreateThread", reinterpret_cast<void**>(&realCreateThread),
     FunctionAddress(&WatchedCreateThread)},
    {L"kernel32.dll", "CreateRemoteThread", reinterpret_cast<void**>(&realCreateRemoteThread),
     FunctionAddress(&WatchedCreateRemoteThread)},
    {L"kernelbase.dll", "CreateRemoteThread", reinterpret_cast<void**>(&realCreateRemoteThread),
     FunctionAddress(&WatchedCreateRemoteThread)},
    {L"kernel32.dll", "CreateRemoteThreadEx", reinterpret_cast<void**>(&realCreateRemoteThreadEx),
     FunctionAddress(&WatchedCreateRemoteThreadEx)},
    {L"kernelbase.dll", "CreateRemoteThreadEx", reinterpret_cast<void**>(&realCreateRemoteThreadEx),
     FunctionAddress(&WatchedCreateRemoteThreadEx)},
    {L"msvcrt.dll", "_beginthreadex", reinterpret_cast<void**>(&realBeginThreadEx),
     FunctionAddress(&WatchedBeginThreadEx)},
    {L"ucrtbase.dll", "_beginthreadex", reinterpret_cast<void**>(&realBeginThreadEx),
     FunctionAddress(&WatchedBeginThreadEx)},
    {L"msvcrt.dll", "_beginthread", reinterpret_cast<void**>(&realBeginThread), FunctionAddress(&WatchedBeginThread)},
    {L"ucrtbase.dll", "_beginthread", reinterpret_cast<void**>(&realBeginThread), FunctionAddress(&WatchedBeginThread)},
};

}  // namespace

void WatchThreadCreation(HMODULE daemon) {
    RedirectImports(daemon, Redirects, std::size(Redirects));
}

bool WasCreatedByDaemon(DWORD threadId) {
    LONG count = createdCount < MaximumThreads ? createdCount : MaximumThreads;
    for (LONG i = 0; i < count; ++i) {
        if (createdThreads[i] == threadId) return true;
    }
    return false;
}

}  // namespace daemoncheck
