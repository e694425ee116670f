#include "fatal_error.h"

#include "source_position.h"

namespace kestrune {
namespace {

LPTOP_LEVEL_EXCEPTION_FILTER previousFilter = nullptr;

}  // namespace

void InstallFatalErrorHandler() {
    LN previousFilter = SetUnhandledExceptionFilter(HostExceptionFilter);
}

void RestoreUnhandledExceptionFilter() {
    LN SetUnhandledExceptionFilter(previousFilter);
}

}  // namespace kestrune
