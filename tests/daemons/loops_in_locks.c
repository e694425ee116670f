/* Spends its time in work that takes a lock of the system's libraries, as ordinary daemons do:
   LOOP_KIND picks the work, and the daemon uses what it got before it gives it back. With
   LOOP_IGNORES_WORD it goes on after 255, until it is ended. */
#include <stdlib.h>

#include <kestrune/daemon.h>

#include "report.h"

#define LoopHeap 1
#define LoopMalloc 2
#define LoopLoader 3
#define LoopWindow 4

#ifndef LOOP_IGNORES_WORD
#define LOOP_IGNORES_WORD 0
#endif

static StateWord state;
static unsigned rounds;
static volatile unsigned result;

/* The daemon's own work on what it got. */
static void Use(unsigned char* bytes, unsigned size, unsigned steps) {
    unsigned value = rounds;
    for (unsigned i = 0; i < steps; ++i) {
        value = value * 1664525u + 1013904223u;
        if (bytes && size) bytes[i % size] = (unsigned char)value;
    }
    result = value;
}

#if LOOP_KIND == LoopWindow
static HWND window;

static LRESULT CALLBACK Procedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    return DefWindowProcW(hwnd, message, wParam, lParam);
}

static void MakeWindow(void) {
    HMODULE self = NULL;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       (LPCWSTR)(void*)&Procedure, &self);
    WNDCLASSW windowClass = {0};
    windowClass.lpfnWndProc = Procedure;
    windowClass.hInstance = self;
    windowClass.lpszClassName = L"KestruneTestLoopWindow";
    RegisterClassW(&windowClass);
    window = CreateWindowExW(0, windowClass.lpszClassName, L"", 0, 0, 0, 1, 1, HWND_MESSAGE, NULL, self, NULL);
}
#endif

static void Work(void) {
#if LOOP_KIND == LoopHeap
    unsigned size = 16 + rounds % 1024;
    unsigned char* block = HeapAlloc(GetProcessHeap(), 0, size);
    Use(block, size, size);
    HeapFree(GetProcessHeap(), 0, block);
#elif LOOP_KIND == LoopMalloc
    unsigned size = 16 + rounds % 1024;
    unsigned char* block = malloc(size);
    Use(block, size, size);
    free(block);
#elif LOOP_KIND == LoopLoader
    HMODULE library = LoadLibraryW(L"version.dll");
    Use(NULL, 0, library && GetProcAddress(library, "GetFileVersionInfoSizeW") ? 20000 : 0);
    if (library) FreeLibrary(library);
#elif LOOP_KIND == LoopWindow
    MSG message;
    PostMessageW(window, WM_APP, rounds, 0);
    while (PeekMessageW(&message, NULL, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
    Use(NULL, 0, 2000);
#endif
}

void EntryPoint(void) {
#if LOOP_KIND == LoopWindow
    MakeWindow();
#endif
    Report("entry");
    while (LOOP_IGNORES_WORD || state != StateWordStop) {
        Work();
        ++rounds;
    }
#if LOOP_KIND == LoopWindow
    DestroyWindow(window);
#endif
    Report("return");
}

StateWord* EntryState(void) {
    return &state;
}
