// Pause/resume pairs and force stops at full counts on daemons that live in the system's locks,
// through the host's own reaper and lifecycle code in this process. After every command the
// process must still take every lock the host's main thread needs (a helper done within 120 s;
// how many needed more than 5 s is reported). The window and
// its menus are left out: BusyDaemonsTest drives those on the real host at smaller counts.
// When a helper is still not done after 15 s, or the main thread makes no progress for 180 s,
// every thread of the process is shown: where it stands and the code addresses on its stack,
// as module+offset.
//   busy_core_bench.exe [pairs per kind] [force stops per kind] [daemons per kind] [kinds]
// kinds picks some of heap, malloc, loader, window (say "heap,loader"); all four by default.
#include <windows.h>

#include <psapi.h>
#include <tlhelp32.h>

#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <iterator>
#include <string>
#include <vector>

#include "core/application.h"
#include "core/daemon_table.h"
#include "core/lifecycle.h"
#include "system_answers.h"
#include "temp_folder.h"
#include "test_daemons.h"
#include "ui/reaper.h"
#include "ui/ui_state.h"

using namespace kestrune;
using namespace kestrune::test;

namespace {

using Clock = std::chrono::steady_clock;

constexpr const wchar_t* Kinds[] = {L"loops_heap", L"loops_malloc", L"loops_loader", L"loops_window"};
constexpr auto CommandLimit = std::chrono::seconds(30);
constexpr DWORD AnswerLimitMs = 120000;
constexpr DWORD ReportAfterMs = 15000;

struct Figures {
    int commands = 0;
    int pairsPerKind = 0;
    int forceStopsPerKind = 0;
    int visits = 0;
    double slowestRoundMs = 0;  // from the requests to the last one taking effect
    int lateAnswers = 0;        // helpers done only after 5 s: starved, yet no lock left held
    double slowestAnswerMs = 0;
    // Per kind, in the order of kinds: how long pauses took from the request (helpers included,
    // as the host's clock sees it), the slowest, and how many took over 2 s.
    double slowestPauseMs[std::size(Kinds)] = {};
    int slowPauses[std::size(Kinds)] = {};
    // The same for force stops, and how many took over 10 s (held wherever they stood).
    double slowestEndMs[std::size(Kinds)] = {};
    int lateEnds[std::size(Kinds)] = {};
};

Figures figures;
volatile LONG progress = 0;
size_t kindCount = std::size(Kinds);
Clock::time_point commandStart = Clock::now();
// For each daemon, in the order of paths: when its last command took effect, from the request.
std::vector<std::wstring> daemonPaths;
std::vector<double> tookMs;

// Written without the heaps or the C runtime's stream locks: a lock may be left held.
void Say(const char* format, ...) {
    char line[600];
    va_list args;
    va_start(args, format);
    int length = _vsnprintf(line, sizeof line - 1, format, args);
    va_end(args);
    if (length < 0) length = sizeof line - 1;
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), line, static_cast<DWORD>(length), &written, nullptr);
}

void Narrow(const wchar_t* text, char* out, size_t size) {
    size_t i = 0;
    for (; text[i] && i + 1 < size; ++i) out[i] = text[i] < 128 ? static_cast<char>(text[i]) : '?';
    out[i] = 0;
}

// module+offset for code, or null when address is not in an image's executable pages.
bool NameCode(uintptr_t address, char* out, size_t size, bool anyRegion) {
    MEMORY_BASIC_INFORMATION region{};
    if (!VirtualQuery(reinterpret_cast<const void*>(address), &region, sizeof region)) return false;
    const DWORD code = PAGE_EXECUTE | PAGE_EXECUTE_READ | PAGE_EXECUTE_READWRITE | PAGE_EXECUTE_WRITECOPY;
    if (region.Type != MEM_IMAGE || !(region.Protect & code)) {
        if (!anyRegion) return false;
        _snprintf(out, size, "%p (not image code, type %lx)", reinterpret_cast<void*>(address), region.Type);
        return true;
    }
    wchar_t path[MAX_PATH];
    char name[MAX_PATH] = "?";
    if (K32GetMappedFileNameW(GetCurrentProcess(), reinterpret_cast<void*>(address), path, MAX_PATH)) {
        const wchar_t* last = path;
        for (const wchar_t* c = path; *c; ++c) {
            if (*c == L'\\' || *c == L'/') last = c + 1;
        }
        Narrow(last, name, sizeof name);
    }
    const auto base = reinterpret_cast<uintptr_t>(region.AllocationBase);
    _snprintf(out, size, "%s+0x%lx", name, static_cast<unsigned long>(address - base));
    return true;
}

// Suspends the thread for a moment: its suspend count, where it stands, and the code
// addresses found on its stack (return addresses among them).
void ShowThread(HANDLE thread, const char* label) {
    const DWORD previous = SuspendThread(thread);
    if (previous == static_cast<DWORD>(-1)) {
        Say("  %s: cannot be suspended (error %lu)\n", label, GetLastError());
        return;
    }
    CONTEXT context{};
    context.ContextFlags = CONTEXT_CONTROL | CONTEXT_INTEGER;
    if (!GetThreadContext(thread, &context)) {
        ResumeThread(thread);
        Say("  %s: suspend count %lu, no context (error %lu)\n", label, previous, GetLastError());
        return;
    }
#ifdef _WIN64
    const uintptr_t ip = context.Rip, sp = context.Rsp;
#else
    const uintptr_t ip = context.Eip, sp = context.Esp;
#endif
    char where[MAX_PATH + 40];
    NameCode(ip, where, sizeof where, true);
    Say("  %s: tid %lu suspend count %lu at %s sp %p\n    stack:", label, GetThreadId(thread), previous, where,
        reinterpret_cast<void*>(sp));
    int shown = 0;
    for (uintptr_t at = sp; at < sp + 16384 && shown < 14; at += 256) {
        uintptr_t words[256 / sizeof(uintptr_t)];
        SIZE_T read = 0;
        if (!ReadProcessMemory(GetCurrentProcess(), reinterpret_cast<const void*>(at), words, sizeof words, &read))
            break;
        for (size_t i = 0; i < read / sizeof(uintptr_t) && shown < 14; ++i) {
            if (NameCode(words[i], where, sizeof where, false)) {
                Say(" %s", where);
                ++shown;
            }
        }
    }
    Say("\n");
    ResumeThread(thread);
}

// Every daemon first (the loader lock may be held: the thread list comes last, as it allocates).
void ShowEveryThread(HANDLE helper, const char* step) {
    if (helper) {
        std::fflush(stdout);  // the main thread: the stream is not in use
        Say("helper not done after %lu s, in %s, after command %d; threads:\n", ReportAfterMs / 1000, step,
            figures.commands);
    } else {
        Say("%s, after command %d, %ld ms into its round; threads:\n", step, figures.commands,
            static_cast<long>(
                std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - commandStart).count()));
    }
    static DWORD shown[1024];
    size_t count = 0;
    for (const DaemonOwner& daemon : app.DaemonTable) {
        if (!daemon) continue;  // slot 0
        char name[MAX_PATH];
        Narrow(daemon->fileName.c_str(), name, sizeof name);
        double took = -1;
        for (size_t i = 0; i < daemonPaths.size(); ++i) {
            if (_wcsicmp(daemonPaths[i].c_str(), daemon->path.c_str()) == 0) took = tookMs[i];
        }
        char label[MAX_PATH + 160];
        _snprintf(label, sizeof label, "%s (%s%s%s request %ld, last command took %ld ms)", name,
                  daemon->Has(FlagPaused) ? "paused" : "running", daemon->pauseWaiting ? ", pause waiting" : "",
                  daemon->ending ? ", ending" : "", static_cast<long>(daemon->request), static_cast<long>(took));
        ShowThread(daemon->thread.get(), label);
        if (count < std::size(shown) - 2) shown[count++] = GetThreadId(daemon->thread.get());
    }
    if (helper) {
        ShowThread(helper, "helper");
        shown[count++] = GetThreadId(helper);
    }
    shown[count++] = GetCurrentThreadId();
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    THREADENTRY32 entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
        if (entry.th32OwnerProcessID != GetCurrentProcessId()) continue;
        bool seen = false;
        for (size_t i = 0; i < count; ++i) seen = seen || shown[i] == entry.th32ThreadID;
        if (seen) continue;
        HANDLE other = OpenThread(THREAD_SUSPEND_RESUME | THREAD_GET_CONTEXT | THREAD_QUERY_INFORMATION, FALSE,
                                  entry.th32ThreadID);
        if (other) ShowThread(other, "other");
        if (other) CloseHandle(other);
    }
    CloseHandle(snapshot);
    Say("end of threads\n");
}

int Argument(int argc, wchar_t** argv, int index, int fallback) {
    return argc > index ? _wtoi(argv[index]) : fallback;
}

// Whatever blocks the main thread for good (a lock left held) ends the run with a verdict.
DWORD WINAPI Watch(LPVOID) {
    LONG seen = -1;
    for (;;) {
        Sleep(180000);
        if (progress == seen) {
            // Without the C runtime's streams or the loader: a lock left held may block either.
            ShowEveryThread(nullptr, "the main thread made no progress for 180 s");
            Say("FAILED: no progress for 180 s after command %d\n", figures.commands);
            TerminateProcess(GetCurrentProcess(), 1);
        }
        seen = progress;
    }
}

unsigned long FreeAddressSpaceMb() {
    SIZE_T free = 0;
    MEMORY_BASIC_INFORMATION region{};
    for (uintptr_t at = 0x10000; VirtualQuery(reinterpret_cast<void*>(at), &region, sizeof region);
         at = reinterpret_cast<uintptr_t>(region.BaseAddress) + region.RegionSize) {
        if (region.State == MEM_FREE) free += region.RegionSize;
    }
    return static_cast<unsigned long>(free >> 20);
}

bool Fail(const char* what) {
    std::printf("FAILED: %s, after command %d\n", what, figures.commands);
    return false;
}

bool StartAt(const std::wstring& path, int entries) {
    Daemon* daemon = AddDaemon(path, app.DaemonTable);
    if (!daemon) return false;
    StartDaemonThread(daemon, RequestNone);
    return WaitUntil([&] {
        int count = 0;
        for (const std::string& event : ReadEvents(path)) count += event == "entry";
        return count >= entries;
    });
}

// Gives every daemon the request, then lets the reaper visit until each has taken effect
// (applied(path) holds). Each one that takes effect is a command after which every lock the
// main thread needs must be free. The daemons still running may starve the helper that shows it,
// so only a helper that never finishes counts as a failure.
template <typename Applied>
bool Command(const std::vector<std::wstring>& paths, int32_t request, int& position, Applied applied,
             const char* what) {
    for (const std::wstring& path : paths) {
        Daemon* daemon = FindDaemonByPath(path);
        if (!daemon) return Fail("a daemon went away");
        SetDaemonRequest(daemon, request);
    }
    const auto start = Clock::now();
    commandStart = start;
    Clock::duration checking{};  // the helpers' time is not the command's
    std::vector<bool> done(paths.size(), false);
    size_t left = paths.size();
    while (left > 0) {
        if (Clock::now() - start - checking > CommandLimit) return Fail(what);
        ReapOneDaemon(position);
        ++figures.visits;
        for (size_t i = 0; i < paths.size(); ++i) {
            if (done[i] || !applied(paths[i])) continue;
            done[i] = true;
            --left;
            const double took = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
            for (size_t k = 0; k < daemonPaths.size(); ++k) {
                if (daemonPaths[k] == paths[i]) tookMs[k] = took;
            }
            const size_t kind = i % kindCount;
            if (request == RequestPause) {
                if (took > figures.slowestPauseMs[kind]) figures.slowestPauseMs[kind] = took;
                if (took > 2000) ++figures.slowPauses[kind];
            }
            if (request == RequestForceStop) {
                if (took > figures.slowestEndMs[kind]) figures.slowestEndMs[kind] = took;
                if (took > 10000) ++figures.lateEnds[kind];
            }
            ++figures.commands;
            InterlockedIncrement(&progress);
            const auto asked = Clock::now();
            const double answerMs = SystemAnswerMs(AnswerLimitMs, ShowEveryThread, ReportAfterMs);
            checking += Clock::now() - asked;
            if (answerMs < 0) return Fail("a lock was left held (the helper was not done within 120 s)");
            if (answerMs > 5000) ++figures.lateAnswers;
            if (answerMs > figures.slowestAnswerMs) figures.slowestAnswerMs = answerMs;
        }
    }
    const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    if (ms > figures.slowestRoundMs) figures.slowestRoundMs = ms;
    return true;
}

bool IsPaused(const std::wstring& path) {
    const Daemon* daemon = FindDaemonByPath(path);
    return daemon && daemon->Has(FlagPaused);
}

bool RunPairs(const std::vector<std::wstring>& paths, int rounds, int& position) {
    for (int round = 0; round < rounds; ++round) {
        if (!Command(paths, RequestPause, position, IsPaused, "a pause never came") ||
            !Command(
                paths, RequestResume, position, [](const std::wstring& path) { return !IsPaused(path); },
                "a resume never came")) {
            return false;
        }
        figures.pairsPerKind += static_cast<int>(paths.size() / kindCount);
    }
    return true;
}

bool RunForceStops(const std::vector<std::wstring>& paths, int rounds, int& position) {
    for (int round = 0; round < rounds; ++round) {
        auto gone = [](const std::wstring& path) { return FindDaemonByPath(path) == nullptr; };
        if (!Command(paths, RequestForceStop, position, gone, "a force stop never ended its daemon")) return false;
        for (const std::wstring& path : paths) {
            if (!StartAt(path, round + 2)) {
                char name[MAX_PATH];
                Narrow(path.c_str(), name, sizeof name);
                // The host starts no thread when the address space is nearly full.
                Say("%s did not start again; address space free %lu MB\n", name, FreeAddressSpaceMb());
                ShowEveryThread(nullptr, "a daemon did not start again");
                return Fail("a daemon did not start again");
            }
        }
        figures.forceStopsPerKind += static_cast<int>(paths.size() / kindCount);
    }
    return true;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    const int pairs = Argument(argc, argv, 1, 500);
    const int forceStops = Argument(argc, argv, 2, 100);
    const int instances = Argument(argc, argv, 3, 5);
    std::vector<const wchar_t*> kinds;
    for (const wchar_t* kind : Kinds) {
        if (argc <= 4 || std::wcsstr(argv[4], kind + 6)) kinds.push_back(kind);
    }
    if (kinds.empty()) return 2;
    kindCount = kinds.size();
    ResetHost();
    TempFolder folder;
    std::vector<std::wstring> paths;
    for (int i = 0; i < instances; ++i) {
        for (const wchar_t* kind : kinds) {
            paths.push_back(CopyTestDaemon(kind, folder.path() + kind + L"_" + std::to_wstring(i) + L".dll"));
            if (!StartAt(paths.back(), 1)) {
                Fail("a daemon did not start");
                return 1;
            }
        }
    }
    daemonPaths = paths;
    tookMs.assign(paths.size(), -1);
    CloseHandle(CreateThread(nullptr, 0, Watch, nullptr, 0, nullptr));
    const unsigned long freeAtStart = FreeAddressSpaceMb();
    int position = 0;
    const auto start = Clock::now();
    bool ok = RunPairs(paths, (pairs + instances - 1) / instances, position);
    const double pairSeconds = std::chrono::duration<double>(Clock::now() - start).count();
    const auto forced = Clock::now();
    ok = ok && RunForceStops(paths, (forceStops + instances - 1) / instances, position);
    const double forceSeconds = std::chrono::duration<double>(Clock::now() - forced).count();
    std::printf("busy daemons in the host's core: %d of each of %d kinds (heap, C runtime, loader, window system)\n",
                instances, static_cast<int>(kindCount));
    std::printf("  %d pause/resume pairs and %d force stops per kind, %d commands, every lock free after each\n",
                figures.pairsPerKind, figures.forceStopsPerKind, figures.commands);
    std::printf("  pairs %.1f s, force stops and starts %.1f s, %d reaper visits, slowest round %.0f ms\n", pairSeconds,
                forceSeconds, figures.visits, figures.slowestRoundMs);
    std::printf("  slowest helper %.0f ms, %d helpers done only after 5 s\n", figures.slowestAnswerMs,
                figures.lateAnswers);
    std::printf("  address space free %lu MB at the start, %lu MB now\n", freeAtStart, FreeAddressSpaceMb());
    for (size_t kind = 0; kind < kindCount; ++kind) {
        std::printf("  %ls: slowest pause %.0f ms, %d pauses over 2 s; slowest force stop %.0f ms, %d over 10 s\n",
                    kinds[kind], figures.slowestPauseMs[kind], figures.slowPauses[kind], figures.slowestEndMs[kind],
                    figures.lateEnds[kind]);
    }
    std::printf("  %s\n", ok ? "ok" : "FAILED");
    std::fflush(stdout);
    // Ended as the host ends them, at safe points: unloading a busy daemon directly would end
    // it wherever it stands, which is the very fault this run looks for.
    if (ok)
        Command(
            paths, RequestForceStop, position,
            [](const std::wstring& path) { return FindDaemonByPath(path) == nullptr; }, "the daemons did not end");
    return ok ? 0 : 1;
}
