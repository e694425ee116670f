// The process-wide handler of faults that nobody else handles: one "FATAL ERROR"
// box with the place, the kind and the target address of the fault, then the end.
// What runs after a fault is in fault_report.h.
#pragma once

#include "fault/fault_report.h"

namespace kestrune {

// Installs HostExceptionFilter, remembering the previous filter.
void InstallFatalErrorHandler();

// Puts the remembered filter back at the orderly end of the program.
void RestoreUnhandledExceptionFilter();

}  // namespace kestrune
