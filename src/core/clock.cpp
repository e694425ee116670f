#include "clock.h"

#include <windows.h>

namespace kestrune {
namespace {

struct ClockBase {
    LONGLONG start = 0;
    LONGLONG ticksPerMillisecond = 0;  // 0: no performance counter
};

ClockBase ReadClockBase() {
    ClockBase base;
    LARGE_INTEGER frequency, now;
    if (QueryPerformanceFrequency(&frequency) && frequency.QuadPart >= 1000 &&
        QueryPerformanceCounter(&now)) {
        base.start = now.QuadPart;
        base.ticksPerMillisecond = frequency.QuadPart / 1000;
    }
    return base;
}

}  // namespace

uint64_t ClockMilliseconds() {
    static const ClockBase base = ReadClockBase();
    if (base.ticksPerMillisecond == 0) return GetTickCount64();
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return static_cast<uint64_t>((now.QuadPart - base.start) / base.ticksPerMillisecond);
}

}  // namespace kestrune
