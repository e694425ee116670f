/* Writes to 0x80000010 in EntryPoint: an access violation at 2 GiB and above, whose
   address a signed or sign-extended formatting would spoil. */
#include <kestrune/daemon.h>

#include "report.h"

/* Read at run time, so the compiler neither warns about nor folds the bad write. */
static volatile UINT_PTR target = 0x80000010u;

void EntryPoint(void) {
    MEMORY_BASIC_INFORMATION region;
    UINT_PTR address = target;
    Report("entry");
    /* The write must fault: nothing may be committed there. */
    if (VirtualQuery((void*)address, &region, sizeof region) != 0 && region.State == MEM_COMMIT) {
        Report("target-committed");
        return;
    }
    *(volatile LONG*)address = 1;
    Report("survived");
}
