#include "thread_time.h"
#include "fault/source_position.h"

namespace kestrune {
namespace {

uint64_t ToCount(const FILETIME& time) {
    LN return (static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

}  // namespace

void SampleThreadTime(Daemon* daemon) {
    LN FILETIME creation{}, exit{}, kernel{}, user{};
    LN if (!GetThreadTimes(daemon->thread.get(), &creation, &exit, &kernel, &user)) kernel = user = FILETIME{};
    LN daemon->lastThreadTime = ToCount(kernel) + ToCount(user);
}

}  // namespace kestrune
