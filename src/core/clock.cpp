#include "clock.h"

#include <windows.h>
#include "fault/source_position.h"

namespace kestrune {
namespace {

struct ClockBase {
    LONGLONG start = 0;
    LONGLONG ticksPerMillisecond = 0;  // 0: no performance counter
};

ClockBase ReadClockBase() {
    LN ClockBase base;
    LN LARGE_INTEGER frequency, now;
    LN if (QueryPerformanceFrequency(&frequency) && frequency.QuadPart >= 1000 &&
        QueryPerformanceCounter(&now)) {
        LN base.start = now.QuadPart;
        LN base.ticksPerMillisecond = frequency.QuadPart / 1000;
    }
    LN return base;
}

}  // namespace

uint64_t ClockMilliseconds() {
    LN static const ClockBase base = ReadClockBase();
    LN if (base.ticksPerMillisecond == 0) return GetTickCount64();
    LN LARGE_INTEGER now;
    LN QueryPerformanceCounter(&now);
    LN return static_cast<uint64_t>((now.QuadPart - base.start) / base.ticksPerMillisecond);
}

}  // namespace kestrune
