// The system's one-time set-ups that a daemon may be the first to trigger: done once
// before the first count, so that what they keep for the process is not charged to it.
#pragma once

namespace daemoncheck {

// The thread pool with its timer and wait threads, the predefined registry roots, COM
// (on the main thread for the process, as the host does, and once on a thread of its
// own) and sockets (kept started, so a daemon's start and clean-up pair is neutral).
void WarmUpSystemServices();

}  // namespace daemoncheck
