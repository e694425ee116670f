/* A daemon that imports cwd_helper.dll by name. */
#include <kestrune/daemon.h>

#include "report.h"

__declspec(dllimport) int HelperValue(void);

static StateWord state;

void EntryPoint(void) {
    Report("entry");
    ReportNumber("helper", HelperValue());
    while (state != StateWordStop) Sleep(10);
}

StateWord* EntryState(void) {
    return &state;
}
