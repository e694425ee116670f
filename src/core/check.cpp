#include "core/check.h"

#include <windows.h>

#include <cstdio>

#include "fault/source_position.h"

namespace kestrune {
namespace {

void TellDebugger(const char* condition, const char* file, int line) {
    LN char text[512];
    LN std::snprintf(text, sizeof text, "%s:%d: check failed: %s\n", file, line, condition);
    LN OutputDebugStringA(text);
}

// File scope: one handler for the process, set by the test program before any case runs.
CheckHandler checkHandler = TellDebugger;

}  // namespace

CheckHandler SetCheckHandler(CheckHandler handler) {
    LN const CheckHandler previous = checkHandler;
    LN checkHandler = handler ? handler : TellDebugger;
    LN return previous;
}

void ReportFailedCheck(const char* condition, const char* file, int line) {
    LN checkHandler(condition, file, line);
}

}  // namespace kestrune
