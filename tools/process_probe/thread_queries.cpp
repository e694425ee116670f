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

bool ReadThreadIdentity(HANDLE thread, ThreadIdentity& identity) {
    FILETIME created{}, exited{}, kernel{}, user{};
    if (!GetThreadTimes(thread, &created, &exited, &kernel, &user)) return false;
    if (WaitForSingleObject(thread, 0) == WAIT_OBJECT_0) return false;
    identity = {GetThreadId(thread), (static_cast<uint64_t>(created.dwHighDateTime) << 32) | created.dwLowDateTime};
    return true;
}

bool ReadThreadIdentities(DWORD processId, std::vector<ThreadIdentity>& threads) {
    std::vector<DWORD> ids;
    if (!ReadThreads(processId, ids)) return false;
    for (DWORD id : ids) {
        HandleOwner thread(OpenThread(THREAD_QUERY_INFORMATION | SYNCHRONIZE, FALSE, id));
        ThreadIdentity identity;
        if (thread && ReadThreadIdentity(thread.get(), identity)) threads.push_back(identity);
    }
    return true;
}

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
