// The commands the user gives a daemon, carried out on the daemon records.
#pragma once

#include <cstdint>
#include <string>

#include "identifiers.h"

namespace kestrune {

// Asks the user whether to force-stop the daemon of that file name; true on Yes.
using ForceStopQuestion = bool (*)(const std::wstring& fileName);

// What a command did that its caller has to follow up.
enum class CommandEffect {
    None,
    Started,  // a daemon was loaded and started: the reaper has one more to visit
};

// Carries out code for the daemon library at rowPath (the selected row's path, empty when
// none). Only "Start" and "Open folder" act at once; the others leave a request for the
// reaper. A force stop is asked of the user through confirm first.
CommandEffect ApplyDaemonCommand(int32_t code, const std::wstring& rowPath, ForceStopQuestion confirm);

// The folder part of a daemon path, up to and including its last separator; a leading
// double quote is skipped; empty when the path has no separator.
std::wstring FolderOfPath(const std::wstring& path);

}  // namespace kestrune
