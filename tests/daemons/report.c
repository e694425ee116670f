#include "report.h"

#include <stdio.h>
#include <string.h>

static HMODULE OwnModule(void) {
    HMODULE module = NULL;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       (LPCWSTR)(void *)&OwnModule, &module);
    return module;
}

void Report(const char *event) {
    wchar_t path[MAX_PATH + 8];
    DWORD length = GetModuleFileNameW(OwnModule(), path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return;
    wcscpy(path + length, L".log");
    HANDLE file = CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE) return;
    char line[256];
    int size = _snprintf(line, sizeof line - 1, "%s\n", event);
    if (size < 0) size = (int)strlen(event);
    DWORD written = 0;
    WriteFile(file, line, (DWORD)size, &written, NULL);
    CloseHandle(file);
}

void ReportNumber(const char *event, long long number) {
    char line[200];
    _snprintf(line, sizeof line - 1, "%s %lld", event, number);
    line[sizeof line - 1] = 0;
    Report(line);
}
