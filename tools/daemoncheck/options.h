// The command line: the DLL to check and two waits.
#pragma once

#include <windows.h>

#include <string>

namespace daemoncheck {

struct Options {
    std::wstring path;
    DWORD settleMilliseconds = 1000;  // how long the daemon runs before it is asked to stop
    DWORD waitMilliseconds = 5000;    // how long to wait for it to return after the request
};

// False with a reason in error when the arguments make no sense.
bool ParseOptions(int argc, wchar_t** argv, Options& options, std::wstring& error);

std::wstring UsageText();

}  // namespace daemoncheck
