#include "options.h"

#include "core/daemon_record.h"

namespace daemoncheck {
namespace {

// Waits are whole milliseconds up to the host's grace period: waiting longer shows nothing more.
bool ParseMilliseconds(const std::wstring& text, DWORD& value) {
    if (text.empty() || text.size() > 9) return false;
    DWORD result = 0;
    for (wchar_t c : text) {
        if (c < L'0' || c > L'9') return false;
        result = result * 10 + static_cast<DWORD>(c - L'0');
    }
    if (result > static_cast<DWORD>(kestrune::StopGracePeriod)) return false;
    value = result;
    return true;
}

bool CheckCombination(Options& options, std::wstring& error) {
    // A folder given as "wild_magic\" reaches us as wild_magic": the command line takes \" for a quote.
    if (options.mode == Mode::Folder && !options.path.empty() && options.path.back() == L'"') options.path.pop_back();
    if (options.path.empty()) {
        error = options.mode == Mode::Folder ? L"no folder named" : L"no DLL named";
        return false;
    }
    if (options.full && options.mode != Mode::Folder) {
        error = L"--full goes with --folder";
        return false;
    }
    return true;
}

}  // namespace

bool ParseOptions(int argc, wchar_t** argv, Options& options, std::wstring& error) {
    for (int i = 1; i < argc; ++i) {
        std::wstring argument = argv[i];
        DWORD* target = nullptr;
        if (argument == L"--settle") target = &options.settleMilliseconds;
        if (argument == L"--wait") target = &options.waitMilliseconds;
        if (target) {
            if (i + 1 >= argc || !ParseMilliseconds(argv[i + 1], *target)) {
                error = argument + L" takes a number of milliseconds from 0 to 30000";
                return false;
            }
            ++i;
        } else if (argument == L"--folder") {
            options.mode = Mode::Folder;
        } else if (argument == L"--full") {
            options.full = true;
        } else if (argument == L"--row") {
            if (i + 1 >= argc) {
                error = L"--row takes the file's label";
                return false;
            }
            options.mode = Mode::Row;
            options.label = argv[++i];
        } else if (argument == L"--as") {
            // The folder mode's name for a file it checks in full, for the line a kept library adds.
            if (i + 1 >= argc) {
                error = L"--as takes the file's label";
                return false;
            }
            options.label = argv[++i];
        } else if (argument.size() > 1 && argument[0] == L'-') {
            error = L"unknown option " + argument;
            return false;
        } else if (options.path.empty()) {
            options.path = argument;
        } else {
            error = L"one DLL or folder at a time";
            return false;
        }
    }
    return CheckCombination(options, error);
}

std::wstring UsageText() {
    return L"usage: daemoncheck [--settle MS] [--wait MS] path\\to\\daemon.dll\r\n"
           L"       daemoncheck --folder [--full] [--settle MS] [--wait MS] path\\to\\wild_magic\r\n"
           L"\r\n"
           L"Loads the DLL as Kestrune does, runs its EntryPoint on a thread of its own, asks\r\n"
           L"it for its menu, asks it to stop through its state word, unloads it, and reports\r\n"
           L"whether the host would discover it where it lies, what the host makes of each\r\n"
           L"export and what the daemon left behind.\r\n"
           L"\r\n"
           L"  --folder     walk a wild_magic folder as the host's discovery does and print one\r\n"
           L"               line per file: whether it gets a row in the host, and why not\r\n"
           L"  --full       with --folder: also run the whole check on every file with a row\r\n"
           L"  --settle MS  how long the daemon runs before the menu and the stop (default 1000)\r\n"
           L"  --wait MS    how long to wait for it to return after the stop (default 5000;\r\n"
           L"               the host itself waits 30000 before it ends a daemon by force)\r\n"
           L"\r\n"
           L"Exit code: 0 when every check passed (warnings allowed), 1 when one failed (with\r\n"
           L"--folder: a discovered file gets no row or loses its state word), 2 for a wrong\r\n"
           L"command line.";
}

std::wstring WaitArguments(const Options& options) {
    return L"--settle " + std::to_wstring(options.settleMilliseconds) + L" --wait " +
           std::to_wstring(options.waitMilliseconds);
}

}  // namespace daemoncheck
