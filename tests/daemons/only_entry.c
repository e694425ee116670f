/* Exports EntryPoint alone and never returns by itself. */
#include <kestrune/daemon.h>

#include "report.h"

void EntryPoint(void) {
    Report("entry");
    for (;;) Sleep(50);
}
