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

template <typename T>
bool Contains(const std::vector<T>& list, const T& value) {
    return std::find(list.begin(), list.end(), value) != list.end();
}

std::vector<DWORD> NewThreads(const Check& check) {
    std::vector<DWORD> found;
    for (DWORD id : TakeSnapshot().threads) {
        if (!Contains(check.before.threads, id)) found.push_back(id);
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
        listed += (listed.empty() ? L"" : L", ") + std::to_wstring(id) + L" (" + DescribeStart(check, ThreadStartAddress(id)) + L")";
    Report(check.findings, Level::Info, "threads",
           std::to_wstring(system.size()) + (system.size() == 1 ? L" thread" : L" threads") +
               L" that the system started while the daemon ran (thread-pool or loader workers) " +
               (system.size() == 1 ? L"is" : L"are") + L" still alive: not the daemon's, and not counted: " + listed);
}

// Threads the daemon left running would go on in the freed DLL inside the host:
// reported, then ended here while the image is still mapped.
void EndLeftoverThreads(Check& check) {
    std::vector<DWORD> threads = NewDaemonThreads(check);
    uint64_t deadline = kestrune::ClockMilliseconds() + ThreadExitAllowance;
    while (!threads.empty() && kestrune::ClockMilliseconds() < deadline) {
        Sleep(20);
        threads = NewDaemonThreads(check);
    }
    NoteSystemThreads(check);
    // Newest first: under some emulators only the newest thread can be ended safely.
    std::reverse(threads.begin(), threads.end());
    for (DWORD id : threads) {
        Report(check.findings, Level::Fail, "threads",
               L"thread " + std::to_wstring(id) + L" (" + DescribeStart(check, ThreadStartAddress(id)) +
                   L") is still alive after the daemon was unloaded: in the host it runs on in the freed DLL");
        kestrune::HandleOwner thread(OpenThread(THREAD_TERMINATE | SYNCHRONIZE, FALSE, id));
        if (!thread) continue;
        TerminateThread(thread.get(), 0);
        WaitForSingleObject(thread.get(), TerminationWait);
    }
    if (threads.empty()) Report(check.findings, Level::Ok, "threads", L"none of the daemon's threads is left alive");
}

// A window whose procedure lies in the DLL must not receive a message once the DLL is gone.
void DisarmDaemonWindows(Check& check) {
    for (HWND window : NewWindows(check)) {
        auto procedure = reinterpret_cast<const void*>(GetWindowLongPtrW(window, GWLP_WNDPROC));
        if (IsInDaemon(check, procedure))
            SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&DefWindowProcW));
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

}  // namespace

void CheckLeftovers(Check& check) {
    if (!check.pin) return;  // nothing of the daemon ever ran beyond its loading
    EndLeftoverThreads(check);
    DisarmDaemonWindows(check);
    check.stage = Stage::Unloading;
    FreeLibrary(check.pin);  // the image goes now, with its DllMain's detach
    check.pin = nullptr;
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
