/* Its state word lies in read-only data, where the host could never write 255. */
#include <kestrune/daemon.h>

#include "report.h"

static const LONG frozen = 0;

void EntryPoint(void) {
    Report("entry");
    for (;;) Sleep(50);
}

StateWord* EntryState(void) {
    Report("state");
    return (StateWord*)&frozen;
}
