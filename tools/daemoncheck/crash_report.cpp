#include "crash_report.h"

#include "core/loader.h"
#include "core/owner.h"
#include "fault/fatal_error.h"
#include "process_probe.h"
#include "thread_origin.h"

namespace daemoncheck {
namespace {

using kestrune::probe::ThreadStartAddress;

Check* current = nullptr;
// Copied out of the fault by the filter, for the report made on another thread.
EXCEPTION_RECORD crashRecord;
DWORD crashThread = 0;
volatile LONG reporting = 0;
constexpr DWORD ReportWait = 30000;

std::wstring CodeText(DWORD code) {
    wchar_t text[16];
    wsprintfW(text, L"0x%08X", static_cast<unsigned>(code));
    return std::wstring(text) + L" (" + kestrune::ErrorTextOf(code) + L")";
}

std::wstring EntryOnMainThread(const Check& check) {
    switch (check.stage) {
    case Stage::Loading:
        // EntryState is looked up just before it is called, and marked called once it returns.
        return check.facts.entryState && !check.facts.entryStateCalled ? L"EntryState" : L"DllMain (loading)";
    case Stage::AskingForMenus:
        return L"EntryMenu";
    case Stage::Unloading:
        return L"DllMain (unloading)";
    default:
        return L"the daemon's code on the host's main thread (a window procedure?)";
    }
}

std::wstring CrashedEntry(const Check& check, DWORD thread) {
    if (thread == check.mainThreadId) return EntryOnMainThread(check);
    // The thread's id is recorded once its start has returned, which a daemon that fails at once
    // (a stack overflow in its first call) beats: the host's thread function tells it too.
    if ((check.daemonThreadId && thread == check.daemonThreadId) ||
        ThreadStartAddress(thread) == reinterpret_cast<const void*>(&kestrune::DaemonThreadMain)) {
        return L"EntryPoint";
    }
    if (check.detachThreadId && thread == check.detachThreadId) return L"DllMain (unloading)";
    if (WasCreatedByDaemon(thread) || IsInDaemon(check, ThreadStartAddress(thread)))
        return L"a thread the daemon started (thread " + std::to_wstring(thread) + L")";
    return L"thread " + std::to_wstring(thread);
}

void WriteCrashVerdict() {
    Check& check = *current;
    std::wstring module = ModuleNameAt(crashRecord.ExceptionAddress);
    std::wstring what = L"exception " + CodeText(crashRecord.ExceptionCode) + L" in " +
                        CrashedEntry(check, crashThread) + L" at " + Hex(crashRecord.ExceptionAddress) +
                        (module.empty() ? L"" : L" in " + module) + L": in the host this ends the whole process";
    if (check.options.mode == Mode::Row) {
        WriteLine(L"no row  " + check.options.label + L": " + what);
        TerminateProcess(GetCurrentProcess(), RowRefused);
    }
    Report(check.findings, Level::Fail, "crash", what);
    TerminateProcess(GetCurrentProcess(), static_cast<UINT>(WriteVerdict(check.findings)));
}

DWORD WINAPI ReportOnFreshStack(LPVOID) {
    WriteCrashVerdict();
    return 0;
}

// The few pages left on an exhausted stack hold no formatting: the report is then made on a
// thread with a stack of its own while this one waits, as the host's own fault handler does.
// Any other fault is reported in place, where a DllMain's fault still holds the loader lock
// that a new thread would wait for.
LONG WINAPI ReportCrash(EXCEPTION_POINTERS* pointers) {
    if (InterlockedExchange(&reporting, 1) != 0) {
        Sleep(INFINITE);  // another thread reports; the process ends with its report
    }
    crashRecord = *pointers->ExceptionRecord;
    crashThread = GetCurrentThreadId();
    if (crashRecord.ExceptionCode == EXCEPTION_STACK_OVERFLOW) {
        kestrune::HandleOwner reporter(CreateThread(nullptr, 0, ReportOnFreshStack, nullptr, 0, nullptr));
        if (reporter) WaitForSingleObject(reporter.get(), ReportWait);
        TerminateProcess(GetCurrentProcess(), RowRefused);
    }
    WriteCrashVerdict();
    return EXCEPTION_EXECUTE_HANDLER;
}

}  // namespace

void InstallCrashReport(Check& check) {
    current = &check;
    SetUnhandledExceptionFilter(ReportCrash);
}

}  // namespace daemoncheck
