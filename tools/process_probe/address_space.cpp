#include "process_probe.h"

namespace kestrune::probe {

AddressSpace WalkAddressSpace(HANDLE process) {
    AddressSpace space;
    SYSTEM_INFO system;
    GetSystemInfo(&system);
    auto* address = static_cast<char*>(system.lpMinimumApplicationAddress);
    auto* end = static_cast<char*>(system.lpMaximumApplicationAddress);
    MEMORY_BASIC_INFORMATION region;
    while (address < end && VirtualQueryEx(process, address, &region, sizeof region) == sizeof region) {
        ++space.regions;
        uint64_t size = region.RegionSize;
        if (region.State == MEM_COMMIT) {
            space.used += size;
            if (region.Type == MEM_IMAGE) {
                space.imageCommitted += size;
            } else if (region.Type == MEM_MAPPED) {
                space.mappedCommitted += size;
            } else {
                space.privateCommitted += size;
            }
        } else if (region.State == MEM_RESERVE) {
            space.used += size;
            space.reserved += size;
        }
        address = static_cast<char*>(region.BaseAddress) + region.RegionSize;
    }
    return space;
}

}  // namespace kestrune::probe
