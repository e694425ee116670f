// Test entry: reads the host clock before anything else can, so its first reading is known.
#include <gtest/gtest.h>

#include "clock_first_reading.h"
#include "core/clock.h"

namespace kestrune::test {
uint64_t clockFirstReading = ~0ull;
}

int main(int argc, char** argv) {
    kestrune::test::clockFirstReading = kestrune::ClockMilliseconds();
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
