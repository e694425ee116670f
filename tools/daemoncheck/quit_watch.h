// Quit requests the daemon's code makes on the host's main thread: its import of
// PostQuitMessage is redirected through a wrapper that counts them.
#pragma once

#include <windows.h>

namespace daemoncheck {

// Redirects the daemon image's imports of PostQuitMessage; mainThread is the host's thread.
void WatchQuitRequests(HMODULE daemon, DWORD mainThread);

// How many times the daemon's code asked the main thread to quit since WatchQuitRequests.
LONG QuitRequestsOnMainThread();

}  // namespace daemoncheck
