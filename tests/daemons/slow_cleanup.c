/* Needs about a second to save its work once it has seen 255, then returns. */
#include <kestrune/daemon.h>

#include "report.h"

static StateWord state;

void EntryPoint(void) {
    Report("entry");
    while (state != StateWordStop) Sleep(10);
    Report("stop-seen");
    Sleep(1000);
    Report("saved");
    Report("return");
}

StateWord* EntryState(void) {
    return &state;
}
