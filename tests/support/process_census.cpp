#include "process_census.h"

#include <psapi.h>
#include <tlhelp32.h>

#include <algorithm>
#include <cstddef>
#include <cstdio>

#include "handle_table.h"

namespace kestrune::test {
namespace {

constexpr int ThreadQuerySetWin32StartAddress = 9;

template <typename Function>
Function NtdllFunction(const char* name) {
    return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), name)));
}

bool CountHandles(DWORD processId, size_t& count) {
    std::vector<uintptr_t> handles;
    if (!ReadHandleTable(processId, handles)) return false;
    count = handles.size();
    return true;
}

std::vector<DWORD> ListThreads(DWORD processId) {
    std::vector<DWORD> threads;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return threads;
    THREADENTRY32 entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
        if (entry.th32OwnerProcessID == processId) threads.push_back(entry.th32ThreadID);
    }
    CloseHandle(snapshot);
    std::sort(threads.begin(), threads.end());
    return threads;
}

struct ModuleSpan {
    std::wstring path;
    uintptr_t base;
    size_t size;
};

std::vector<ModuleSpan> ListModules(DWORD processId) {
    std::vector<ModuleSpan> modules;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, processId);
    if (snapshot == INVALID_HANDLE_VALUE) return modules;
    MODULEENTRY32W entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Module32FirstW(snapshot, &entry); more; more = Module32NextW(snapshot, &entry)) {
        modules.push_back({entry.szExePath, reinterpret_cast<uintptr_t>(entry.modBaseAddr), entry.modBaseSize});
    }
    CloseHandle(snapshot);
    return modules;
}

uint64_t CountCommittedPrivate(HANDLE process) {
    SYSTEM_INFO system;
    GetSystemInfo(&system);
    uint64_t total = 0;
    auto* address = static_cast<char*>(system.lpMinimumApplicationAddress);
    MEMORY_BASIC_INFORMATION region;
    while (address < system.lpMaximumApplicationAddress && VirtualQueryEx(process, address, &region, sizeof region)) {
        if (region.State == MEM_COMMIT && region.Type == MEM_PRIVATE) total += region.RegionSize;
        address = static_cast<char*>(region.BaseAddress) + region.RegionSize;
    }
    return total;
}

struct WindowCount {
    DWORD processId;
    size_t count;
};

BOOL CALLBACK CountChildWindow(HWND, LPARAM parameter) {
    ++reinterpret_cast<WindowCount*>(parameter)->count;  // children belong to their parent's process
    return TRUE;
}

BOOL CALLBACK CountProcessWindow(HWND window, LPARAM parameter) {
    auto* search = reinterpret_cast<WindowCount*>(parameter);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner != search->processId) return TRUE;
    ++search->count;
    EnumChildWindows(window, CountChildWindow, parameter);
    return TRUE;
}

size_t CountWindows(DWORD processId) {
    WindowCount search{processId, 0};
    EnumWindows(CountProcessWindow, reinterpret_cast<LPARAM>(&search));
    // Message-only windows are not enumerated: walk the children of HWND_MESSAGE.
    for (HWND window = FindWindowExW(HWND_MESSAGE, nullptr, nullptr, nullptr); window;
         window = FindWindowExW(HWND_MESSAGE, window, nullptr, nullptr)) {
        CountProcessWindow(window, reinterpret_cast<LPARAM>(&search));
    }
    return search.count;
}

}  // namespace

ProcessCensus TakeCensus(DWORD processId) {
    ProcessCensus census;
    HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, processId);
    if (!process) return census;
    census.taken = true;
    census.handleTableRead = CountHandles(processId, census.handles);
    census.gdiObjects = GetGuiResources(process, GR_GDIOBJECTS);
    census.userObjects = GetGuiResources(process, GR_USEROBJECTS);
    PROCESS_MEMORY_COUNTERS_EX memory{};
    memory.cb = sizeof memory;
    if (GetProcessMemoryInfo(process, reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&memory), sizeof memory)) {
        census.privateUsageReported = memory.PrivateUsage != 0;
        census.privateBytes = memory.PrivateUsage ? memory.PrivateUsage : memory.PagefileUsage;
    }
    census.committedPrivate = CountCommittedPrivate(process);
    CloseHandle(process);
    census.windows = CountWindows(processId);
    census.threads = ListThreads(processId);
    for (const ModuleSpan& module : ListModules(processId)) census.modules.push_back(module.path);
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
    using Query = LONG(WINAPI*)(HANDLE, int, PVOID, ULONG, PULONG);
    auto query = NtdllFunction<Query>("NtQueryInformationThread");
    HANDLE thread = OpenThread(THREAD_QUERY_INFORMATION, FALSE, threadId);
    if (!query || !thread) {
        if (thread) CloseHandle(thread);
        return L"?";
    }
    uintptr_t start = 0;
    LONG status = query(thread, ThreadQuerySetWin32StartAddress, &start, sizeof start, nullptr);
    CloseHandle(thread);
    if (status != 0) return L"?";
    for (const ModuleSpan& module : ListModules(processId)) {
        if (start >= module.base && start - module.base < module.size) return module.path;
    }
    return L"?";
}

std::string DescribeCensus(const ProcessCensus& census) {
    char line[256];
    snprintf(line, sizeof line,
             "handles %zu%s, GDI %lu, USER %lu, windows %zu, private %.2f MiB%s, committed private regions %.2f MiB, "
             "threads %zu, modules %zu",
             census.handles, census.handleTableRead ? "" : " (no handle table)",
             static_cast<unsigned long>(census.gdiObjects), static_cast<unsigned long>(census.userObjects),
             census.windows,
             static_cast<double>(census.privateBytes) / (1024.0 * 1024.0),
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
             change(before.windows, after.windows), change(before.threads.size(), after.threads.size()), change(before.modules.size(), after.modules.size()));
    return line;
}

}  // namespace kestrune::test
