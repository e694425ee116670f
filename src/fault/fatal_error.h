// The process-wide handler of faults that nobody else handles.
#pragma once

namespace kestrune {

// Installs the host's unhandled-exception filter, remembering the previous one.
void InstallFatalErrorHandler();

// Puts the remembered filter back at the orderly end of the program.
void RestoreUnhandledExceptionFilter();

}  // namespace kestrune
