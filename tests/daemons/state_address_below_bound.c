/* EntryState returns an address below every export: the module's own header. */
#include <kestrune/daemon.h>

#include "report.h"

void EntryPoint(void) {
    Report("entry");
    for (;;) Sleep(50);
}

StateWord* EntryState(void) {
    HMODULE self = NULL;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       (LPCWSTR)(void*)&EntryState, &self);
    Report("state");
    return (StateWord*)(void*)self;
}
