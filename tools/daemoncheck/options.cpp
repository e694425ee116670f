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
        } else if (argument.size() > 1 && argument[0] == L'-') {
            error = L"unknown option " + argument;
            return false;
        } else if (options.path.empty()) {
            options.path = argument;
        } else {
            error = L"one DLL at a time";
            return false;
        }
    }
    if (options.path.empty()) {
        error = L"no DLL named";
        return false;
    }
    return true;
}

std::wstring UsageText() {
    return L"usage: daemoncheck [--settle MS] [--wait MS] path\\to\\daemon.dll\r\n"
           L"\r\n"
           L"Loads the DLL as Kestrune does, runs its EntryPoint on a thread of its own, asks\r\n"
           L"it for its menu, asks it to stop through its state word, unloads it, and reports\r\n"
           L"what the host makes of each export and what the daemon left behind.\r\n"
           L"\r\n"
           L"  --settle MS  how long the daemon runs before the menu and the stop (default 1000)\r\n"
           L"  --wait MS    how long to wait for it to return after the stop (default 5000;\r\n"
           L"               the host itself waits 30000 before it unloads a daemon by force)\r\n"
           L"\r\n"
           L"Exit code: 0 when every check passed (warnings allowed), 1 when one failed,\r\n"
           L"2 for a wrong command line.";
}

}  // namespace daemoncheck
