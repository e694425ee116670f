/* Has a state word but never looks at it. */
#include <kestrune/daemon.h>

#include "report.h"

static StateWord state;

void EntryPoint(void) {
    Report("entry");
    for (;;) Sleep(50);
}

StateWord* EntryState(void) {
    Report("state");
    return &state;
}
