// Process entry and RunHost.
#include <windows.h>

#include "core/application.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    kestrune::ResetApplication();
    ExitProcess(0);
}
