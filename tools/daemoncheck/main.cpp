// daemoncheck: loads one daemon DLL as Kestrune does, runs it, stops it, unloads
// it, and reports in plain text what the host makes of it and what it left behind;
// or walks a wild_magic folder as the host's discovery does, one line per file.
#include "check.h"
#include "core/application.h"
#include "core/clock.h"
#include "core/dll_search.h"
#include "crash_report.h"
#include "system_warm_up.h"
#include "thread_origin.h"

namespace daemoncheck {
namespace {

int RunFileCheck(Check& check) {
    WriteLine(L"daemoncheck " + std::wstring(sizeof(void*) == 8 ? L"64-bit" : L"32-bit") + L": " +
              check.options.path);
    ExamineFile(check);
    JudgeDiscovery(check);
    WarmUpSystemServices();
    check.counters = WarmUpAndProbeCounters();
    check.before = TakeSnapshot();
    LoadAndJudge(check);
    if (check.daemon) {
        WatchThreadCreation(check.module);
        StartAndSettle(check);
        CheckMenus(check);
        StopAndUnload(check);
        CheckLeftovers(check);
    }
    return WriteVerdict(check.findings);
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
    return options.mode == Mode::Row ? RunRowCheck(check) : RunFileCheck(check);
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
