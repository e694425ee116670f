#include "thread_origin.h"

#include <cstdint>

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

struct Redirect {
    const wchar_t* module;
    const char* name;
    void** real;
    void* wrapper;
};

template <typename Function>
void* Address(Function function) {
    return reinterpret_cast<void*>(function);
}

// Every module a daemon may take these functions from; the loader writes the address
// the named module exports (after forwarding) into the importer's table.
const Redirect Redirects[] = {
    {L"kernel32.dll", "CreateThread", reinterpret_cast<void**>(&realCreateThread), Address(&WatchedCreateThread)},
    {L"kernelbase.dll", "CreateThread", reinterpret_cast<void**>(&realCreateThread), Address(&WatchedCreateThread)},
    {L"kernel32.dll", "CreateRemoteThread", reinterpret_cast<void**>(&realCreateRemoteThread),
     Address(&WatchedCreateRemoteThread)},
    {L"kernelbase.dll", "CreateRemoteThread", reinterpret_cast<void**>(&realCreateRemoteThread),
     Address(&WatchedCreateRemoteThread)},
    {L"kernel32.dll", "CreateRemoteThreadEx", reinterpret_cast<void**>(&realCreateRemoteThreadEx),
     Address(&WatchedCreateRemoteThreadEx)},
    {L"kernelbase.dll", "CreateRemoteThreadEx", reinterpret_cast<void**>(&realCreateRemoteThreadEx),
     Address(&WatchedCreateRemoteThreadEx)},
    {L"msvcrt.dll", "_beginthreadex", reinterpret_cast<void**>(&realBeginThreadEx), Address(&WatchedBeginThreadEx)},
    {L"ucrtbase.dll", "_beginthreadex", reinterpret_cast<void**>(&realBeginThreadEx), Address(&WatchedBeginThreadEx)},
    {L"msvcrt.dll", "_beginthread", reinterpret_cast<void**>(&realBeginThread), Address(&WatchedBeginThread)},
    {L"ucrtbase.dll", "_beginthread", reinterpret_cast<void**>(&realBeginThread), Address(&WatchedBeginThread)},
};

// The redirect whose function sits at address, with its real address filled in; or null.
const Redirect* RedirectFor(void* address) {
    for (const Redirect& redirect : Redirects) {
        HMODULE module = GetModuleHandleW(redirect.module);
        if (!module) continue;
        void* exported = reinterpret_cast<void*>(GetProcAddress(module, redirect.name));
        if (!exported || exported != address) continue;
        // Both modules of a pair resolve to one function; the first one found is called.
        if (!*redirect.real) *redirect.real = exported;
        return &redirect;
    }
    return nullptr;
}

void Patch(void** slot, void* value) {
    DWORD previous = 0;
    if (!VirtualProtect(slot, sizeof *slot, PAGE_READWRITE, &previous)) return;
    *slot = value;
    VirtualProtect(slot, sizeof *slot, previous, &previous);
}

}  // namespace

void WatchThreadCreation(HMODULE daemon) {
    auto base = reinterpret_cast<unsigned char*>(daemon);
    auto dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    auto nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& directory = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (!directory.VirtualAddress) return;
    for (auto descriptor = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + directory.VirtualAddress);
         descriptor->Name != 0; ++descriptor) {
        for (auto slot = reinterpret_cast<void**>(base + descriptor->FirstThunk); *slot; ++slot) {
            const Redirect* redirect = RedirectFor(*slot);
            if (redirect) Patch(slot, redirect->wrapper);
        }
    }
}

bool WasCreatedByDaemon(DWORD threadId) {
    LONG count = createdCount < MaximumThreads ? createdCount : MaximumThreads;
    for (LONG i = 0; i < count; ++i) {
        if (createdThreads[i] == threadId) return true;
    }
    return false;
}

}  // namespace daemoncheck
