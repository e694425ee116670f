// A test program that ends the way it is told to, for the check that the test run calls every
// end other than GoogleTest's own a failure. Not part of the suites: harness_check.py runs it.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace {

DWORD WINAPI WriteThroughNull(LPVOID) {
    *static_cast<volatile int*>(nullptr) = 1;
    return 0;
}

TEST(HarnessProbe, Passes) { SUCCEED(); }

TEST(HarnessProbe, EndsAsAsked) {
    const char* end = std::getenv("KESTRUNE_PROBE_END");
    const std::string how = end ? end : "";
    if (how == "crash") {
        // On a thread of its own, as a daemon's fault would be: GoogleTest guards only its own.
        HANDLE thread = CreateThread(nullptr, 0, WriteThroughNull, nullptr, 0, nullptr);
        WaitForSingleObject(thread, INFINITE);
    } else if (how == "abort") {
        std::abort();
    } else if (how == "exit") {
        ExitProcess(0);
    }
}

}  // namespace
