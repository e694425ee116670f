#include "check.h"
#include "core/discovery.h"
#include "core/owner.h"

namespace daemoncheck {
namespace {

using kestrune::EntryDecision;

// Generous: the 32-bit checker may run emulated, where every process start takes seconds.
constexpr DWORD RowWait = 120000;
constexpr DWORD FullCheckAllowance = 120000;

struct Seen {
    std::wstring label;  // the entry's path below the walked folder
    std::wstring path;
    EntryDecision decision;
    DWORD error;
};

struct Walk {
    std::wstring base;
    std::vector<Seen> seen;
};

void Note(void* context, const std::wstring& folder, const wchar_t* name, EntryDecision decision, DWORD error) {
    auto& walk = *static_cast<Walk*>(context);
    if (decision == EntryDecision::DotEntry || decision == EntryDecision::FolderEntered) return;
    std::wstring path = name ? folder + name : folder;
    if (decision == EntryDecision::FolderTooDeep) path += L"\\";
    walk.seen.push_back({path.substr(walk.base.size()), path, decision, error});
}

std::wstring WithSeparator(std::wstring folder) {
    for (wchar_t& c : folder) {
        if (c == L'/') c = L'\\';
    }
    if (folder.empty() || folder.back() != L'\\') folder += L'\\';
    return folder;
}

std::wstring OwnProgram() {
    wchar_t path[MAX_PATH * 4] = {};
    DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH * 4);
    return std::wstring(path, length);
}

// Runs this program again with arguments, its output going where ours goes. The exit code,
// or no value when it ran past the time allowed and was ended.
bool RunSelf(const std::wstring& arguments, DWORD allowance, DWORD& exitCode) {
    HANDLE process = GetCurrentProcess();
    HANDLE output = nullptr;
    DuplicateHandle(process, GetStdHandle(STD_OUTPUT_HANDLE), process, &output, 0, TRUE, DUPLICATE_SAME_ACCESS);
    kestrune::HandleOwner inheritedOutput(output);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = output;
    startup.hStdError = output;
    std::wstring program = OwnProgram();
    std::wstring commandLine = L"\"" + program + L"\" " + arguments;
    PROCESS_INFORMATION started{};
    exitCode = RowRefused;
    if (!CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                        &started)) {
        return false;
    }
    kestrune::HandleOwner child(started.hProcess);
    kestrune::HandleOwner childThread(started.hThread);
    if (WaitForSingleObject(child.get(), allowance) != WAIT_OBJECT_0) {
        TerminateProcess(child.get(), RowRefused);
        WaitForSingleObject(child.get(), 5000);
        return false;
    }
    GetExitCodeProcess(child.get(), &exitCode);
    return true;
}

std::wstring Quoted(const std::wstring& text) {
    return L"\"" + text + L"\"";
}

struct Tally {
    int listed = 0;
    int discovered = 0;
    int rows = 0;
};

void CheckDiscovered(const Options& options, const Seen& file, Findings& findings, Tally& tally) {
    ++tally.discovered;
    DWORD exitCode = RowRefused;
    if (!RunSelf(L"--row " + Quoted(file.label) + L" " + Quoted(file.path), RowWait, exitCode)) {
        WriteLine(L"no row  " + file.label + L": loading it did not end within " + std::to_wstring(RowWait / 1000) +
                  L" s (its DllMain or EntryState hangs): the host's start hangs with it");
        exitCode = RowRefused;
    } else if (exitCode != RowKept && exitCode != RowRefused && exitCode != RowWarned && exitCode != RowLost) {
        WriteLine(L"no row  " + file.label + L": loading it ended the process with exit code " + Hex(exitCode) +
                  L" before a line was written: in the host this ends the whole process");
        exitCode = RowRefused;
    }
    if (exitCode == RowRefused || exitCode == RowLost) ++findings.failures;
    if (exitCode == RowWarned) ++findings.warnings;
    if (exitCode != RowKept && exitCode != RowWarned && exitCode != RowLost) return;
    ++tally.rows;
    if (!options.full) return;
    DWORD fullExit = 1;
    RunSelf(WaitArguments(options) + L" --as " + Quoted(file.label) + L" " + Quoted(file.path),
            options.settleMilliseconds + options.waitMilliseconds + FullCheckAllowance, fullExit);
    if (fullExit != 0 && exitCode != RowLost) ++findings.failures;  // each file fails once
}

void ReportSkipped(const Seen& entry, Findings& findings) {
    switch (entry.decision) {
    case EntryDecision::NameRejected:
        WriteLine(L"skipped " + entry.label +
                  L": not a daemon's name: the host takes only files whose names end in \".dll\", in lower case");
        break;
    case EntryDecision::FolderTooDeep:
        WriteLine(L"skipped " + entry.label + L": a folder two below wild_magic\\: the host does not look inside it");
        break;
    case EntryDecision::ListingFailed:
        ++findings.warnings;
        WriteLine(L"skipped " + entry.label + L": the host cannot list this folder (error " +
                  std::to_wstring(entry.error) + L"; a path too long?): nothing in it is discovered");
        break;
    default:
        break;
    }
}

}  // namespace

int RunFolderCheck(const Options& options) {
    Walk walk{WithSeparator(options.path), {}};
    WriteLine(L"daemoncheck " + std::wstring(sizeof(void*) == 8 ? L"64-bit" : L"32-bit") + L": folder " + walk.base +
              L", walked as the host's discovery walks wild_magic\\");
    Findings findings;
    std::vector<std::wstring> discovered;
    if (!kestrune::WalkDaemonFolder(walk.base, discovered, Note, &walk)) {
        Report(findings, Level::Fail, "folder", L"no such folder");
        return WriteVerdict(findings);
    }
    Tally tally;
    for (const Seen& entry : walk.seen) {
        if (entry.decision != EntryDecision::ListingFailed) ++tally.listed;
        if (entry.decision == EntryDecision::Accepted) {
            CheckDiscovered(options, entry, findings, tally);
        } else {
            ReportSkipped(entry, findings);
        }
    }
    WriteLine(L"folder: " + std::to_wstring(tally.listed) + L" entries seen, " + std::to_wstring(tally.discovered) +
              L" DLLs discovered, " + std::to_wstring(tally.rows) + L" with a row in the host");
    return WriteVerdict(findings);
}

}  // namespace daemoncheck
