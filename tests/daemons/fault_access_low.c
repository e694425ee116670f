/* Writes to address 16 in EntryPoint: an access violation with a small target. */
#include <kestrune/daemon.h>

#include "report.h"

/* Read at run time, so the compiler neither warns about nor folds the bad write. */
static volatile UINT_PTR target = 16;

void EntryPoint(void) {
    Report("entry");
    *(volatile LONG*)target = 1;
    Report("survived");
}
