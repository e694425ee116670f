// Thread priorities of daemons and their display names.
#pragma once

#include <windows.h>

#include <cstdint>

namespace kestrune {

// "Idle" .. "Time critical" for the seven settable priorities, "n/a" otherwise.
const wchar_t* PriorityName(int32_t priority);

// The live thread's priority, unfiltered; 0 for a thread that has ended.
int32_t GetDaemonPriority(HANDLE thread);

void SetDaemonPriority(HANDLE thread, int32_t priority);

}  // namespace kestrune
