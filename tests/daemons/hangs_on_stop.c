/* Sees 255 and starts to clean up, but never finishes. */
#include <kestrune/daemon.h>

#include "report.h"

static StateWord state;

void EntryPoint(void) {
    Report("entry");
    while (state != StateWordStop) Sleep(10);
    Report("stop-seen");
    for (;;) Sleep(50);
}

StateWord* EntryState(void) {
    return &state;
}
