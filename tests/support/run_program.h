// Runs another program of the build as a real process and collects what it printed.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "core/owner.h"

namespace kestrune::test {

struct ProgramRun {
    bool started = false;
    bool finished = false;  // false when it was ended for running past the time-out
    DWORD exitCode = 0;
    std::string output;              // standard output and standard error, as written
    std::vector<std::string> lines;  // output split at line ends, without them
};

// Starts program with arguments (already quoted as needed), its output going
// into outputFile, and waits for it at most timeout milliseconds.
ProgramRun RunProgram(const std::wstring& program, const std::wstring& arguments, const std::wstring& outputFile,
                      DWORD timeout);

// A job whose processes end when its last handle is closed: when the test program ends, however
// it ends, the system closes its handles and so ends every process it put there. Null on failure.
HandleOwner CreateKillingJob();

// A command-line argument in quotes, for paths with spaces.
std::wstring Quoted(const std::wstring& argument);

}  // namespace kestrune::test
