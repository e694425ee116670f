// The daemon commands as the user gives them: for the selected row, with the force-stop question.
#pragma once

#include <cstdint>
#include <string>

#include "core/commands.h"

namespace kestrune {

// Carries out a command code for the selected row and re-arms the reaper for a daemon it started.
void ExecuteDaemonCommand(int32_t code);

// "Are you sure ..." with Yes and No, every other window of the host disabled meanwhile; true on Yes.
bool ConfirmForceStop(const std::wstring& fileName);

}  // namespace kestrune
