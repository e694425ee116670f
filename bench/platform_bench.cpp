// What the platform charges for the calls the host makes most often, measured in one
// process: a liveness wait, the thread-time and thread-priority queries, a window timer
// tick at the periods the reaper asks for (with and without a 1 ms system timer period),
// and adding and removing a tray icon.
//   platform_bench.exe [--calls N] [--timer-seconds S] [--csv FILE]
#include <windows.h>

#include <shellapi.h>

#include <cstdio>

#include "bench_common.h"

using namespace bench;

namespace {

DWORD WINAPI WaitForever(LPVOID) {
    Sleep(INFINITE);
    return 0;
}

double OwnCpu() {
    return ThreadCpuMilliseconds(GetCurrentThread());
}

// Microseconds of processor time and of wall-clock time per call of call().
template <typename Call>
void MeasureCall(Csv& csv, const char* name, int calls, Call call) {
    double cpu = OwnCpu();
    LONGLONG start = Now();
    for (int i = 0; i < calls; ++i) call();
    double wall = MillisecondsSince(start);
    cpu = OwnCpu() - cpu;
    WriteCsv(csv, "%s_cpu,%.3f,us,%.2f", name, cpu * 1000.0 / calls, LoadAverage());
    WriteCsv(csv, "%s_wall,%.3f,us,%.2f", name, wall * 1000.0 / calls, LoadAverage());
}

LRESULT CALLBACK PlainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return DefWindowProcW(window, message, wParam, lParam);
}

HWND CreatePlainWindow() {
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = PlainWindowProc;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"KestrunePlatformBench";
    RegisterClassW(&windowClass);
    return CreateWindowExW(0, windowClass.lpszClassName, L"", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100, nullptr, nullptr,
                           windowClass.hInstance, nullptr);
}

// An event loop like the host's with one timer: the real period and the loop's processor time per tick.
void MeasureTimer(Csv& csv, HWND window, UINT period, int seconds, HANDLE thread, const char* tag) {
    SetTimer(window, 5, period, nullptr);
    long ticks = 0;
    double cpu = OwnCpu();
    LONGLONG start = Now();
    MSG message;
    while (MillisecondsSince(start) < seconds * 1000.0 && GetMessageW(&message, nullptr, 0, 0) > 0) {
        if (message.message == WM_TIMER && message.hwnd == window) {
            ++ticks;
            WaitForSingleObject(thread, 0);  // the reaper's liveness test
            continue;
        }
        DispatchMessageW(&message);
    }
    double wall = MillisecondsSince(start);
    cpu = OwnCpu() - cpu;
    KillTimer(window, 5);
    WriteCsv(csv, "timer_%u%s_period,%.3f,ms,%.2f", period, tag, ticks ? wall / ticks : -1.0, LoadAverage());
    WriteCsv(csv, "timer_%u%s_cpu_per_tick,%.3f,us,%.2f", period, tag, ticks ? cpu * 1000.0 / ticks : -1.0,
             LoadAverage());
    WriteCsv(csv, "timer_%u%s_core_share,%.4f,percent,%.2f", period, tag, cpu / wall * 100.0, LoadAverage());
}

void MeasureTray(Csv& csv, HWND window) {
    NOTIFYICONDATAW icon{};
    icon.cbSize = sizeof icon;
    icon.hWnd = window;
    icon.uID = 0;
    icon.uFlags = NIF_ICON | NIF_MESSAGE;
    icon.uCallbackMessage = WM_APP;
    icon.hIcon = LoadIconW(nullptr, MAKEINTRESOURCEW(32512));
    for (int round = 0; round < 3; ++round) {
        LONGLONG start = Now();
        BOOL added = Shell_NotifyIconW(NIM_ADD, &icon);
        WriteCsv(csv, "tray_add,%.1f,ms,%.2f", added ? MillisecondsSince(start) : -1.0, LoadAverage());
        start = Now();
        BOOL removed = Shell_NotifyIconW(NIM_DELETE, &icon);
        WriteCsv(csv, "tray_delete,%.1f,ms,%.2f", removed ? MillisecondsSince(start) : -1.0, LoadAverage());
    }
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    Arguments arguments = ParseArguments(argc, argv);
    int calls = arguments.Number(L"calls", 200000);
    int timerSeconds = arguments.Number(L"timer-seconds", 30);
    Csv csv = OpenCsv(arguments, "measure,value,unit,load");

    HANDLE thread = CreateThread(nullptr, 4096, WaitForever, nullptr, 0, nullptr);
    MeasureCall(csv, "liveness_wait", calls, [&] { WaitForSingleObject(thread, 0); });
    MeasureCall(csv, "get_thread_times", calls, [&] {
        FILETIME creation, exit, kernel, user;
        GetThreadTimes(thread, &creation, &exit, &kernel, &user);
    });
    MeasureCall(csv, "get_thread_priority", calls, [&] { GetThreadPriority(thread); });

    HWND window = CreatePlainWindow();
    for (UINT period : {0u, 4u, 10u}) MeasureTimer(csv, window, period, timerSeconds, thread, "");
    using PeriodFunction = UINT(WINAPI*)(UINT);
    HMODULE winmm = LoadLibraryW(L"winmm.dll");
    auto begin = reinterpret_cast<PeriodFunction>(reinterpret_cast<void*>(GetProcAddress(winmm, "timeBeginPeriod")));
    auto end = reinterpret_cast<PeriodFunction>(reinterpret_cast<void*>(GetProcAddress(winmm, "timeEndPeriod")));
    if (begin && end && begin(1) == 0) {
        for (UINT period : {0u, 4u}) MeasureTimer(csv, window, period, timerSeconds, thread, "_with_1ms_period");
        end(1);
    }
    MeasureTray(csv, window);
    DestroyWindow(window);
    CloseCsv(csv);
    return 0;
}
