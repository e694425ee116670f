// Pause/resume pairs and force stops at full counts on daemons that live in the system's locks,
// through the host's own reaper and lifecycle code in this process. After every command the
// process must still take every lock the host's main thread needs (a helper done within 120 s;
// how many needed more than 5 s is reported). The window and
// its menus are left out: BusyDaemonsTest drives those on the real host at smaller counts.
//   busy_core_bench.exe [pairs per kind] [force stops per kind] [daemons per kind]
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <string>
#include <vector>

#include "core/application.h"
#include "core/daemon_table.h"
#include "core/lifecycle.h"
#include "ui/reaper.h"
#include "ui/ui_state.h"
#include "system_answers.h"
#include "temp_folder.h"
#include "test_daemons.h"

using namespace kestrune;
using namespace kestrune::test;

namespace {

using Clock = std::chrono::steady_clock;

constexpr const wchar_t* Kinds[] = {L"loops_heap", L"loops_malloc", L"loops_loader", L"loops_window"};
constexpr auto CommandLimit = std::chrono::seconds(30);
constexpr DWORD AnswerLimitMs = 120000;

struct Figures {
    int commands = 0;
    int pairsPerKind = 0;
    int forceStopsPerKind = 0;
    int visits = 0;
    double slowestRoundMs = 0;  // from the requests to the last one taking effect
    int lateAnswers = 0;        // helpers done only after 5 s: starved, yet no lock left held
    double slowestAnswerMs = 0;
};

Figures figures;
volatile LONG progress = 0;

// Whatever blocks the main thread for good (a lock left held) ends the run with a verdict.
DWORD WINAPI Watch(LPVOID) {
    LONG seen = -1;
    for (;;) {
        Sleep(180000);
        if (progress == seen) {
            std::printf("FAILED: no progress for 180 s after command %d\n", figures.commands);
            std::fflush(stdout);
            ExitProcess(1);
        }
        seen = progress;
    }
}

int Argument(int argc, wchar_t** argv, int index, int fallback) {
    return argc > index ? _wtoi(argv[index]) : fallback;
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
            ++figures.commands;
            InterlockedIncrement(&progress);
            const auto asked = Clock::now();
            const double answerMs = SystemAnswerMs(AnswerLimitMs);
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
            !Command(paths, RequestResume, position, [](const std::wstring& path) { return !IsPaused(path); },
                     "a resume never came")) {
            return false;
        }
        figures.pairsPerKind += static_cast<int>(paths.size() / std::size(Kinds));
    }
    return true;
}

bool RunForceStops(const std::vector<std::wstring>& paths, int rounds, int& position) {
    for (int round = 0; round < rounds; ++round) {
        auto gone = [](const std::wstring& path) { return FindDaemonByPath(path) == nullptr; };
        if (!Command(paths, RequestForceStop, position, gone, "a force stop never ended its daemon")) return false;
        for (const std::wstring& path : paths) {
            if (!StartAt(path, round + 2)) return Fail("a daemon did not start again");
        }
        figures.forceStopsPerKind += static_cast<int>(paths.size() / std::size(Kinds));
    }
    return true;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    const int pairs = Argument(argc, argv, 1, 500);
    const int forceStops = Argument(argc, argv, 2, 100);
    const int instances = Argument(argc, argv, 3, 5);
    ResetHost();
    TempFolder folder;
    std::vector<std::wstring> paths;
    for (int i = 0; i < instances; ++i) {
        for (const wchar_t* kind : Kinds) {
            paths.push_back(CopyTestDaemon(kind, folder.path() + kind + L"_" + std::to_wstring(i) + L".dll"));
            if (!StartAt(paths.back(), 1)) {
                Fail("a daemon did not start");
                return 1;
            }
        }
    }
    CloseHandle(CreateThread(nullptr, 0, Watch, nullptr, 0, nullptr));
    int position = 0;
    const auto start = Clock::now();
    bool ok = RunPairs(paths, (pairs + instances - 1) / instances, position);
    const double pairSeconds = std::chrono::duration<double>(Clock::now() - start).count();
    const auto forced = Clock::now();
    ok = ok && RunForceStops(paths, (forceStops + instances - 1) / instances, position);
    const double forceSeconds = std::chrono::duration<double>(Clock::now() - forced).count();
    std::printf("busy daemons in the host's core: %d of each kind (heap, C runtime, loader, window system)\n",
                instances);
    std::printf("  %d pause/resume pairs and %d force stops per kind, %d commands, every lock free after each\n",
                figures.pairsPerKind, figures.forceStopsPerKind, figures.commands);
    std::printf("  pairs %.1f s, force stops and starts %.1f s, %d reaper visits, slowest round %.0f ms\n",
                pairSeconds, forceSeconds, figures.visits, figures.slowestRoundMs);
    std::printf("  slowest helper %.0f ms, %d helpers done only after 5 s\n", figures.slowestAnswerMs,
                figures.lateAnswers);
    std::printf("  %s\n", ok ? "ok" : "FAILED");
    std::fflush(stdout);
    // Ended as the host ends them, at safe points: unloading a busy daemon directly would end
    // it wherever it stands, which is the very fault this run looks for.
    if (ok) Command(paths, RequestForceStop, position, [](const std::wstring& path) {
        return FindDaemonByPath(path) == nullptr;
    }, "the daemons did not end");
    return ok ? 0 : 1;
}
