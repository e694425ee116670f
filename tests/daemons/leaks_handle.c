/* Opens an event while it runs and never closes it. */
#include <kestrune/daemon.h>

#include "report.h"

static StateWord state;

void EntryPoint(void) {
    Report("entry");
    HANDLE forgotten = CreateEventW(NULL, TRUE, FALSE, NULL);
    ReportNumber("event", forgotten != NULL);
    while (state != StateWordStop) Sleep(10);
    Report("return");
}

StateWord* EntryState(void) {
    return &state;
}
