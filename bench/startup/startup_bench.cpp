// Start-up of the real host against a bare loader of the same daemons, in one run,
// and the host's main-thread processor time while it sits hidden in the tray.
//   startup_bench.exe [--repeat R] [--idle-seconds S] N...
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

#include "bench_shared.h"

namespace {

std::wstring ProgramFolder() {
    wchar_t path[MAX_PATH];
    DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring full(path, length);
    return full.substr(0, full.find_last_of(L'\\') + 1);
}

double Milliseconds(LONGLONG ticks) {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return 1000.0 * static_cast<double>(ticks) / static_cast<double>(frequency.QuadPart);
}

LONGLONG Now() {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return now.QuadPart;
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

struct Bench {
    HANDLE mapping = nullptr;
    BenchShared* shared = nullptr;
    HANDLE allEntered = nullptr;
    HANDLE quit = nullptr;
};

// A folder holding kestrune.exe, bare_loader.exe and wild_magic\ with count copies of the daemon.
std::wstring Stage(int count) {
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    std::wstring folder = std::wstring(temp) + L"kestrune-bench-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                          std::to_wstring(count) + L"\\";
    CreateDirectoryW(folder.c_str(), nullptr);
    CreateDirectoryW((folder + L"wild_magic").c_str(), nullptr);
    std::wstring source = ProgramFolder();
    CopyFileW((source + L"kestrune.exe").c_str(), (folder + L"kestrune.exe").c_str(), FALSE);
    CopyFileW((source + L"bare_loader.exe").c_str(), (folder + L"bare_loader.exe").c_str(), FALSE);
    std::wstring daemon = source + L"..\\bench-daemons\\bench_daemon.dll";
    for (int i = 0; i < count; ++i) {
        wchar_t name[32];
        swprintf(name, 32, L"d%05d.dll", i);
        CopyFileW(daemon.c_str(), (folder + L"wild_magic\\" + name).c_str(), FALSE);
    }
    return folder;
}

void RemoveStage(const std::wstring& folder) {
    WIN32_FIND_DATAW entry;
    HANDLE listing = FindFirstFileW((folder + L"wild_magic\\*.dll").c_str(), &entry);
    if (listing != INVALID_HANDLE_VALUE) {
        do DeleteFileW((folder + L"wild_magic\\" + entry.cFileName).c_str());
        while (FindNextFileW(listing, &entry));
        FindClose(listing);
    }
    RemoveDirectoryW((folder + L"wild_magic").c_str());
    DeleteFileW((folder + L"kestrune.exe").c_str());
    DeleteFileW((folder + L"bare_loader.exe").c_str());
    RemoveDirectoryW(folder.c_str());
}

struct Search {
    DWORD process;
    HWND found;
};

BOOL CALLBACK MatchHostWindow(HWND window, LPARAM parameter) {
    auto* search = reinterpret_cast<Search*>(parameter);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    wchar_t title[64] = {};
    GetWindowTextW(window, title, 64);
    if (owner == search->process && wcscmp(title, L"Kestrune 1.0.3.3") == 0) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

HWND FindHostWindow(DWORD process) {
    Search search{process, nullptr};
    EnumWindows(MatchHostWindow, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

struct Started {
    PROCESS_INFORMATION process{};
    double milliseconds = -1;       // until the last EntryPoint ran
    double firstMilliseconds = -1;  // until the first EntryPoint ran: loading is over
};

// Starts program and waits until count EntryPoints have run.
Started StartAndWait(Bench& bench, const std::wstring& program, const std::wstring& folder, int count) {
    bench.shared->target = count;
    bench.shared->entries = 0;
    ResetEvent(bench.allEntered);
    ResetEvent(bench.quit);
    Started started;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    std::wstring commandLine = L"\"" + program + L"\"";
    LONGLONG begin = Now();
    if (!CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, folder.c_str(),
                        &startup, &started.process)) {
        return started;
    }
    if (WaitForSingleObject(bench.allEntered, 600000) == WAIT_OBJECT_0) {
        started.milliseconds = Milliseconds(Now() - begin);
        started.firstMilliseconds = Milliseconds(bench.shared->firstEntry - begin);
    }
    return started;
}

void Finish(Bench& bench, Started& started, bool host) {
    if (host) {
        HWND window = nullptr;
        for (int i = 0; i < 600 && !(window = FindHostWindow(started.process.dwProcessId)); ++i) Sleep(50);
        if (window) PostMessageW(window, WM_CLOSE, 0, 0);
    } else {
        SetEvent(bench.quit);
    }
    if (WaitForSingleObject(started.process.hProcess, 600000) != WAIT_OBJECT_0) TerminateProcess(started.process.hProcess, 1);
    CloseHandle(started.process.hProcess);
    CloseHandle(started.process.hThread);
}

double MainThreadMillisecondsPerMinute(DWORD process, int seconds) {
    HWND window = FindHostWindow(process);
    DWORD threadId = window ? GetWindowThreadProcessId(window, nullptr) : 0;
    HANDLE thread = OpenThread(THREAD_QUERY_LIMITED_INFORMATION, FALSE, threadId);
    if (!thread) return -1;
    auto cpu = [&] {
        FILETIME creation, exit, kernel, user;
        GetThreadTimes(thread, &creation, &exit, &kernel, &user);
        auto count = [](FILETIME t) { return (static_cast<ULONGLONG>(t.dwHighDateTime) << 32) | t.dwLowDateTime; };
        return count(kernel) + count(user);
    };
    ULONGLONG before = cpu();
    Sleep(static_cast<DWORD>(seconds) * 1000);
    ULONGLONG after = cpu();
    CloseHandle(thread);
    return static_cast<double>(after - before) / 10000.0 * 60.0 / seconds;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    int repeat = 3, idleSeconds = 30;
    std::vector<int> counts;
    for (int i = 1; i < argc; ++i) {
        if (wcscmp(argv[i], L"--repeat") == 0 && i + 1 < argc) {
            repeat = _wtoi(argv[++i]);
        } else if (wcscmp(argv[i], L"--idle-seconds") == 0 && i + 1 < argc) {
            idleSeconds = _wtoi(argv[++i]);
        } else {
            counts.push_back(_wtoi(argv[i]));
        }
    }
    if (counts.empty()) counts = {1, 100, 1000};

    Bench bench;
    bench.mapping = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, sizeof(BenchShared),
                                       BENCH_SHARED_NAME);
    bench.shared = static_cast<BenchShared*>(MapViewOfFile(bench.mapping, FILE_MAP_WRITE, 0, 0, sizeof(BenchShared)));
    bench.allEntered = CreateEventW(nullptr, TRUE, FALSE, BENCH_ALL_ENTERED_NAME);
    bench.quit = CreateEventW(nullptr, TRUE, FALSE, BENCH_QUIT_NAME);
    if (!bench.shared || !bench.allEntered || !bench.quit) return 2;

    std::printf("kind,daemons,host_ms,bare_ms,ratio,host_first_entry_ms,bare_first_entry_ms\n");
    for (int count : counts) {
        std::wstring folder = Stage(count);
        std::vector<double> host, bare, hostFirst, bareFirst;
        for (int r = 0; r < repeat; ++r) {
            // Alternate the order so neither side always runs on a warmer cache.
            for (int side = 0; side < 2; ++side) {
                bool isHost = (side + r) % 2 == 0;
                Started started = StartAndWait(bench, folder + (isHost ? L"kestrune.exe" : L"bare_loader.exe"), folder, count);
                (isHost ? host : bare).push_back(started.milliseconds);
                (isHost ? hostFirst : bareFirst).push_back(started.firstMilliseconds);
                Finish(bench, started, isHost);
            }
        }
        double h = Median(host), b = Median(bare);
        std::printf("startup,%d,%.1f,%.1f,%.3f,%.1f,%.1f\n", count, h, b, h / b, Median(hostFirst), Median(bareFirst));
        std::fflush(stdout);
        if (count == counts.back() && idleSeconds > 0) {
            Started started = StartAndWait(bench, folder + L"kestrune.exe", folder, count);
            Sleep(2000);  // past the start-up's own work
            double perMinute = MainThreadMillisecondsPerMinute(started.process.dwProcessId, idleSeconds);
            std::printf("idle,%d,%d,%.1f\n", count, idleSeconds, perMinute);
            Finish(bench, started, true);
        }
        RemoveStage(folder);
    }
    return 0;
}
