#include "check.h"
#include "core/clock.h"
#include "core/lifecycle.h"
#include "process_probe.h"

namespace daemoncheck {
namespace {

using kestrune::Daemon;

std::wstring Milliseconds(uint64_t value) {
    return std::to_wstring(value) + L" ms";
}

// Stops a daemon that has a state word: 255, then the wait, then the host's verdict.
void StopThroughStateWord(Check& check) {
    Daemon* daemon = check.daemon;
    kestrune::SetDaemonRequest(daemon, kestrune::RequestStop);
    bool loaded = kestrune::TickDaemon(daemon);  // writes 255 and stamps the request
    uint64_t written = kestrune::ClockMilliseconds();
    if (!loaded) {
        Report(check.findings, Level::Ok, "stop", L"returned at once when 255 was written into its state word");
        return;
    }
    bool ended = WaitPumping(daemon->thread.get(), check.options.waitMilliseconds);
    uint64_t elapsed = kestrune::ClockMilliseconds() - written;
    if (ended) {
        Report(check.findings, Level::Ok, "stop",
               L"returned " + Milliseconds(elapsed) + L" after 255 was written into its state word");
        kestrune::TickDaemon(daemon);  // finds the thread gone and unloads
        return;
    }
    const bool waitedFullGrace = check.options.waitMilliseconds >= static_cast<DWORD>(kestrune::StopGracePeriod);
    // A shorter wait cannot tell a slow cleanup from a daemon that never returns: say only what was seen.
    Report(check.findings, Level::Fail, "stop",
           L"still running " + Milliseconds(elapsed) + L" after 255 was written into its state word: " +
               (waitedFullGrace ? L"the host unloads it by force now, terminating its thread; on Quit it holds up "
                                  L"the host's exit that long"
                                : L"unless it returns within 30 s of the stop, the host unloads it by force then, "
                                  L"terminating its thread; on Quit it holds up the host's exit until it returns "
                                  L"(--wait 30000 shows which)"));
    check.threadTerminated = true;
    kestrune::SetDaemonRequest(daemon, kestrune::RequestForceStop);
    kestrune::TickDaemon(daemon);
}

// The host's Stop for a daemon whose thread still runs but that has no state word.
void StopByForce(Check& check) {
    Report(check.findings, Level::Info, "stop",
           L"no state word: on Stop the host unloads the daemon at once and terminates its thread");
    check.threadTerminated = true;
    kestrune::SetDaemonRequest(check.daemon, kestrune::RequestStop);
    kestrune::TickDaemon(check.daemon);
}

}  // namespace

void StartAndSettle(Check& check) {
    Daemon* daemon = check.daemon;
    kestrune::StartDaemonThread(daemon, kestrune::RequestNone);
    uint64_t started = kestrune::ClockMilliseconds();
    check.daemonThreadId = GetThreadId(daemon->thread.get());
    if (!daemon->Has(kestrune::FlagStarted)) {
        Report(check.findings, Level::Warn, "run",
               L"EntryPoint had already returned when the host looked at its thread: the host keeps the daemon "
               L"loaded but not started, never asks it for a menu, and unloads it only on Stop or Quit");
        return;
    }
    Report(check.findings, Level::Ok, "run",
           L"EntryPoint runs on a thread of its own (thread " + std::to_wstring(check.daemonThreadId) + L")");
    if (WaitPumping(daemon->thread.get(), check.options.settleMilliseconds)) {
        Report(check.findings, Level::Info, "run",
               L"EntryPoint returned by itself " + Milliseconds(kestrune::ClockMilliseconds() - started) +
                   L" after it started, without a stop request: the host unloads the daemon at its next check");
    }
}

void StopAndUnload(Check& check) {
    Daemon* daemon = check.daemon;
    if (!daemon) return;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                       reinterpret_cast<LPCWSTR>(reinterpret_cast<void*>(daemon->entryPointAddress)), &check.pin);
    // The daemon's windows die with its thread: their classes are noted while they still exist.
    CollectDaemonClasses(check, kestrune::probe::ProcessWindows(GetCurrentProcessId()));
    if (!daemon->Has(kestrune::FlagStarted)) {
        kestrune::SetDaemonRequest(daemon, kestrune::RequestStop);
        kestrune::TickDaemon(daemon);
    } else if (!kestrune::IsThreadAlive(daemon->thread.get())) {
        kestrune::TickDaemon(daemon);
    } else if (daemon->stateWordAddress) {
        StopThroughStateWord(check);
    } else {
        StopByForce(check);
    }
    check.daemon = nullptr;  // the host's unloading has released the record
}

}  // namespace daemoncheck
