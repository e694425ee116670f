/* A daemon with a menu of its own. EntryPoint runs a message-only window on the daemon's
   thread and reports every WM_COMMAND with the thread that received it; MENU_KIND chooses
   what EntryMenu hands the host. */
#include <kestrune/daemon.h>

#include "report.h"

/* The kinds of menu, compared by the preprocessor. */
#define MenuIds 1         /* items 1, 2, 3 */
#define MenuNested 2      /* 1, then a popup (id 77) holding 2, a separator, a popup holding 4, and 3 */
#define MenuNoCommands 3  /* only a popup with nothing in it */
#define MenuWide 4        /* items 1, 200, 250 */
#define MenuDeclines 5    /* returns 0 without touching its arguments */
#define MenuNullMenu 6    /* returns 1 with no menu */
#define MenuNotAMenu 7    /* returns 1 with a window handle in place of the menu */
#define MenuDeadWindow 8  /* a real menu, but names a window that no longer exists */
#define MenuNullWindow 9  /* a real menu, but names no window */
#define MenuBroadcast 10  /* a real menu, but names HWND_BROADCAST */
#define MenuReturnsTwo 11 /* hands over a real menu and its window, but returns 2 */
#define MenuHuge 12       /* 1, and 60000 inside a popup: too large to move above any base */

#ifndef MENU_KIND
#error "MENU_KIND must be defined"
#endif

static StateWord state;
static HWND volatile commandWindow;

static LRESULT CALLBACK CommandWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_COMMAND) {
        /* The thread first: a test that has seen the command may read it at once. */
        ReportNumber("command-thread", (long long)GetCurrentThreadId());
        ReportNumber("command", (long long)wParam);
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

/* A message-only window of a system class with this daemon's procedure: no class to register,
   so a library loaded again after being unloaded by force finds nothing left behind. */
static HWND CreateCommandWindow(void) {
    HWND window = CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, NULL, NULL, NULL);
    if (window) SetWindowLongPtrW(window, GWLP_WNDPROC, (LONG_PTR)CommandWindowProc);
    return window;
}

static HMENU BuildMenu(void) {
    HMENU menu = CreatePopupMenu();
#if MENU_KIND == MenuNested
    HMENU more = CreatePopupMenu();
    HMENU deeper = CreatePopupMenu();
    MENUITEMINFOW item;
    ZeroMemory(&item, sizeof item);
    item.cbSize = sizeof item;
    AppendMenuW(deeper, MF_STRING, 4, L"Four");
    AppendMenuW(more, MF_STRING, 2, L"Two");
    AppendMenuW(more, MF_SEPARATOR, 0, NULL);
    AppendMenuW(more, MF_POPUP, (UINT_PTR)deeper, L"Deeper");
    AppendMenuW(more, MF_STRING, 3, L"Three");
    AppendMenuW(menu, MF_STRING, 1, L"One");
    AppendMenuW(menu, MF_POPUP, (UINT_PTR)more, L"More");
    item.fMask = MIIM_ID;
    item.wID = 77;
    SetMenuItemInfoW(menu, 1, TRUE, &item);
#elif MENU_KIND == MenuNoCommands
    AppendMenuW(menu, MF_POPUP, (UINT_PTR)CreatePopupMenu(), L"Nothing here");
#elif MENU_KIND == MenuHuge
    HMENU inner = CreatePopupMenu();
    AppendMenuW(inner, MF_STRING, 60000, L"Sixty thousand");
    AppendMenuW(menu, MF_STRING, 1, L"One");
    AppendMenuW(menu, MF_POPUP, (UINT_PTR)inner, L"Inner");
#elif MENU_KIND == MenuWide
    AppendMenuW(menu, MF_STRING, 1, L"One");
    AppendMenuW(menu, MF_STRING, 200, L"Two hundred");
    AppendMenuW(menu, MF_STRING, 250, L"Two hundred and fifty");
#else
    AppendMenuW(menu, MF_STRING, 1, L"One");
    AppendMenuW(menu, MF_STRING, 2, L"Two");
    AppendMenuW(menu, MF_STRING, 3, L"Three");
#endif
    return menu;
}

void EntryPoint(void) {
    HWND window = CreateCommandWindow();
    ReportNumber("window-thread", (long long)GetCurrentThreadId());
    commandWindow = window;
    Report("entry");
    while (state != StateWordStop) {
        MSG message;
        MsgWaitForMultipleObjects(0, NULL, FALSE, 20, QS_ALLINPUT);
        while (PeekMessageW(&message, NULL, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
    }
    commandWindow = NULL;
    DestroyWindow(window);
    Report("return");
}

StateWord* EntryState(void) {
    return &state;
}

KESTRUNE_EXPORT_ENTRY_MENU

int WINAPI EntryMenu(HMENU* menu, HWND* window, INT_PTR placement) {
    ReportNumber("menu", (long long)placement);
    /* The host must hand over two variables it has set to 0. */
    ReportNumber("menu-arguments-zeroed", menu && window && *menu == NULL && *window == NULL);
#if MENU_KIND == MenuDeclines
    (void)BuildMenu;
    return 0;
#else
    HMENU own = BuildMenu();
    HWND target = commandWindow;
#if MENU_KIND == MenuNullMenu
    DestroyMenu(own);
    own = NULL;
#elif MENU_KIND == MenuNotAMenu
    DestroyMenu(own);
    own = (HMENU)target;
#elif MENU_KIND == MenuDeadWindow
    target = CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, NULL, NULL, NULL);
    DestroyWindow(target);
#elif MENU_KIND == MenuNullWindow
    target = NULL;
#elif MENU_KIND == MenuBroadcast
    target = HWND_BROADCAST;
#endif
    *menu = own;
    *window = target;
#if MENU_KIND == MenuReturnsTwo
    ReportNumber("menu-handle", (long long)(INT_PTR)own);
    return 2;
#else
    return 1;
#endif
#endif
}
