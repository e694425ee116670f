// Loading a daemon library, its thread's body, and tearing it down.
#pragma once

#include <windows.h>

#include <string>

#include "daemon_record.h"

namespace kestrune {

// A new record for the library at path, or null when it cannot be loaded or
// lacks EntryPoint. EntryState is called here, on the caller's thread.
Daemon* LoadDaemon(const std::wstring& path);

// The start routine of every daemon thread; runs the daemon's EntryPoint.
DWORD WINAPI DaemonThreadMain(LPVOID record);

// Terminates a thread that still runs, frees the library, frees the record.
void UnloadDaemon(Daemon* daemon);

// The text after the last "\" or "/" of a path, or the whole path.
std::wstring FilePartOf(const std::wstring& path);

}  // namespace kestrune
