#include "core/thread_time.h"

#include "fault/source_position.h"

namespace kestrune {
namespace {

uint64_t ToCount(const FILETIME& time) {
    LN return (static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

}  // namespace

uint64_t ReadThreadTime(HANDLE thread) {
    LN FILETIME creation{}, exit{}, kernel{}, user{};
    LN if (!GetThreadTimes(thread, &creation, &exit, &kernel, &user)) return 0;
    LN return ToCount(kernel) + ToCount(user);
}

void SampleThreadTime(Daemon* daemon) {
    LN daemon->lastThreadTime = ReadThreadTime(daemon->thread.get());
}

}  // namespace kestrune
