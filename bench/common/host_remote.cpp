#include "host_remote.h"

#include <commctrl.h>
#include <tlhelp32.h>

#include <cstddef>
#include <cstdio>
#include <cstring>
#include <thread>
#include <vector>

#include "handle_table.h"
#include "test_daemons.h"

namespace bench {

using kestrune::test::HostProcess;

bool SelectRow(const HostProcess& host, int row) {
    HWND list = host.List();
    HANDLE process = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_WRITE, FALSE, host.ProcessId());
    if (!list || !process) return false;
    void* remote = VirtualAllocEx(process, nullptr, sizeof(LVITEMW), MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    bool done = false;
    if (remote) {
        LVITEMW item{};
        item.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
        item.state = LVIS_SELECTED | LVIS_FOCUSED;
        SIZE_T written = 0;
        done = WriteProcessMemory(process, remote, &item, sizeof item, &written) &&
               SendMessageW(list, LVM_SETITEMSTATE, row, reinterpret_cast<LPARAM>(remote)) != 0;
        VirtualFreeEx(process, remote, 0, MEM_RELEASE);
    }
    CloseHandle(process);
    return done;
}

void PostCommand(const HostProcess& host, int code) {
    PostMessageW(host.MainWindow(), WM_COMMAND, MAKEWPARAM(code, 0), 0);
}

void ShowHost(HostProcess& host) {
    host.PressTrayIcon();
    kestrune::test::WaitUntil([&] { return host.IsWindowShown(); }, std::chrono::seconds(30));
    host.Sync();
}

void HideHost(HostProcess& host) {
    PostMessageW(host.MainWindow(), WM_SYSCOMMAND, SC_MINIMIZE, 0);
    kestrune::test::WaitUntil([&] { return !IsWindowVisible(host.MainWindow()); }, std::chrono::seconds(30));
    host.Sync();
}

bool BindCommands(HostProcess& host) {
    ShowHost(host);
    SelectRow(host, 0);
    HWND popup = host.OpenContextMenu(0);
    if (popup) {
        kestrune::test::PressKeys({VK_ESCAPE});
        host.WaitForNoPopupMenu();
    }
    HideHost(host);
    return popup != nullptr;
}

HANDLE OpenMainThread(const HostProcess& host) {
    DWORD threadId = host.MainWindow() ? GetWindowThreadProcessId(host.MainWindow(), nullptr) : 0;
    return threadId ? OpenThread(THREAD_QUERY_LIMITED_INFORMATION, FALSE, threadId) : nullptr;
}

double WineserverCpuMilliseconds() {
    HANDLE file = CreateFileW(L"Z:\\proc\\self\\stat", GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return -1;
    char text[1024] = {};
    DWORD read = 0;
    ReadFile(file, text, sizeof text - 1, &read, nullptr);
    CloseHandle(file);
    // After "pid (name) ": state is field 3; utime and stime are fields 14 and 15, in 1/100 s.
    const char* rest = std::strrchr(text, ')');
    if (!rest || std::strstr(text, "wineserver") == nullptr) return -1;
    unsigned long long fields[13] = {};
    char state = 0;
    if (std::sscanf(rest + 1, " %c %llu %llu %llu %llu %llu %llu %llu %llu %llu %llu %llu %llu", &state, &fields[0],
                    &fields[1], &fields[2], &fields[3], &fields[4], &fields[5], &fields[6], &fields[7], &fields[8],
                    &fields[9], &fields[10], &fields[11]) != 13) {
        return -1;
    }
    return static_cast<double>(fields[10] + fields[11]) * 10.0;
}

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

long CountHandles(DWORD processId) {
    // GetProcessHandleCount answers 0 under Wine; the system table is kept there.
    std::vector<uintptr_t> handles;
    if (!kestrune::ReadHandleTable(processId, handles)) return -1;
    return static_cast<long>(handles.size());
}

long CountThreads(DWORD processId) {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return -1;
    THREADENTRY32 entry{};
    entry.dwSize = sizeof entry;
    long threads = 0;
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
        if (entry.th32OwnerProcessID == processId) ++threads;
    }
    CloseHandle(snapshot);
    return threads;
}

}  // namespace bench
