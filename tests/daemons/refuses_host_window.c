/* Not a daemon: a window-creation hook that any process of the desktop loads once it is set,
   and that refuses the host's main window, so a host can be started that cannot make it. */
#include <windows.h>

/* Exported undecorated on both targets, as the test looks it up. */
#if defined(_WIN64)
#define HOOK_EXPORT __declspec(dllexport)
#else
#define HOOK_EXPORT
__asm__(".section .drectve\n\t.ascii \" -export:RefuseHostWindow=RefuseHostWindow@12\"\n\t.text");
#endif

HOOK_EXPORT LRESULT CALLBACK RefuseHostWindow(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HCBT_CREATEWND) {
        const CBT_CREATEWNDW* create = (const CBT_CREATEWNDW*)lParam;
        LPCWSTR name = create->lpcs->lpszClass;
        if (!IS_INTRESOURCE(name) && lstrcmpW(name, L"KestruneMainWindow") == 0) return 1;
    }
    return CallNextHookEx(NULL, code, wParam, lParam);
}
