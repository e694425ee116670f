// Loading a daemon library, its thread's body, and tearing it down.
#pragma once

#include <windows.h>

#include <string>

#include "core/daemon_record.h"
#include "core/library_release.h"

namespace kestrune {

// What LoadDaemon met on its way, for tools that explain its decisions. It
// changes nothing about them.
struct LoadFacts {
    DWORD loadError = 0;               // GetLastError of a failed LoadLibraryW
    const void* bound = nullptr;       // the export with ordinal 1, or null
    const void* entryState = nullptr;  // the EntryState export, when looked up
    bool entryStateCalled = false;
    const void* stateWordReturned = nullptr;  // what EntryState returned, when called
    const void* entryMenu = nullptr;          // the EntryMenu export, when looked up
    bool entryPointNotCode = false;           // EntryPoint named no code of a loaded image
    bool entryStateNotCode = false;           // EntryState, at or above the bound, named no code
    bool stateWordNotWritable = false;        // the returned word, at or above the bound, cannot take 255
    bool entryMenuNotCode = false;            // EntryMenu, at or above the bound, named no code
};

// A new record for the library at path, or null when it cannot be loaded or
// lacks EntryPoint. EntryState is called here, on the caller's thread.
DaemonOwner LoadDaemon(const std::wstring& path, LoadFacts* facts = nullptr);

// The start routine of every daemon thread; runs the daemon's EntryPoint.
DWORD WINAPI DaemonThreadMain(LPVOID record);

// Ends a thread that still runs, releases the library (library_release.h: freed once none of
// its code can run, kept otherwise), frees the record.
LibraryFate UnloadDaemon(DaemonOwner daemon);

// For the end of the process when a daemon could not be ended safely in time: the record goes,
// the thread runs on and the library stays mapped until the process ends.
void AbandonDaemon(DaemonOwner daemon);

// The text after the last "\" or "/" of a path, or the whole path.
std::wstring FilePartOf(const std::wstring& path);

}  // namespace kestrune
