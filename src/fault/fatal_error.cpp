#include "fatal_error.h"

#include <windows.h>

namespace kestrune {
namespace {

LPTOP_LEVEL_EXCEPTION_FILTER previousFilter = nullptr;

LONG WINAPI HostExceptionFilter(EXCEPTION_POINTERS*) {
    return EXCEPTION_CONTINUE_SEARCH;
}

}  // namespace

void InstallFatalErrorHandler() {
    previousFilter = SetUnhandledExceptionFilter(HostExceptionFilter);
}

void RestoreUnhandledExceptionFilter() {
    SetUnhandledExceptionFilter(previousFilter);
}

}  // namespace kestrune
