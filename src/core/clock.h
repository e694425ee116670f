// The host's monotonic millisecond clock.
#pragma once

#include <cstdint>

namespace kestrune {

// Milliseconds since the clock's first use in the process (0 at first use).
uint64_t ClockMilliseconds();

}  // namespace kestrune
