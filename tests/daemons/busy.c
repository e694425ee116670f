/* Keeps one processor busy until asked to stop. */
#include <kestrune/daemon.h>

#include "report.h"

static StateWord state;
static volatile unsigned long long work;

void EntryPoint(void) {
    Report("entry");
    while (state != StateWordStop) work = work * 6364136223846793005ULL + 1442695040888963407ULL;
    Report("return");
}

StateWord* EntryState(void) {
    return &state;
}
