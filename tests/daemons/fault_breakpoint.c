/* Reaches a breakpoint in EntryPoint with no debugger attached. */
#include <kestrune/daemon.h>

#include "report.h"

void EntryPoint(void) {
    Report("entry");
    DebugBreak();
    Report("survived");
}
