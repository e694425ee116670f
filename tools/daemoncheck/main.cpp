// daemoncheck: loads one daemon DLL as Kestrune does, runs it, stops it, unloads
// it, and reports in plain text what the host makes of it and what it left behind;
// or walks a wild_magic folder as the host's discovery does, one line per file.
#include "check.h"
#include "core/application.h"
#include "core/clock.h"
#include "core/dll_search.h"
#include "core/library_release.h"
#include "crash_report.h"
#include "quit_watch.h"
#include "system_warm_up.h"
#include "thread_origin.h"

namespace daemoncheck {
namespace {

// The folder mode's line for a file checked in full whose library the host keeps.
void WriteKeptLine(const Check& check) {
    using kestrune::LibraryFate;
    if (check.options.label.empty() || !IsKept(check.fate)) return;
    const wchar_t* why = check.fate == LibraryFate::KeptTouched
                             ? L"its code still ran after it returned (a timer, a wait or a queued call it left armed)"
                         : check.fate == LibraryFate::KeptRunning
                             ? L"a thread still runs its code after it returned"
                             : L"it was ended by force, so its DllMain detach never runs";
    WriteLine(L"kept    " + check.options.label + L": the host keeps its library mapped after the daemon ended: " +
              why);
}

int RunFileCheck(Check& check) {
    WriteLine(L"daemoncheck " + std::wstring(sizeof(void*) == 8 ? L"64-bit" : L"32-bit") + L": " + check.options.path);
    ExamineFile(check);
    JudgeDiscovery(check);
    WarmUpSystemServices();
    check.counters = WarmUpAndProbeCounters();
    check.before = TakeSnapshot();
    LoadAndJudge(check);
    if (check.daemon) {
        WatchThreadCreation(check.module);
        WatchQuitRequests(check.module, check.mainThreadId);
        StartAndSettle(check);
        CheckMenus(check);
        StopAndUnload(check);
        CheckLeftovers(check);
    }
    const int exitCode = WriteVerdict(check.findings);
    WriteKeptLine(check);
    return exitCode;
}

int Run(const Options& options) {
    // As the host starts: no library comes from the current directory.
    kestrune::KeepCurrentDirectoryOutOfDllSearch();
    kestrune::ResetApplication();
    kestrune::ClockMilliseconds();
    if (options.mode == Mode::Folder) return RunFolderCheck(options);
    Check check;
    check.options = options;
    InstallCrashReport(check);
    const int exitCode = options.mode == Mode::Row ? RunRowCheck(check) : RunFileCheck(check);
    // As the host ends: a library it kept may wait in its teardown for a lock an ended thread
    // held, and a detach that never returned holds the loader's lock.
    kestrune::EndEveryQuarantine();
    if (check.detachBlocked || kestrune::KeepsLibrariesItCannotTearDown())
        TerminateProcess(GetCurrentProcess(), static_cast<UINT>(exitCode));
    return exitCode;
}

}  // namespace
}  // namespace daemoncheck

int wmain(int argc, wchar_t** argv) {
    daemoncheck::Options options;
    std::wstring error;
    if (!daemoncheck::ParseOptions(argc, argv, options, error)) {
        if (argc > 1) daemoncheck::WriteLine(L"daemoncheck: " + error);
        daemoncheck::WriteLine(daemoncheck::UsageText());
        return 2;
    }
    return daemoncheck::Run(options);
}
