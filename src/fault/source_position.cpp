#include "fault/source_position.h"

namespace kestrune {

constinit std::atomic<uint32_t> SourcePosition{0};
static_assert(sizeof SourcePosition == 4 && std::atomic<uint32_t>::is_always_lock_free);

}  // namespace kestrune
