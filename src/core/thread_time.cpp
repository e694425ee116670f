#include "thread_time.h"

namespace kestrune {
namespace {

uint64_t ToCount(const FILETIME& time) {
    return (static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

}  // namespace

void SampleThreadTime(Daemon* daemon) {
    FILETIME creation{}, exit{}, kernel{}, user{};
    if (!GetThreadTimes(daemon->thread.get(), &creation, &exit, &kernel, &user)) kernel = user = FILETIME{};
    daemon->lastThreadTime = ToCount(kernel) + ToCount(user);
}

}  // namespace kestrune
