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

double SystemAnswerMs(DWORD limitMs) {
    LARGE_INTEGER frequency, start, end;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    HANDLE thread = CreateThread(nullptr, 0, UseTheSystem, nullptr, 0, nullptr);
    if (!thread) return -1;
    const bool answered = WaitForSingleObject(thread, limitMs) == WAIT_OBJECT_0;
    QueryPerformanceCounter(&end);
    CloseHandle(thread);
    return answered ? 1000.0 * static_cast<double>(end.QuadPart - start.QuadPart) / static_cast<double>(frequency.QuadPart)
                    : -1;
}

bool SystemAnswers() {
    return SystemAnswerMs(5000) >= 0;
}

}  // namespace kestrune::test
