#include "system_answers.h"

#include <cstdlib>

#include "core/owner.h"

namespace kestrune::test {
namespace {

// Which call the last helper is in: the one a lock left held blocks it in.
volatile LONG step = 0;
constexpr const char* Steps[] = {"start",       "HeapAlloc", "malloc",    "LoadLibrary",
                                 "FreeLibrary", "GetDC",     "ReleaseDC", "done"};

DWORD WINAPI UseTheSystem(LPVOID) {
    step = 1;
    HeapFree(GetProcessHeap(), 0, HeapAlloc(GetProcessHeap(), 0, 100));
    step = 2;
    std::free(std::malloc(100));
    step = 3;
    HMODULE library = LoadLibraryW(L"version.dll");
    step = 4;
    if (library) FreeLibrary(library);
    step = 5;
    HDC screen = GetDC(nullptr);
    step = 6;
    if (screen) ReleaseDC(nullptr, screen);
    step = 7;
    return 0;
}

}  // namespace

double SystemAnswerMs(DWORD limitMs, SlowAnswerReport report, DWORD reportAfterMs) {
    LARGE_INTEGER frequency, start, end;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    step = 0;
    const kestrune::HandleOwner thread(CreateThread(nullptr, 0, UseTheSystem, nullptr, 0, nullptr));
    if (!thread) return -1;
    DWORD waited = 0;
    if (report && reportAfterMs < limitMs && WaitForSingleObject(thread.get(), reportAfterMs) == WAIT_TIMEOUT) {
        report(thread.get(), Steps[step]);
        waited = reportAfterMs;
    }
    const bool answered = WaitForSingleObject(thread.get(), limitMs - waited) == WAIT_OBJECT_0;
    QueryPerformanceCounter(&end);
    return answered
               ? 1000.0 * static_cast<double>(end.QuadPart - start.QuadPart) / static_cast<double>(frequency.QuadPart)
               : -1;
}

bool SystemAnswers() {
    return SystemAnswerMs(5000) >= 0;
}

}  // namespace kestrune::test
