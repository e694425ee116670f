/* Ends by itself after about a second, without being asked, at a raised priority that its
   ended thread still reports. */
#include <kestrune/daemon.h>

#include "report.h"

static StateWord state;

void EntryPoint(void) {
    Report("entry");
    for (int i = 0; i < 100 && state != StateWordStop; ++i) Sleep(10);
    SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_HIGHEST);
    Report("return");
}

StateWord* EntryState(void) {
    return &state;
}
