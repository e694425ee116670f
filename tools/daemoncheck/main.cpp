// daemoncheck: loads one daemon DLL as Kestrune does, runs it, stops it, unloads
// it, and reports in plain text what the host makes of it and what it left behind.
#include "check.h"
#include "core/application.h"
#include "core/clock.h"

namespace daemoncheck {
namespace {

Check* current = nullptr;

// A fault in the daemon's code ends the check: say where, give the verdict, and go.
LONG WINAPI ReportCrash(EXCEPTION_POINTERS* pointers) {
    const EXCEPTION_RECORD& record = *pointers->ExceptionRecord;
    std::wstring module = ModuleNameAt(record.ExceptionAddress);
    wchar_t code[16];
    wsprintfW(code, L"0x%08X", static_cast<unsigned>(record.ExceptionCode));
    Findings& findings = current->findings;
    Report(findings, Level::Fail, "crash",
           std::wstring(L"exception ") + code + L" at " + Hex(record.ExceptionAddress) +
               (module.empty() ? L"" : L" in " + module) + L": in the host this ends the whole process");
    TerminateProcess(GetCurrentProcess(), static_cast<UINT>(WriteVerdict(findings)));
    return EXCEPTION_EXECUTE_HANDLER;
}

int RunCheck(const Options& options) {
    Check check;
    check.options = options;
    current = &check;
    SetUnhandledExceptionFilter(ReportCrash);
    kestrune::ResetApplication();
    kestrune::ClockMilliseconds();

    WriteLine(L"daemoncheck " + std::wstring(sizeof(void*) == 8 ? L"64-bit" : L"32-bit") + L": " + options.path);
    ExamineFile(check);
    check.counters = WarmUpAndProbeCounters();
    check.before = TakeSnapshot();
    LoadAndJudge(check);
    if (check.daemon) {
        StartAndSettle(check);
        CheckMenus(check);
        StopAndUnload(check);
        CheckLeftovers(check);
    }
    return WriteVerdict(check.findings);
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
    return daemoncheck::RunCheck(options);
}
