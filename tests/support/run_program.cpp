#include "run_program.h"

#include "temp_folder.h"

namespace kestrune::test {
namespace {

std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
        start = end + 1;
    }
    return lines;
}

}  // namespace

HandleOwner CreateKillingJob() {
    HandleOwner job(CreateJobObjectW(nullptr, nullptr));
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    if (job && !SetInformationJobObject(job.get(), JobObjectExtendedLimitInformation, &limits, sizeof limits)) {
        job.reset();
    }
    return job;
}

std::wstring Quoted(const std::wstring& argument) {
    return L"\"" + argument + L"\"";
}

ProgramRun RunProgram(const std::wstring& program, const std::wstring& arguments, const std::wstring& outputFile,
                      DWORD timeout) {
    ProgramRun run;
    SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
    FileOwner output(CreateFileW(outputFile.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inheritable,
                                 CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!output) return run;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = nullptr;
    startup.hStdOutput = output.get();
    startup.hStdError = output.get();
    std::wstring commandLine = Quoted(program) + L" " + arguments;
    PROCESS_INFORMATION started{};
    // In a job until it ends, with whatever it starts (the checker starts hosts).
    HandleOwner job = CreateKillingJob();
    run.started = CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, TRUE,
                                 CREATE_NO_WINDOW | CREATE_SUSPENDED, nullptr, nullptr, &startup, &started);
    // The program's copy is all it needs; ours would keep the file open past its end.
    output.reset();
    if (!run.started) return run;
    const HandleOwner process(started.hProcess), thread(started.hThread);
    if (job) AssignProcessToJobObject(job.get(), process.get());
    ResumeThread(thread.get());
    run.finished = WaitForSingleObject(process.get(), timeout) == WAIT_OBJECT_0;
    if (!run.finished) TerminateProcess(process.get(), 255);
    if (job) {
        TerminateJobObject(job.get(), 255);
        job.reset();
    }
    if (!run.finished) WaitForSingleObject(process.get(), 5000);
    GetExitCodeProcess(process.get(), &run.exitCode);
    run.output = ReadFileBytes(outputFile);
    run.lines = SplitLines(run.output);
    return run;
}

}  // namespace kestrune::test
