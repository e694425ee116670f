// The daemon list's one selected row, which every daemon command acts on.
#pragma once

#include <string>

namespace kestrune {

// The index of the selected row, or -1.
int SelectedRow();

// The "Path" cell of the selected row; empty when no row is selected.
std::wstring SelectedRowPath();

}  // namespace kestrune
