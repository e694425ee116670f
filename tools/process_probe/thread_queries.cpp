#include "core/owner.h"
#include "process_probe.h"

namespace kestrune::probe {
namespace {

// Classes of NtQueryInformationThread that the documented API does not reach.
constexpr int ThreadQuerySetWin32StartAddress = 9;
constexpr int ThreadSuspendCountClass = 35;

// Asks NtQueryInformationThread, looked up once; a failure status where ntdll lacks it.
LONG QueryThread(HANDLE thread, int informationClass, void* buffer, ULONG size) {
    using Query = LONG(WINAPI*)(HANDLE, int, PVOID, ULONG, PULONG);
    static const auto query = reinterpret_cast<Query>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQueryInformationThread")));
    constexpr LONG StatusProcedureNotFound = static_cast<LONG>(0xC000007A);
    return query ? query(thread, informationClass, buffer, size, nullptr) : StatusProcedureNotFound;
}

}  // namespace

const void* ThreadStartAddress(DWORD threadId) {
    HandleOwner thread(OpenThread(THREAD_QUERY_INFORMATION, FALSE, threadId));
    return thread ? ThreadStartAddress(thread.get()) : nullptr;
}

const void* ThreadStartAddress(HANDLE thread) {
    void* start = nullptr;
    if (QueryThread(thread, ThreadQuerySetWin32StartAddress, &start, sizeof start) != 0) return nullptr;
    return start;
}

long ThreadSuspendCount(HANDLE thread) {
    ULONG count = 0;
    if (QueryThread(thread, ThreadSuspendCountClass, &count, sizeof count) != 0) return -1;
    return static_cast<long>(count);
}

}  // namespace kestrune::probe
