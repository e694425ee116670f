/* Divides an integer by zero in EntryPoint. */
#include <kestrune/daemon.h>

#include "report.h"

/* Volatile, so the compiler emits the division instead of folding it away. */
static volatile int divisor = 0;
static volatile int quotient;

void EntryPoint(void) {
    Report("entry");
    quotient = 7 / divisor;
    Report("survived");
}
