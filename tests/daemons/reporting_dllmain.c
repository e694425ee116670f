/* Reports loading and unloading of the daemon. */
#include "report.h"

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    (void)instance;
    (void)reserved;
    if (reason == DLL_PROCESS_ATTACH) Report("attach");
    if (reason == DLL_PROCESS_DETACH) Report("detach");
    return TRUE;
}
