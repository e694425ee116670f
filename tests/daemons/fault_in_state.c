/* EntryState, called on the host's main thread while loading, executes an invalid instruction. */
#include <kestrune/daemon.h>

#include "report.h"

static StateWord state;

void EntryPoint(void) {
    Report("entry");
    while (state != StateWordStop) Sleep(10);
    Report("return");
}

StateWord* EntryState(void) {
    Report("state");
    __builtin_trap();
    return &state;
}
