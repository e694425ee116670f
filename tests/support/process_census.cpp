#include "process_census.h"

#include <windows.h>

#include <psapi.h>

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <utility>

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

// The threads, each opened before the modules are read so that none can end and give its
// id away meanwhile, and each module a thread started in is already in the list.
std::vector<CensusThread> ReadCensusThreads(DWORD processId, std::vector<ModuleSpan>& modules) {
    std::vector<DWORD> ids;
    probe::ReadThreads(processId, ids);
    std::vector<HandleOwner> opened;
    for (DWORD id : ids) {
        HandleOwner thread(OpenThread(THREAD_QUERY_INFORMATION | SYNCHRONIZE, FALSE, id));
        if (thread) opened.push_back(std::move(thread));
    }
    probe::ReadModules(processId, modules);
    std::vector<CensusThread> threads;
    for (const HandleOwner& thread : opened) {
        probe::ThreadIdentity identity;
        if (!probe::ReadThreadIdentity(thread.get(), identity)) continue;
        const ModuleSpan* module = probe::ModuleHolding(modules, probe::ThreadStartAddress(thread.get()));
        threads.push_back({identity, module ? module->path : L"?"});
    }
    std::sort(threads.begin(), threads.end());
    return threads;
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
    std::vector<ModuleSpan> modules;
    census.threads = ReadCensusThreads(processId, modules);
    for (const ModuleSpan& module : modules) census.modules.push_back(module.path);
    std::sort(census.modules.begin(), census.modules.end());
    return census;
}

std::vector<CensusThread> ThreadsAdded(const ProcessCensus& before, const ProcessCensus& after) {
    std::vector<CensusThread> added;
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

std::vector<std::string> DescribeThreads(const ProcessCensus& census) {
    std::vector<std::string> lines;
    for (const CensusThread& thread : census.threads) {
        std::string line = std::to_string(thread.identity.id) + " started in ";
        for (wchar_t c : thread.startModule) line += c < 128 ? static_cast<char>(c) : '?';
        lines.push_back(line);
    }
    return lines;
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
