// Writes into freed memory made visible: while a watch is on, blocks given back with
// delete are filled with a pattern and kept instead of being handed out again.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kestrune::test {

constexpr unsigned char FreedFill = 0xDD;

class FreedBlockWatch {
public:
    FreedBlockWatch();
    // Gives the kept blocks back to the heap.
    ~FreedBlockWatch();
    FreedBlockWatch(const FreedBlockWatch&) = delete;
    FreedBlockWatch& operator=(const FreedBlockWatch&) = delete;

    // True when block was freed during the watch and its bytes [offset, offset + size)
    // still hold the fill: nothing has written there since.
    static bool IsUntouched(const void* block, size_t offset, size_t size);
};

}  // namespace kestrune::test
