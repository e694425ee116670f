// KESTRUNE_CHECK(condition): an invariant the code relies on without testing it. Test builds
// (KESTRUNE_CHECKS defined) hand a condition that does not hold to the check handler, with its
// text, file and line; the tests' handler fails the running test. Other builds evaluate
// nothing: the condition is not even computed, so it must have no effect of its own.
#pragma once

namespace kestrune {

using CheckHandler = void (*)(const char* condition, const char* file, int line);

// Installs handler for failed checks (null: the default, which tells a debugger) and returns
// the one it replaces.
CheckHandler SetCheckHandler(CheckHandler handler);

void ReportFailedCheck(const char* condition, const char* file, int line);

}  // namespace kestrune

#if defined(KESTRUNE_CHECKS)
#define KESTRUNE_CHECK(condition) \
    ((condition) ? static_cast<void>(0) : ::kestrune::ReportFailedCheck(#condition, __FILE__, __LINE__))
#else
#define KESTRUNE_CHECK(condition) static_cast<void>(0)
#endif
