// Processor time used by a daemon's thread.
#pragma once

#include "daemon_record.h"

namespace kestrune {

// Stores kernel + user time of the daemon's thread, 0 when it cannot be read.
void SampleThreadTime(Daemon* daemon);

}  // namespace kestrune
