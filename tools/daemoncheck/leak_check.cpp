#include <algorithm>

#include "check.h"
#include "core/clock.h"
#include "core/owner.h"
#include "process_probe.h"
#include "thread_origin.h"

namespace daemoncheck {
namespace {

using kestrune::probe::ProcessWindows;
using kestrune::probe::ThreadStartAddress;

// How long threads that are on their way out get to finish before they count as left behind.
constexpr DWORD ThreadExitAllowance = 1000;
constexpr DWORD TerminationWait = 5000;
// The host frees a library on its main thread: a DllMain detach that takes longer hangs the host.
constexpr DWORD DetachAllowance = 5000;

const wchar_t* const KeptLibraryText =
    L"the host keeps its library mapped for the rest of its run, and a later start loads the same copy again "
    L"without a fresh DllMain";

template <typename T>
bool Contains(const std::vector<T>& list, const T& value) {
    return std::find(list.begin(), list.end(), value) != list.end();
}

// A thread that took the id of one gone since loading is new all the same.
std::vector<DWORD> NewThreads(const Check& check) {
    std::vector<DWORD> found;
    for (const kestrune::probe::ThreadIdentity& thread : TakeSnapshot().threads) {
        if (!Contains(check.before.threads, thread)) found.push_back(thread.id);
    }
    return found;
}

std::vector<HWND> NewWindows(const Check& check) {
    std::vector<HWND> found;
    for (HWND window : ProcessWindows(GetCurrentProcessId())) {
        if (!Contains(check.before.windows, window)) found.push_back(window);
    }
    return found;
}

std::wstring DescribeStart(const Check& check, const void* start) {
    if (!start) return L"start address unknown";
    if (IsInDaemon(check, start)) return L"started at " + Hex(start) + L" in the daemon";
    std::wstring module = ModuleNameAt(start);
    return L"started at " + Hex(start) + (module.empty() ? L"" : L" in " + module);
}

// A thread is the daemon's when it began in the daemon's image or the daemon's code created it;
// the system's workers (thread pool, loader) that the daemon's calls started are not.
bool IsDaemonThread(const Check& check, DWORD id) {
    return id == check.daemonThreadId || WasCreatedByDaemon(id) || IsInDaemon(check, ThreadStartAddress(id));
}

std::vector<DWORD> NewDaemonThreads(const Check& check) {
    std::vector<DWORD> found;
    for (DWORD id : NewThreads(check)) {
        if (IsDaemonThread(check, id)) found.push_back(id);
    }
    return found;
}

void NoteSystemThreads(Check& check) {
    std::vector<DWORD> system;
    for (DWORD id : NewThreads(check)) {
        if (!IsDaemonThread(check, id)) system.push_back(id);
    }
    if (system.empty()) return;
    std::wstring listed;
    for (DWORD id : system)
        listed += (listed.empty() ? L"" : L", ") + std::to_wstring(id) + L" (" +
                  DescribeStart(check, ThreadStartAddress(id)) + L")";
    Report(check.findings, Level::Info, "threads",
           std::to_wstring(system.size()) + (system.size() == 1 ? L" thread" : L" threads") +
               L" that the system started while the daemon ran (thread-pool or loader workers) " +
               (system.size() == 1 ? L"is" : L"are") + L" still alive: not the daemon's, and not counted: " + listed);
}

// Threads the daemon left running keep its library mapped in the host, or run on after it is
// freed: reported, then ended here while the image is still mapped. Returns how many there were.
size_t EndLeftoverThreads(Check& check) {
    std::vector<DWORD> threads = NewDaemonThreads(check);
    uint64_t deadline = kestrune::ClockMilliseconds() + ThreadExitAllowance;
    while (!threads.empty() && kestrune::ClockMilliseconds() < deadline) {
        Sleep(20);
        threads = NewDaemonThreads(check);
    }
    NoteSystemThreads(check);
    const std::wstring consequence =
        IsKept(check.fate) ? std::wstring(KeptLibraryText) : L"in the host it runs on after its library is freed";
    // Newest first: under some emulators only the newest thread can be ended safely.
    std::reverse(threads.begin(), threads.end());
    for (DWORD id : threads) {
        Report(check.findings, Level::Fail, "threads",
               L"thread " + std::to_wstring(id) + L" (" + DescribeStart(check, ThreadStartAddress(id)) +
                   L") is still alive after the daemon ended: " + consequence);
        kestrune::HandleOwner thread(OpenThread(THREAD_TERMINATE | SYNCHRONIZE, FALSE, id));
        if (!thread) continue;
        TerminateThread(thread.get(), 0);
        WaitForSingleObject(thread.get(), TerminationWait);
    }
    if (threads.empty()) Report(check.findings, Level::Ok, "threads", L"none of the daemon's threads is left alive");
    return threads.size();
}

// The host's verdict on a library it kept or still holds; an end by force was told at the stop,
// a freed library is told with its detach.
void ReportLibraryFate(Check& check, size_t leftoverThreads) {
    using kestrune::LibraryFate;
    switch (check.fate) {
    case LibraryFate::Quarantined:
        Report(check.findings, Level::Info, "unload",
               L"its code is still closed off: the host frees its library once the loader's lock is free");
        break;
    case LibraryFate::KeptTouched:
        Report(check.findings, Level::Fail, "unload",
               L"its code still ran after it returned (a timer, a wait or a queued call it left armed): " +
                   std::wstring(KeptLibraryText));
        break;
    case LibraryFate::KeptRunning:
        // Told with each thread, unless the thread is one the system runs for it.
        if (leftoverThreads == 0) {
            Report(check.findings, Level::Fail, "unload",
                   L"a thread still runs its code or will return into it after it returned (a thread-pool "
                   L"callback that has not returned?): " +
                       std::wstring(KeptLibraryText));
        }
        break;
    default:
        break;
    }
}

// An ANSI window's procedure, asked for with the wide call, comes back as a handle the system
// makes up: each window is asked in its own character set.
LONG_PTR WindowLong(HWND window, int index) {
    return IsWindowUnicode(window) ? GetWindowLongPtrW(window, index) : GetWindowLongPtrA(window, index);
}

// A window whose procedure lies in the DLL must not receive a message once the DLL is gone.
void DisarmDaemonWindows(Check& check) {
    for (HWND window : NewWindows(check)) {
        if (!IsInDaemon(check, reinterpret_cast<const void*>(WindowLong(window, GWLP_WNDPROC)))) continue;
        if (IsWindowUnicode(window)) {
            SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&DefWindowProcW));
        } else {
            SetWindowLongPtrA(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&DefWindowProcA));
        }
    }
}

// The windows the host's unloading destroys: their class's procedure, or a dialog's own, is the
// daemon's code. An input-method window that came with one of them is not.
bool IsDestroyedByTheHost(const Check& check, HWND window) {
    const ULONG_PTR classProcedure =
        IsWindowUnicode(window) ? GetClassLongPtrW(window, GCLP_WNDPROC) : GetClassLongPtrA(window, GCLP_WNDPROC);
    if (IsInDaemon(check, reinterpret_cast<const void*>(classProcedure))) return true;
    return WindowClassName(window) == L"#32770" &&
           IsInDaemon(check, reinterpret_cast<const void*>(WindowLong(window, DWLP_DLGPROC)));
}

std::wstring DescribeWindow(HWND window) {
    std::wstring name = WindowClassName(window);
    if (name == L"#32770") return WindowKind(window) + (IsWindowUnicode(window) ? L" dialog" : L" ANSI dialog");
    return WindowKind(window) + (IsWindowUnicode(window) ? L" window" : L" ANSI window") + L" of class \"" + name +
           L"\"";
}

// What the host's unloading did to the daemon's windows on its thread, and the quit request their
// destruction made.
void ReportWindowsTheHostDestroyed(Check& check) {
    for (const auto& [window, description] : check.mainThreadWindows) {
        if (IsWindow(window)) continue;
        Report(check.findings, Level::Fail, "windows",
               description +
                   L" on the host's main thread was still open when the daemon ended: the host destroyed it at the "
                   L"unload and unregistered its class; make the daemon's windows on its own thread and destroy them "
                   L"before EntryPoint returns");
    }
    if (check.quitsAtUnload > 0) {
        Report(check.findings, Level::Fail, "windows",
               L"destroying its window on the host's main thread asked that thread to quit (PostQuitMessage): the "
               L"host swallows that request at the unload, but any other quit request on its thread closes the "
               L"host; post WM_QUIT only to a loop of the daemon's own thread");
    }
}

void ReportLeftoverWindows(Check& check) {
    std::vector<HWND> windows = NewWindows(check);
    // Destroying one window takes the windows it owns along, so each is looked at first.
    const std::vector<HWND> all = windows;
    windows.erase(std::remove_if(windows.begin(), windows.end(),
                                 [&all](HWND window) { return Contains(all, GetWindow(window, GW_OWNER)); }),
                  windows.end());
    int reported = 0;
    for (HWND window : windows) {
        // Windows that went with one destroyed before them (an input-method window, say) are not the daemon's.
        if (!IsWindow(window)) continue;
        DWORD owner = GetWindowThreadProcessId(window, nullptr);
        std::wstring ownerText =
            owner == GetCurrentThreadId() ? L"the host's main thread" : L"thread " + std::to_wstring(owner);
        Report(check.findings, Level::Fail, "windows",
               WindowKind(window) + L" window of class \"" + WindowClassName(window) + L"\", owned by " + ownerText +
                   L", is still open after the daemon was unloaded");
        ++reported;
        if (owner == GetCurrentThreadId()) DestroyWindow(window);
    }
    if (reported == 0) Report(check.findings, Level::Ok, "windows", L"no window of the daemon is left open");
}

void ReportLeftoverClasses(Check& check) {
    for (const std::wstring& name : check.daemonClasses) {
        WNDCLASSEXW info{};
        info.cbSize = sizeof info;
        if (!GetClassInfoExW(check.module, name.c_str(), &info)) continue;
        Report(check.findings, Level::Warn, "windows",
               L"window class \"" + name +
                   L"\" is still registered after the daemon was unloaded: unregister it before EntryPoint returns, "
                   L"or a restarted daemon may find its name taken");
        UnregisterClassW(name.c_str(), check.module);
    }
}

// what is the plural; a count of one drops its final "s". source names the counter.
void CompareCounter(Check& check, const char* topic, const std::wstring& what, const wchar_t* source, bool counted,
                    DWORD before, DWORD after, const std::wstring& details = {}) {
    if (!counted) {
        Report(check.findings, Level::Info, topic,
               what + L" are not counted on this system: " + source + L" stays at " + std::to_wstring(after) +
                   L" when one is made");
        return;
    }
    std::wstring figures =
        L" (" + std::to_wstring(before) + L" before loading, " + std::to_wstring(after) + L" after unloading)";
    if (after > before) {
        Report(check.findings, Level::Fail, topic,
               std::to_wstring(after - before) + L" " + (after - before == 1 ? what.substr(0, what.size() - 1) : what) +
                   L" left behind" + figures + details);
    } else {
        Report(check.findings, Level::Ok, topic, L"no " + what + L" left behind" + figures);
    }
}

// The handles that are new since loading, with the kind of object each one holds.
std::wstring ListNewHandles(const Check& check, const ProcessSnapshot& after) {
    if (!check.before.handleTableRead || !after.handleTableRead) return {};
    std::wstring listed;
    int shown = 0;
    for (uintptr_t handle : after.handleValues) {
        if (Contains(check.before.handleValues, handle)) continue;
        if (++shown > 8) {
            listed += L", ...";
            break;
        }
        listed += (listed.empty() ? L": " : L", ") + Hex(handle) + L" (" + HandleTypeName(handle) + L")";
    }
    return listed;
}

DWORD WINAPI FreeLibraryOnItsOwn(LPVOID library) {
    FreeLibrary(static_cast<HMODULE>(library));
    return 0;
}

// The pin is the last reference once the host freed its own: its release runs the DllMain
// detach, on a thread of its own so that a detach that never returns is told, not waited for.
bool ReleasePin(Check& check) {
    HMODULE pin = check.pin;
    check.pin = nullptr;
    if (check.fate != kestrune::LibraryFate::Freed) {
        FreeLibrary(pin);  // the host still holds it: no detach runs
        return true;
    }
    kestrune::HandleOwner thread(CreateThread(nullptr, 0, FreeLibraryOnItsOwn, pin, 0, &check.detachThreadId));
    if (!thread) {
        FreeLibrary(pin);
        Report(check.findings, Level::Ok, "unload", L"nothing ran its code after it ended: the host freed its library");
        return true;
    }
    // Messages it sends to the main thread are answered meanwhile, as the host's thread would itself.
    if (WaitPumping(thread.get(), DetachAllowance)) {
        Report(check.findings, Level::Ok, "unload",
               L"nothing ran its code after it ended: the host freed its library, and its DllMain detach returned");
        return true;
    }
    Report(check.findings, Level::Fail, "unload",
           L"its DllMain detach has not returned " + std::to_wstring(DetachAllowance) +
               L" ms after the host freed its library: in the host the main thread waits in it, and the host hangs; "
               L"a detach must not wait for a lock, a thread or a window of the daemon");
    return false;
}

}  // namespace

void NoteMainThreadWindows(Check& check) {
    for (HWND window : NewWindows(check)) {
        if (GetWindowThreadProcessId(window, nullptr) == check.mainThreadId && IsDestroyedByTheHost(check, window))
            check.mainThreadWindows.emplace_back(window, DescribeWindow(window));
    }
}

void CheckLeftovers(Check& check) {
    if (!check.pin) return;  // nothing of the daemon ever ran beyond its loading
    ReportLibraryFate(check, EndLeftoverThreads(check));
    ReportWindowsTheHostDestroyed(check);
    DisarmDaemonWindows(check);
    check.stage = Stage::Unloading;
    // A detach that never returned holds the loader's lock: nothing more can be looked at.
    check.detachBlocked = !ReleasePin(check);
    if (check.detachBlocked) return;
    check.stage = Stage::Judging;
    ReportLeftoverWindows(check);
    ReportLeftoverClasses(check);
    ProcessSnapshot after = TakeSnapshot();
    std::wstring details = ListNewHandles(check, after);
    if (check.threadTerminated) details += L"; its thread was terminated, so what it held was never released";
    CompareCounter(check, "handles", L"handles", L"the handle count", check.counters.handles, check.before.handles,
                   after.handles, details);
    CompareCounter(check, "GDI objects", L"GDI objects", L"GetGuiResources", check.counters.gdiObjects,
                   check.before.gdiObjects, after.gdiObjects);
    CompareCounter(check, "USER objects", L"USER objects", L"GetGuiResources", check.counters.userObjects,
                   check.before.userObjects, after.userObjects);
}

}  // namespace daemoncheck
