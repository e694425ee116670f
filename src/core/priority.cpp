#include "core/priority.h"

#include "core/lifecycle.h"

#include "fault/source_position.h"

namespace kestrune {

const wchar_t* PriorityName(int32_t priority) {
    LN switch (priority) {
    case THREAD_PRIORITY_IDLE:
        LN return L"Idle";
    case THREAD_PRIORITY_LOWEST:
        LN return L"Lowest";
    case THREAD_PRIORITY_BELOW_NORMAL:
        LN return L"Below normal";
    case THREAD_PRIORITY_NORMAL:
        LN return L"Normal";
    case THREAD_PRIORITY_ABOVE_NORMAL:
        LN return L"Above normal";
    case THREAD_PRIORITY_HIGHEST:
        LN return L"Highest";
    case THREAD_PRIORITY_TIME_CRITICAL:
        LN return L"Time critical";
    default:
        LN return L"n/a";
    }
}

int32_t GetDaemonPriority(HANDLE thread) {
    LN if (!IsThreadAlive(thread)) return 0;
    LN return GetThreadPriority(thread);
}

void SetDaemonPriority(HANDLE thread, int32_t priority) {
    LN if (IsThreadAlive(thread)) SetThreadPriority(thread, priority);
}

}  // namespace kestrune
