#include "host_remote.h"

#include <windows.h>

#include <commctrl.h>

#include <cstddef>
#include <cstdio>
#include <cstring>
#include <thread>
#include <vector>

#include "core/owner.h"
#include "handle_table.h"
#include "process_probe.h"
#include "temp_folder.h"
#include "test_daemons.h"

namespace bench {

using kestrune::test::HostProcess;

bool SelectRow(const HostProcess& host, int row) {
    HWND list = host.List();
    const kestrune::HandleOwner process(OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_WRITE, FALSE, host.ProcessId()));
    if (!list || !process) return false;
    void* remote = VirtualAllocEx(process.get(), nullptr, sizeof(LVITEMW), MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    bool done = false;
    if (remote) {
        LVITEMW item{};
        item.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
        item.state = LVIS_SELECTED | LVIS_FOCUSED;
        SIZE_T written = 0;
        done = WriteProcessMemory(process.get(), remote, &item, sizeof item, &written) &&
               SendMessageW(list, LVM_SETITEMSTATE, row, reinterpret_cast<LPARAM>(remote)) != 0;
        VirtualFreeEx(process.get(), remote, 0, MEM_RELEASE);
    }
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
    const std::string stat = kestrune::test::ReadFileBytes(L"Z:\\proc\\self\\stat");
    const char* text = stat.c_str();
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

long CountHandles(DWORD processId) {
    // GetProcessHandleCount answers 0 under Wine; the system table is kept there.
    size_t handles = 0;
    return kestrune::ReadHandleCount(processId, handles) ? static_cast<long>(handles) : -1;
}

long CountThreads(DWORD processId) {
    std::vector<DWORD> threads;
    return kestrune::probe::ReadThreads(processId, threads) ? static_cast<long>(threads.size()) : -1;
}

}  // namespace bench
