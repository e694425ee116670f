/* EntryState hands back no state word. */
#include <kestrune/daemon.h>

#include "report.h"

void EntryPoint(void) {
    Report("entry");
    for (;;) Sleep(50);
}

StateWord* EntryState(void) {
    Report("state");
    return 0;
}
