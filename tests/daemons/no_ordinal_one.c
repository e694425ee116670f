/* Has no export with ordinal 1 (see the .def file), so the host's bound is 0. */
#include <kestrune/daemon.h>

#include "report.h"

static StateWord state;

/* Defined before EntryPoint: only a bound of 0 lets the host call it. */
StateWord* EntryState(void) {
    Report("state");
    return &state;
}

void EntryPoint(void) {
    Report("entry");
    while (state != StateWordStop) Sleep(10);
    Report("return");
}
