/* Watches its state word and returns once it reads 255. */
#include <kestrune/daemon.h>

#include "report.h"

static StateWord state;

void EntryPoint(void) {
    Report("entry");
    while (state != StateWordStop) Sleep(10);
    Report("stop-seen");
    Report("return");
}

StateWord* EntryState(void) {
    Report("state");
    return &state;
}
