#include "core/loader_lock.h"

#include <windows.h>

#include <winternl.h>

#include "core/clock.h"
#include "core/image_range.h"

#include "fault/source_position.h"

namespace kestrune {
namespace {

// LdrLockLoaderLock's flag to take the lock only if it is free, and its answer when it was taken.
constexpr ULONG TryOnly = 2;
constexpr ULONG Acquired = 1;
// Where the process environment block keeps its pointer to the loader's critical section, the
// same on every version of the system since it was introduced.
constexpr size_t LoaderLockField = sizeof(void*) == 8 ? 0x110 : 0xA0;

using LockFunction = LONG(NTAPI*)(ULONG flags, ULONG* disposition, ULONG_PTR* cookie);
using UnlockFunction = LONG(NTAPI*)(ULONG flags, ULONG_PTR cookie);
using QueryProcessFunction = LONG(NTAPI*)(HANDLE process, PROCESSINFOCLASS what, PVOID buffer, ULONG size, PULONG done);

// Looked up once, before any thread is held: looking up takes the loader's lock itself.
struct LoaderLockCalls {
    bool prepared = false;
    LockFunction lock = nullptr;
    UnlockFunction unlock = nullptr;
    const RTL_CRITICAL_SECTION* section = nullptr;
};
// File scope: the lock is the process's.
LoaderLockCalls calls;

const RTL_CRITICAL_SECTION* FindLoaderSection(HMODULE ntdll) {
    LN const auto query = LookUp<QueryProcessFunction>(ntdll, "NtQueryInformationProcess");
    LN PROCESS_BASIC_INFORMATION basic{};
    LN if (!query ||
           query(GetCurrentProcess(), ProcessBasicInformation, &basic, sizeof basic, nullptr) < 0) return nullptr;
    LN const auto* environment = reinterpret_cast<const BYTE*>(basic.PebBaseAddress);
    LN return environment ? *reinterpret_cast<RTL_CRITICAL_SECTION* const*>(environment + LoaderLockField) : nullptr;
}

const LoaderLockCalls& Calls() {
    LN if (!calls.prepared) PrepareLoaderLock();
    LN return calls;
}

}  // namespace

void PrepareLoaderLock() {
    LN if (calls.prepared) return;
    LN HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    LN calls.lock = LookUp<LockFunction>(ntdll, "LdrLockLoaderLock");
    LN calls.unlock = LookUp<UnlockFunction>(ntdll, "LdrUnlockLoaderLock");
    LN calls.section = FindLoaderSection(ntdll);
    LN calls.prepared = true;
}

bool TryLockLoader(ULONG_PTR& cookie) {
    LN ULONG disposition = 0;
    LN return Calls().lock && Calls().lock(TryOnly, &disposition, &cookie) >= 0 && disposition == Acquired;
}

bool LockLoader(ULONG_PTR& cookie) {
    LN return Calls().lock && Calls().lock(0, nullptr, &cookie) >= 0;
}

void UnlockLoader(ULONG_PTR cookie) {
    LN if (Calls().unlock) Calls().unlock(0, cookie);
}

bool IsLoaderLockFree(DWORD patience) {
    // Without the calls nothing can be told, and the host goes on as it always did.
    LN if (!Calls().lock || !Calls().unlock) return true;
    LN const uint64_t deadline = ClockMilliseconds() + patience;
    LN for (;;) {
        LN ULONG_PTR cookie = 0;
        LN if (TryLockLoader(cookie)) {
            LN UnlockLoader(cookie);
            LN return true;
        }
        LN if (ClockMilliseconds() >= deadline) return false;
        LN Sleep(1);
    }
}

bool IsLoaderLockStuck(DWORD patience) {
    LN const DWORD first = LoaderLockOwner();
    LN if (first == 0 || first == GetCurrentThreadId()) return false;
    LN const uint64_t deadline = ClockMilliseconds() + patience;
    LN while (ClockMilliseconds() < deadline) {
        LN if (LoaderLockOwner() != first) return false;
        LN Sleep(1);
    }
    LN return true;
}

DWORD LoaderLockOwner() {
    LN if (!calls.section) return 0;
    LN return static_cast<DWORD>(
        reinterpret_cast<uintptr_t>(const_cast<const volatile HANDLE&>(calls.section->OwningThread)));
}

}  // namespace kestrune
