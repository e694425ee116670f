// A fault in the daemon's code ends the check with a verdict line that names the entry
// it came from, whatever the fault, a stack overflow included.
#pragma once

#include "check.h"

namespace daemoncheck {

// From here on an unhandled fault reports against check and ends the process with exit code 1.
void InstallCrashReport(Check& check);

}  // namespace daemoncheck
