// One process's entries of the system's handle table. Under Wine GetProcessHandleCount
// answers 0, but this table is kept: the checker and the tests count handles from it.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <vector>

namespace kestrune {

// Appends the handle values that processId holds. False when the system does not hand
// the table out.
bool ReadHandleTable(DWORD processId, std::vector<uintptr_t>& values);

// How many handles processId holds, into count. False as for ReadHandleTable.
bool ReadHandleCount(DWORD processId, size_t& count);

}  // namespace kestrune
