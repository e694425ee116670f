#include "process_snapshot.h"

#include <windows.h>

#include <winternl.h>

#include <algorithm>
#include <cstddef>

#include "core/clock.h"
#include "core/lifecycle.h"
#include "core/loader.h"
#include "core/owner.h"
#include "handle_table.h"
#include "process_probe.h"

namespace daemoncheck {
namespace {

using kestrune::HandleOwner;

template <typename Function>
Function NtdllFunction(const char* name) {
    return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), name)));
}

void CountHandles(ProcessSnapshot& snapshot) {
    snapshot.handleTableRead = kestrune::ReadHandleTable(GetCurrentProcessId(), snapshot.handleValues);
    DWORD count = 0;
    GetProcessHandleCount(GetCurrentProcess(), &count);
    snapshot.handles = count ? count : static_cast<DWORD>(snapshot.handleValues.size());
}

// A thread's first windows bring per-thread helpers along (a message queue, an
// input-method window), and the process's first one its desktop connection.
DWORD WINAPI MakeWindowsAndLeave(LPVOID) {
    const kestrune::WindowOwner messageOnly(
        CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr));
    const kestrune::WindowOwner topLevel(
        CreateWindowExW(0, L"STATIC", L"", WS_OVERLAPPED, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr));
    MSG message;
    PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE);
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 0, QS_ALLINPUT);
    return 0;
}

}  // namespace

ProcessSnapshot TakeSnapshot() {
    ProcessSnapshot snapshot;
    // Counted first, before this function opens a snapshot handle of its own.
    CountHandles(snapshot);
    snapshot.gdiObjects = GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS);
    snapshot.userObjects = GetGuiResources(GetCurrentProcess(), GR_USEROBJECTS);
    kestrune::probe::ReadThreadIdentities(GetCurrentProcessId(), snapshot.threads);
    snapshot.windows = kestrune::probe::ProcessWindows(GetCurrentProcessId());
    return snapshot;
}

CounterSupport WarmUpAndProbeCounters() {
    HandleOwner thread(CreateThread(nullptr, 4096, MakeWindowsAndLeave, nullptr, 0, nullptr));
    WaitForSingleObject(thread.get(), INFINITE);
    thread.reset();
    // The first wait on the main thread's message queue opens a handle to it for good (so under Wine).
    MakeWindowsAndLeave(nullptr);
    kestrune::ClockMilliseconds();
    kestrune::probe::ThreadStartAddress(GetCurrentThreadId());
    HandleTypeName(reinterpret_cast<uintptr_t>(GetCurrentProcess()));
    ModuleNameAt(reinterpret_cast<const void*>(&WarmUpAndProbeCounters));
    TakeSnapshot();

    CounterSupport support;
    ProcessSnapshot before = TakeSnapshot();
    // One object of each kind, held while the counts are taken.
    const HandleOwner event(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    const kestrune::PenOwner pen(CreatePen(PS_SOLID, 1, 0));
    const kestrune::MenuOwner menu(CreatePopupMenu());
    ProcessSnapshot during = TakeSnapshot();
    support.handles = during.handles > before.handles;
    support.gdiObjects = during.gdiObjects > before.gdiObjects;
    support.userObjects = during.userObjects > before.userObjects;
    return support;
}

std::wstring WindowClassName(HWND window) {
    wchar_t name[256] = {};
    if (!GetClassNameW(window, name, 256)) return L"?";
    return name;
}

std::wstring WindowKind(HWND window) {
    HWND parent = GetAncestor(window, GA_PARENT);
    if (parent == GetDesktopWindow()) return L"top-level";
    HWND messageParent = GetAncestor(FindWindowExW(HWND_MESSAGE, nullptr, nullptr, nullptr), GA_PARENT);
    if (parent && parent == messageParent) return L"message-only";
    return L"child";
}

bool WaitPumping(HANDLE thread, DWORD milliseconds) {
    uint64_t deadline = kestrune::ClockMilliseconds() + milliseconds;
    for (;;) {
        uint64_t now = kestrune::ClockMilliseconds();
        DWORD left = now >= deadline ? 0 : static_cast<DWORD>(deadline - now);
        DWORD woke = MsgWaitForMultipleObjects(1, &thread, FALSE, left, QS_ALLINPUT);
        if (woke == WAIT_OBJECT_0) return true;
        if (woke != WAIT_OBJECT_0 + 1) return !kestrune::IsThreadAlive(thread);
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }
}

void PumpMessages(DWORD milliseconds) {
    uint64_t deadline = kestrune::ClockMilliseconds() + milliseconds;
    for (;;) {
        uint64_t now = kestrune::ClockMilliseconds();
        if (now >= deadline) return;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(deadline - now), QS_ALLINPUT);
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }
}

std::wstring HandleTypeName(uintptr_t handle) {
    using Query = LONG(WINAPI*)(HANDLE, int, PVOID, ULONG, PULONG);
    constexpr int ObjectTypeInformation = 2;
    auto query = NtdllFunction<Query>("NtQueryObject");
    if (!query) return L"?";
    // Starts with the type's name as a counted UTF-16 string.
    alignas(8) unsigned char buffer[1024] = {};
    if (query(reinterpret_cast<HANDLE>(handle), ObjectTypeInformation, buffer, sizeof buffer - 2, nullptr) != 0)
        return L"?";
    auto* name = reinterpret_cast<UNICODE_STRING*>(buffer);
    if (!name->Buffer || name->Length == 0) return L"?";
    return std::wstring(name->Buffer, name->Length / sizeof(wchar_t));
}

std::wstring ModuleNameAt(const void* address) {
    HMODULE module = nullptr;
    if (!address ||
        !GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            static_cast<LPCWSTR>(address), &module)) {
        return {};
    }
    wchar_t path[MAX_PATH] = {};
    DWORD length = GetModuleFileNameW(module, path, MAX_PATH);
    return kestrune::FilePartOf(std::wstring(path, length));
}

}  // namespace daemoncheck
