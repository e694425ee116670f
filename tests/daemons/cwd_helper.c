/* A library some daemon depends on, planted where only the current directory would find it. */
#include <windows.h>

#include "report.h"

__declspec(dllexport) int HelperValue(void) {
    return 42;
}
