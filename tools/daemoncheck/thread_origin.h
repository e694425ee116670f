// Which threads the daemon's own code created: its imports of the thread-creating
// functions are redirected through wrappers that note each new thread.
#pragma once

#include <windows.h>

namespace daemoncheck {

// Redirects the daemon image's imports of CreateThread, CreateRemoteThread(Ex),
// _beginthread and _beginthreadex. Threads that the system starts on the daemon's
// behalf (thread-pool workers, loader workers) do not pass through them.
void WatchThreadCreation(HMODULE daemon);

// True when the daemon's code created this thread since WatchThreadCreation.
bool WasCreatedByDaemon(DWORD threadId);

}  // namespace daemoncheck
