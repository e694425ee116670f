// A test program that ends the way it is told to, for the check that the test run calls every
// end other than GoogleTest's own a failure. Not part of the suites: harness_check.py runs it.
#include <windows.h>

#include <cstdlib>
#include <string>

#include <gtest/gtest.h>

namespace {

DWORD WINAPI WriteThroughNull(LPVOID) {
    *static_cast<volatile int*>(nullptr) = 1;
    return 0;
}

// A copy of this program that never ends, started outside any job: what a stuck window of
// another process is to the prefix.
bool LeaveOneBehind() {
    wchar_t program[MAX_PATH];
    if (!GetModuleFileNameW(nullptr, program, MAX_PATH)) return false;
    SetEnvironmentVariableW(L"KESTRUNE_PROBE_END", L"linger");
    std::wstring commandLine = std::wstring(L"\"") + program + L"\" --gtest_filter=HarnessProbe.EndsAsAsked";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(program, commandLine.data(), nullptr, nullptr, FALSE, DETACHED_PROCESS, nullptr, nullptr,
                        &startup, &process)) {
        return false;
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return true;
}

TEST(HarnessProbe, Passes) {
    SUCCEED();
}

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
    } else if (how == "leave") {
        // Then stuck itself, until the run's time-out ends it and wine-exec with it.
        ASSERT_TRUE(LeaveOneBehind());
        Sleep(INFINITE);
    } else if (how == "linger") {
        Sleep(INFINITE);
    }
}

}  // namespace
