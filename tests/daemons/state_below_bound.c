/* EntryState lies below the export with ordinal 1 (see the .def file), so the host never calls it. */
#include <kestrune/daemon.h>

#include "report.h"

static StateWord state;

StateWord* EntryState(void) {
    Report("state");
    return &state;
}

void EntryPoint(void) {
    Report("entry");
    while (state != StateWordStop) Sleep(10);
    Report("return");
}

/* Defined last, so it lies above EntryState. */
void Anchor(void) {
    Report("anchor");
}
