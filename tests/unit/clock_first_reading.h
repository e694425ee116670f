#pragma once

#include <cstdint>

namespace kestrune::test {
// The host clock's reading at the start of main, its first use in this process.
extern uint64_t clockFirstReading;
}  // namespace kestrune::test
