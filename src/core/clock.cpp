#include "core/clock.h"

#include <windows.h>

#include "fault/source_position.h"

namespace kestrune {
namespace {

struct ClockBase {
    LONGLONG start = 0;
    LONGLONG ticksPerMillisecond = 0;  // 0: no performance counter
};

// The start is the first caller's own reading, so that the first reading is 0 exactly, however
// long the set-up took (an emulated machine can lose milliseconds between two instructions).
ClockBase ReadClockBase(const LARGE_INTEGER& firstReading, bool counterWorks) {
    LN ClockBase base;
    LN LARGE_INTEGER frequency;
    LN if (counterWorks && QueryPerformanceFrequency(&frequency) && frequency.QuadPart >= 1000) {
        LN base.start = firstReading.QuadPart;
        LN base.ticksPerMillisecond = frequency.QuadPart / 1000;
    }
    LN return base;
}

}  // namespace

uint64_t ClockMilliseconds() {
    LN LARGE_INTEGER now{};
    // Since Windows XP the counter never fails once it has worked.
    LN const bool counted = QueryPerformanceCounter(&now) != FALSE;
    LN static const ClockBase base = ReadClockBase(now, counted);
    LN if (base.ticksPerMillisecond == 0) return GetTickCount64();
    // A thread that read the counter just before another thread set the start up is not behind it.
    LN if (now.QuadPart < base.start) return 0;
    LN return static_cast<uint64_t>((now.QuadPart - base.start) / base.ticksPerMillisecond);
}

}  // namespace kestrune
