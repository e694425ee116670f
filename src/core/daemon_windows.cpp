#include "daemon_windows.h"

#include <string>
#include <vector>

#include "address_check.h"
#include "image_range.h"
#include "owner.h"
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
    LN for (size_t i = 0; i < topLevel; ++i) EnumChildWindows(windows[i], CollectWindow, reinterpret_cast<LPARAM>(&windows));
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

}  // namespace

void ReleaseWindowsOfLibrary(HMODULE library) {
    LN if (!library) return;
    LN const ImageRange range = RangeOfImage(library);
    LN std::vector<std::wstring> classes;
    // A copy: destroying a window runs the daemon's code and answers sent messages, and an
    // unload reached from there (the end of the session) makes the list anew.
    LN const std::vector<HWND> windows = WindowsOfThisThread();
    LN for (HWND window : windows) {
        // Destroying a window destroys its children with it.
        LN if (!IsWindow(window)) continue;
        LN const LONG_PTR procedure = GetWindowLongPtrW(window, GWLP_WNDPROC);
        LN const LONG_PTR classProcedure = static_cast<LONG_PTR>(GetClassLongPtrW(window, GCLP_WNDPROC));
        LN if (IsInsideImage(range, static_cast<uintptr_t>(classProcedure))) {
            LN if (reinterpret_cast<HMODULE>(GetClassLongPtrW(window, GCLP_HMODULE)) == library) {
                LN classes.push_back(ClassNameOf(window));
            }
            LN DestroyWindow(window);
        } else if (IsInsideImage(range, static_cast<uintptr_t>(procedure))) {
            LN SetWindowLongPtrW(window, GWLP_WNDPROC, classProcedure);
        }
    }
    // A library's classes outlive it otherwise: the system unregisters them only at process end.
    LN for (const std::wstring& name : classes) UnregisterClassW(name.c_str(), library);
}

bool IsOrphanedTimer(const MSG& message) {
    LN return message.message == WM_TIMER && message.lParam != 0 &&
              !IsExecutableCode(reinterpret_cast<const void*>(message.lParam));
}

}  // namespace kestrune
