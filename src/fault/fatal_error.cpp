#include "fault/fatal_error.h"

#include "fault/source_position.h"

namespace kestrune {
namespace {

// File scope: the filter is the process's, and the handler runs where no record can be reached.
LPTOP_LEVEL_EXCEPTION_FILTER previousFilter = nullptr;

}  // namespace

void InstallFatalErrorHandler() {
    LN previousFilter = SetUnhandledExceptionFilter(HostExceptionFilter);
}

void RestoreUnhandledExceptionFilter() {
    LN SetUnhandledExceptionFilter(previousFilter);
}

}  // namespace kestrune
