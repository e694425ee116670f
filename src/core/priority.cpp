#include "priority.h"

#include "lifecycle.h"

namespace kestrune {

const wchar_t* PriorityName(int32_t priority) {
    switch (priority) {
    case THREAD_PRIORITY_IDLE: return L"Idle";
    case THREAD_PRIORITY_LOWEST: return L"Lowest";
    case THREAD_PRIORITY_BELOW_NORMAL: return L"Below normal";
    case THREAD_PRIORITY_NORMAL: return L"Normal";
    case THREAD_PRIORITY_ABOVE_NORMAL: return L"Above normal";
    case THREAD_PRIORITY_HIGHEST: return L"Highest";
    case THREAD_PRIORITY_TIME_CRITICAL: return L"Time critical";
    default: return L"n/a";
    }
}

int32_t GetDaemonPriority(HANDLE thread) {
    if (!IsThreadAlive(thread)) return 0;
    return GetThreadPriority(thread);
}

void SetDaemonPriority(HANDLE thread, int32_t priority) {
    if (IsThreadAlive(thread)) SetThreadPriority(thread, priority);
}

}  // namespace kestrune
