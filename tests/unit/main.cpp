// Test entry: reads the host clock before anything else can, so its first reading is known.
#include <gtest/gtest.h>

#include "clock_first_reading.h"
#include "core/check.h"
#include "core/clock.h"

namespace kestrune::test {
uint64_t clockFirstReading = ~0ull;

// A check of the host's that fails fails the running case, at the check's own line.
void FailTheCase(const char* condition, const char* file, int line) {
    ADD_FAILURE_AT(file, line) << "check failed: " << condition;
}
}  // namespace kestrune::test

int main(int argc, char** argv) {
    kestrune::test::clockFirstReading = kestrune::ClockMilliseconds();
    kestrune::SetCheckHandler(kestrune::test::FailTheCase);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
