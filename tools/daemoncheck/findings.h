// The checker's findings: one line each, written as they are made, and the verdict.
#pragma once

#include <cstdint>
#include <string>

namespace daemoncheck {

enum class Level { Info, Ok, Warn, Fail };

struct Findings {
    int failures = 0;
    int warnings = 0;
};

// Writes "<level> <topic>: <text>" as one line to standard output and counts it.
void Report(Findings& findings, Level level, const char* topic, const std::wstring& text);

// Writes a line as it is (headings, menu trees).
void WriteLine(const std::wstring& text);

// Writes the verdict line and returns the process exit code: 0 passed, 1 failed.
int WriteVerdict(const Findings& findings);

// "0x" and the address in hex, as wide as a pointer.
std::wstring Hex(const void* address);
std::wstring Hex(uintptr_t value);

}  // namespace daemoncheck
