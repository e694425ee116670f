#include "process_census.h"

#include <windows.h>

#include <psapi.h>

#include <algorithm>
#include <cstddef>
#include <cstdio>

#include "core/owner.h"
#include "handle_table.h"
#include "process_probe.h"

namespace kestrune::test {
namespace {

using probe::ModuleSpan;

// Children belong to their parent's process, message-only windows' children too.
BOOL CALLBACK CountChildWindow(HWND, LPARAM parameter) {
    ++*reinterpret_cast<size_t*>(parameter);
    return TRUE;
}

size_t CountWindows(DWORD processId) {
    size_t count = 0;
    for (HWND window : probe::ProcessWindows(processId)) {
        ++count;
        EnumChildWindows(window, CountChildWindow, reinterpret_cast<LPARAM>(&count));
    }
    return count;
}

}  // namespace

ProcessCensus TakeCensus(DWORD processId) {
    ProcessCensus census;
    {
        const HandleOwner process(OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, processId));
        if (!process) return census;
        census.taken = true;
        census.handleTableRead = ReadHandleCount(processId, census.handles);
        census.gdiObjects = GetGuiResources(process.get(), GR_GDIOBJECTS);
        census.userObjects = GetGuiResources(process.get(), GR_USEROBJECTS);
        PROCESS_MEMORY_COUNTERS_EX memory{};
        memory.cb = sizeof memory;
        if (GetProcessMemoryInfo(process.get(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&memory), sizeof memory)) {
            census.privateUsageReported = memory.PrivateUsage != 0;
            census.privateBytes = memory.PrivateUsage ? memory.PrivateUsage : memory.PagefileUsage;
        }
        census.committedPrivate = probe::WalkAddressSpace(process.get()).privateCommitted;
    }
    census.windows = CountWindows(processId);
    probe::ReadThreads(processId, census.threads);
    std::sort(census.threads.begin(), census.threads.end());
    std::vector<ModuleSpan> modules;
    probe::ReadModules(processId, modules);
    for (const ModuleSpan& module : modules) census.modules.push_back(module.path);
    std::sort(census.modules.begin(), census.modules.end());
    return census;
}

std::vector<DWORD> ThreadsAdded(const ProcessCensus& before, const ProcessCensus& after) {
    std::vector<DWORD> added;
    std::set_difference(after.threads.begin(), after.threads.end(), before.threads.begin(), before.threads.end(),
                        std::back_inserter(added));
    return added;
}

std::vector<std::wstring> ModulesAdded(const ProcessCensus& before, const ProcessCensus& after) {
    std::vector<std::wstring> added;
    std::set_difference(after.modules.begin(), after.modules.end(), before.modules.begin(), before.modules.end(),
                        std::back_inserter(added));
    return added;
}

std::wstring ThreadStartModule(DWORD processId, DWORD threadId) {
    const void* start = probe::ThreadStartAddress(threadId);
    std::vector<ModuleSpan> modules;
    if (!start || !probe::ReadModules(processId, modules)) return L"?";
    const ModuleSpan* module = probe::ModuleHolding(modules, start);
    return module ? module->path : L"?";
}

std::string DescribeCensus(const ProcessCensus& census) {
    char line[256];
    snprintf(line, sizeof line,
             "handles %zu%s, GDI %lu, USER %lu, windows %zu, private %.2f MiB%s, committed private regions %.2f MiB, "
             "threads %zu, modules %zu",
             census.handles, census.handleTableRead ? "" : " (no handle table)",
             static_cast<unsigned long>(census.gdiObjects), static_cast<unsigned long>(census.userObjects),
             census.windows, static_cast<double>(census.privateBytes) / (1024.0 * 1024.0),
             census.privateUsageReported ? "" : " (PagefileUsage)",
             static_cast<double>(census.committedPrivate) / (1024.0 * 1024.0), census.threads.size(),
             census.modules.size());
    return line;
}

long long HandleChange(const ProcessCensus& before, const ProcessCensus& after) {
    return static_cast<long long>(after.handles) - static_cast<long long>(before.handles);
}

long long PrivateBytesChange(const ProcessCensus& before, const ProcessCensus& after) {
    return static_cast<long long>(after.privateBytes) - static_cast<long long>(before.privateBytes);
}

std::string DescribeCensusChange(const ProcessCensus& before, const ProcessCensus& after) {
    auto change = [](auto a, auto b) { return static_cast<long long>(b) - static_cast<long long>(a); };
    char line[320];
    snprintf(line, sizeof line,
             "handles %+lld, private bytes %+lld KiB, committed private regions %+lld KiB, GDI %+lld, USER %+lld, "
             "windows %+lld, threads %+lld, modules %+lld",
             HandleChange(before, after), PrivateBytesChange(before, after) / 1024,
             change(before.committedPrivate, after.committedPrivate) / 1024,
             change(before.gdiObjects, after.gdiObjects), change(before.userObjects, after.userObjects),
             change(before.windows, after.windows), change(before.threads.size(), after.threads.size()),
             change(before.modules.size(), after.modules.size()));
    return line;
}

}  // namespace kestrune::test
