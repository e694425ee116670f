// The running program's own file.
#pragma once

#include <string>

namespace kestrune {

// The full path of the program file, however long; empty when it cannot be read.
std::wstring ProgramPath();

}  // namespace kestrune
