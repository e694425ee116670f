#include <windows.h>

#include <tlhelp32.h>

#include "core/owner.h"
#include "process_probe.h"

namespace kestrune::probe {

bool ReadThreads(DWORD processId, std::vector<DWORD>& threads) {
    // A thread snapshot holds every thread of the system, whatever process it is given.
    SnapshotOwner snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0));
    if (!snapshot) return false;
    THREADENTRY32 entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Thread32First(snapshot.get(), &entry); more; more = Thread32Next(snapshot.get(), &entry)) {
        if (entry.th32OwnerProcessID == processId) threads.push_back(entry.th32ThreadID);
    }
    return true;
}

bool ReadModules(DWORD processId, std::vector<ModuleSpan>& modules) {
    SnapshotOwner snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, processId));
    if (!snapshot) return false;
    MODULEENTRY32W entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Module32FirstW(snapshot.get(), &entry); more; more = Module32NextW(snapshot.get(), &entry)) {
        modules.push_back({entry.szExePath, reinterpret_cast<uintptr_t>(entry.modBaseAddr), entry.modBaseSize});
    }
    return true;
}

const ModuleSpan* ModuleHolding(const std::vector<ModuleSpan>& modules, const void* address) {
    auto value = reinterpret_cast<uintptr_t>(address);
    for (const ModuleSpan& module : modules) {
        if (value >= module.base && value - module.base < module.size) return &module;
    }
    return nullptr;
}

}  // namespace kestrune::probe
