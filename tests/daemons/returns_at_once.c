/* Its EntryPoint returns straight away. */
#include <kestrune/daemon.h>

#include "report.h"

void EntryPoint(void) {
    Report("entry");
    Report("return");
}
