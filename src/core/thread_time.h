// Processor time used by a daemon's thread.
#pragma once

#include "core/daemon_record.h"

namespace kestrune {

// Kernel + user time of a thread in 100 ns units, 0 when it cannot be read.
uint64_t ReadThreadTime(HANDLE thread);

// Stores the daemon's thread time for its row.
void SampleThreadTime(Daemon* daemon);

}  // namespace kestrune
