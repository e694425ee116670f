/* Raises an exception whose code the host has no text for. It carries two
   parameters, so a host that read a target address from any fault would show one. */
#include <kestrune/daemon.h>

#include "report.h"

void EntryPoint(void) {
    ULONG_PTR parameters[2] = {1, 0x1234ABCD};
    Report("entry");
    RaiseException(0xE0001234, EXCEPTION_NONCONTINUABLE, 2, parameters);
    Report("survived");
}
