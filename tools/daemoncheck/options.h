// The command line: one DLL or a folder to walk, and two waits.
#pragma once

#include <windows.h>

#include <string>

namespace daemoncheck {

enum class Mode {
    File,    // the full check of one DLL
    Folder,  // one line per file of a wild_magic folder, as the host's discovery sees it
    Row,     // the line of one file, run by the folder mode in a process of its own
};

struct Options {
    Mode mode = Mode::File;
    std::wstring path;                // the DLL, or the folder to walk
    std::wstring label;               // how the folder mode names the file in its line (Mode::Row, or its full check)
    bool full = false;                // the folder mode also runs the full check on every file with a row
    DWORD settleMilliseconds = 1000;  // how long the daemon runs before it is asked to stop
    DWORD waitMilliseconds = 5000;    // how long to wait for it to return after the request
};

// False with a reason in error when the arguments make no sense.
bool ParseOptions(int argc, wchar_t** argv, Options& options, std::wstring& error);

std::wstring UsageText();

// The waits as arguments for a check run in a process of its own.
std::wstring WaitArguments(const Options& options);

}  // namespace daemoncheck
