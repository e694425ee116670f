#include "system_answers.h"

#include <windows.h>

#include <cstdlib>

namespace kestrune::test {
namespace {

DWORD WINAPI UseTheSystem(LPVOID) {
    HeapFree(GetProcessHeap(), 0, HeapAlloc(GetProcessHeap(), 0, 100));
    std::free(std::malloc(100));
    HMODULE library = LoadLibraryW(L"version.dll");
    if (library) FreeLibrary(library);
    HDC screen = GetDC(nullptr);
    if (screen) ReleaseDC(nullptr, screen);
    return 0;
}

}  // namespace

bool SystemAnswers() {
    HANDLE thread = CreateThread(nullptr, 0, UseTheSystem, nullptr, 0, nullptr);
    if (!thread) return false;
    bool answered = WaitForSingleObject(thread, 5000) == WAIT_OBJECT_0;
    CloseHandle(thread);
    return answered;
}

}  // namespace kestrune::test
