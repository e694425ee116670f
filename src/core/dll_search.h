// The DLL search the host runs with, shared with daemoncheck so both find the same libraries.
#pragma once

namespace kestrune {

// No library, the host's own or a daemon's dependency, is ever taken from the current
// directory. Called once at start, before anything is loaded.
void KeepCurrentDirectoryOutOfDllSearch();

}  // namespace kestrune
