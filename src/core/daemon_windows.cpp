#include "core/daemon_windows.h"

#include <string>
#include <vector>

#include "core/address_check.h"
#include "core/image_range.h"
#include "core/owner.h"

#include "fault/source_position.h"

namespace kestrune {
namespace {

BOOL CALLBACK CollectWindow(HWND window, LPARAM windows) {
    LN reinterpret_cast<std::vector<HWND>*>(windows)->push_back(window);
    LN return TRUE;
}

// Listing the thread's windows costs a round trip to the window system per window, and a host
// that quits unloads its daemons one after another: the list is kept while no window has been
// made on the thread, which a hook of that thread counts (a window replaced by another may
// reuse a handle; one destroyed is skipped where the list is used). File scope: a hook
// procedure is given no record of its own.
struct ThreadWindows {
    DWORD thread = 0;
    HookOwner creationHook;
    LONG created = 0;
    LONG listedAt = -1;
    std::vector<HWND> windows;
};
ThreadWindows threadWindows;

LRESULT CALLBACK CountCreation(int code, WPARAM wParam, LPARAM lParam) {
    LN if (code == HCBT_CREATEWND) ++threadWindows.created;
    LN return CallNextHookEx(nullptr, code, wParam, lParam);
}

// Top-level windows, their children and message-only windows, all of this thread.
std::vector<HWND> ListWindowsOfThisThread() {
    LN std::vector<HWND> windows;
    LN EnumThreadWindows(GetCurrentThreadId(), CollectWindow, reinterpret_cast<LPARAM>(&windows));
    LN const size_t topLevel = windows.size();
    LN for (size_t i = 0; i < topLevel; ++i)
        EnumChildWindows(windows[i], CollectWindow, reinterpret_cast<LPARAM>(&windows));
    // Message-only windows are not listed by EnumThreadWindows.
    LN for (HWND window = FindWindowExW(HWND_MESSAGE, nullptr, nullptr, nullptr); window;
            window = FindWindowExW(HWND_MESSAGE, window, nullptr, nullptr)) {
        LN if (GetWindowThreadProcessId(window, nullptr) == GetCurrentThreadId()) windows.push_back(window);
    }
    LN return windows;
}

const std::vector<HWND>& WindowsOfThisThread() {
    LN const DWORD self = GetCurrentThreadId();
    LN if (threadWindows.thread != self) {
        LN threadWindows.creationHook.reset(SetWindowsHookExW(WH_CBT, CountCreation, nullptr, self));
        LN threadWindows.thread = self;
        LN threadWindows.listedAt = -1;
    }
    // Without the hook nothing tells that the list is still whole: it is made every time.
    LN if (!threadWindows.creationHook || threadWindows.listedAt != threadWindows.created) {
        LN threadWindows.listedAt = threadWindows.created;
        LN threadWindows.windows = ListWindowsOfThisThread();
    }
    LN return threadWindows.windows;
}

std::wstring ClassNameOf(HWND window) {
    LN wchar_t name[256];
    LN int length = GetClassNameW(window, name, static_cast<int>(std::size(name)));
    LN return std::wstring(name, length > 0 ? static_cast<size_t>(length) : 0);
}

// An ANSI window's procedure, asked for with the wide call, comes back as a handle the system
// makes up, not as the address: each window is asked in its own character set.
LONG_PTR WindowProcedureOf(HWND window, bool unicode) {
    LN return unicode ? GetWindowLongPtrW(window, GWLP_WNDPROC) : GetWindowLongPtrA(window, GWLP_WNDPROC);
}

LONG_PTR ClassProcedureOf(HWND window, bool unicode) {
    LN return static_cast<LONG_PTR>(unicode ? GetClassLongPtrW(window, GCLP_WNDPROC)
                                            : GetClassLongPtrA(window, GCLP_WNDPROC));
}

// A dialog's own procedure, which the dialog class's procedure calls.
LONG_PTR DialogProcedureOf(HWND window, bool unicode) {
    LN if (ClassNameOf(window) != L"#32770") return 0;
    LN return unicode ? GetWindowLongPtrW(window, DWLP_DLGPROC) : GetWindowLongPtrA(window, DWLP_DLGPROC);
}

bool IsQuitPending() {
    LN MSG message;
    LN return PeekMessageW(&message, nullptr, WM_QUIT, WM_QUIT, PM_NOREMOVE | PM_NOYIELD) != FALSE;
}

}  // namespace

void ReleaseWindowsOfLibrary(HMODULE library) {
    LN if (!library) return;
    LN const ImageRange range = RangeOfImage(library);
    LN std::vector<std::wstring> classes;
    // A copy: destroying a window runs the daemon's code and answers sent messages, and an
    // unload reached from there (the end of the session) makes the list anew.
    LN const std::vector<HWND> windows = WindowsOfThisThread();
    // A window of the usual kind asks its thread to quit when it is destroyed: that request is
    // the daemon's window's, not the user's, and must not end the host.
    LN const bool quitWasPending = IsQuitPending();
    LN for (HWND window : windows) {
        // Destroying a window destroys its children with it.
        LN if (!IsWindow(window)) continue;
        LN const bool unicode = IsWindowUnicode(window) != FALSE;
        LN const LONG_PTR procedure = WindowProcedureOf(window, unicode);
        LN const LONG_PTR classProcedure = ClassProcedureOf(window, unicode);
        LN if (IsInsideImage(range, static_cast<uintptr_t>(classProcedure)) ||
               IsInsideImage(range, static_cast<uintptr_t>(DialogProcedureOf(window, unicode)))) {
            LN if (reinterpret_cast<HMODULE>(GetClassLongPtrW(window, GCLP_HMODULE)) == library) {
                LN classes.push_back(ClassNameOf(window));
            }
            LN DestroyWindow(window);
        } else if (IsInsideImage(range, static_cast<uintptr_t>(procedure))) {
            LN if (unicode) {
                LN SetWindowLongPtrW(window, GWLP_WNDPROC, classProcedure);
            } else {
                LN SetWindowLongPtrA(window, GWLP_WNDPROC, classProcedure);
            }
        }
    }
    LN MSG quit;
    LN if (!quitWasPending) PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE | PM_NOYIELD);
    // A library's classes outlive it otherwise: the system unregisters them only at process end.
    LN for (const std::wstring& name : classes) UnregisterClassW(name.c_str(), library);
}

bool IsOrphanedTimer(const MSG& message) {
    LN return message.message == WM_TIMER && message.lParam != 0 &&
        !IsExecutableCode(reinterpret_cast<const void*>(message.lParam));
}

}  // namespace kestrune
