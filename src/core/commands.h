// The commands the user gives a daemon, carried out against the selected row of the daemon list.
#pragma once

#include <cstdint>
#include <string>

namespace kestrune {

// Equal to the context menu's item identifiers.
enum DaemonCommand : int32_t {
    CmdStart = 6,
    CmdOpenFolder = 7,
    CmdPriorityIdle = 8,
    CmdPriorityLowest = 9,
    CmdPriorityBelowNormal = 10,
    CmdPriorityNormal = 11,
    CmdPriorityAboveNormal = 12,
    CmdPriorityHighest = 13,
    CmdPriorityTimeCritical = 14,
    CmdPauseResume = 15,
    CmdPauseResumeAll = 16,
    CmdForceStop = 17,
    CmdStop = 18,
};

// Only "Start" and "Open folder" act at once; the others leave a request for the reaper.
void ExecuteDaemonCommand(int32_t code);

// The folder part of a daemon path, up to and including its last separator; a leading
// double quote is skipped; empty when the path has no separator.
std::wstring FolderOfPath(const std::wstring& path);

// "Are you sure ..." with Yes and No; true on Yes.
bool ConfirmForceStop(const std::wstring& fileName);

}  // namespace kestrune
