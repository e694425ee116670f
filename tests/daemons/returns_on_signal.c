/* Ignores its state word and runs until "<its own path>.quit" exists, then returns by itself. */
#include <kestrune/daemon.h>

#include "report.h"

static StateWord state;

static HMODULE OwnModule(void) {
    HMODULE module = NULL;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       (LPCWSTR)(void*)&OwnModule, &module);
    return module;
}

void EntryPoint(void) {
    wchar_t signal[MAX_PATH + 8];
    DWORD length = GetModuleFileNameW(OwnModule(), signal, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return;
    lstrcpyW(signal + length, L".quit");
    Report("entry");
    while (GetFileAttributesW(signal) == INVALID_FILE_ATTRIBUTES) Sleep(10);
    Report("return");
}

StateWord* EntryState(void) {
    return &state;
}
