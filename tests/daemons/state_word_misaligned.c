/* Its state word starts one byte into a word of its own data: writable, but not a 32-bit word
   the host could write in one store. */
#include <kestrune/daemon.h>

#include "report.h"

static LONG words[2];

void EntryPoint(void) {
    Report("entry");
    for (;;) Sleep(50);
}

StateWord* EntryState(void) {
    Report("state");
    return (StateWord*)((char*)words + 1);
}
