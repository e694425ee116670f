#include "freed_blocks.h"

#include <malloc.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <new>

namespace kestrune::test {
namespace {

constexpr size_t KeptCapacity = 4096;
std::atomic<bool> watching{false};
// Plain storage: the list must not allocate through the operators it serves.
void* kept[KeptCapacity];
size_t keptSizes[KeptCapacity];
std::atomic<size_t> keptCount{0};

bool Keep(void* block) {
    if (!watching.load()) return false;
    size_t slot = keptCount.fetch_add(1);
    if (slot >= KeptCapacity) return false;
    size_t size = _msize(block);
    std::memset(block, FreedFill, size);
    kept[slot] = block;
    keptSizes[slot] = size;
    return true;
}

void Release(void* block) {
    if (block && !Keep(block)) std::free(block);
}

}  // namespace

FreedBlockWatch::FreedBlockWatch() {
    keptCount.store(0);
    watching.store(true);
}

FreedBlockWatch::~FreedBlockWatch() {
    watching.store(false);
    size_t count = keptCount.load() < KeptCapacity ? keptCount.load() : KeptCapacity;
    for (size_t i = 0; i < count; ++i) std::free(kept[i]);
    keptCount.store(0);
}

bool FreedBlockWatch::IsUntouched(const void* block, size_t offset, size_t size) {
    size_t count = keptCount.load() < KeptCapacity ? keptCount.load() : KeptCapacity;
    for (size_t i = 0; i < count; ++i) {
        if (kept[i] != block || offset + size > keptSizes[i]) continue;
        const auto* bytes = static_cast<const unsigned char*>(block) + offset;
        for (size_t k = 0; k < size; ++k) {
            if (bytes[k] != FreedFill) return false;
        }
        return true;
    }
    return false;
}

}  // namespace kestrune::test

// The whole unit test program, the host's code in it included, allocates through these.
void* operator new(size_t size) {
    void* block = std::malloc(size ? size : 1);
    if (!block) throw std::bad_alloc();
    return block;
}

void operator delete(void* block) noexcept {
    kestrune::test::Release(block);
}

void operator delete(void* block, size_t) noexcept {
    kestrune::test::Release(block);
}
