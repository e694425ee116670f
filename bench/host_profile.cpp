// Where the host's time goes, measured inside one process that runs the host's own code:
// a main window with its list of n rows, one record per row with a live thread, and then
//   - the one-second refresh (the rows shown, with the list scrolled to the middle), the
//     same refresh done for every row as before, each part of it for every row, and the
//     row lookup done by scanning the rows instead of through the host's index;
//   - a thousand reaper visits of running daemons with nothing to do, and a thousand
//     liveness waits, which each such visit made before;
//   - an event loop with the reaper timer, per tick: with nothing else, with the host's
//     reaper tick, and with the same visits each making a liveness wait.
//   host_profile.exe [--rows N] [--passes P] [--timer-seconds S] [--timer-rounds R] [--csv FILE]
// The timer loops run R rounds of S seconds each, in alternating order.
// The window is shown, as the refresh only runs then.
#include <windows.h>

#include <commctrl.h>

#include <cstdio>
#include <memory>
#include <string>

#include "bench_common.h"
#include "core/application.h"
#include "core/case_fold.h"
#include "core/lifecycle.h"
#include "core/priority.h"
#include "core/thread_time.h"
#include "ui/daemon_list.h"
#include "ui/daemon_rows.h"
#include "ui/dpi.h"
#include "ui/main_window.h"
#include "ui/reaper.h"
#include "ui/ui_state.h"

using namespace bench;
using namespace kestrune;

namespace {

volatile LONG stopThreads = 0;

DWORD WINAPI IdleDaemon(LPVOID) {
    while (stopThreads == 0) Sleep(500);
    return 0;
}

void Pump() {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

double OwnCpu() {
    return ThreadCpuMilliseconds(GetCurrentThread());
}

// Milliseconds of main-thread processor time per pass of work, painting included.
template <typename Work>
void MeasurePass(Csv& csv, const char* name, int rows, int passes, Work work) {
    work();  // one untimed pass: first-time costs are not the steady state
    Pump();
    double cpu = OwnCpu();
    LONGLONG start = Now();
    for (int pass = 0; pass < passes; ++pass) {
        work();
        Pump();
    }
    double wall = MillisecondsSince(start);
    cpu = OwnCpu() - cpu;
    WriteCsv(csv, "%s,%d,%.3f,%.3f,%.2f", name, rows, cpu / passes, wall / passes, LoadAverage());
}

void ForEachDaemon(void (*action)(Daemon*)) {
    for (size_t i = 1; i < app.DaemonTable.size(); ++i) action(app.DaemonTable[i].get());
}

void WriteFourCells(bool changed) {
    HWND list = DaemonList();
    static int flip = 0;
    flip ^= 1;
    const wchar_t* status = changed && flip ? L" \u2605\u2606" : L" \u2605";
    for (int row = 0; row < static_cast<int>(app.DaemonTable.size()) - 1; ++row) {
        LVITEMW item{};
        item.mask = LVIF_PARAM;
        item.iItem = row;
        item.lParam = RGB(0, 170, 0);
        SendMessageW(list, LVM_SETITEMW, 0, reinterpret_cast<LPARAM>(&item));
        const wchar_t* texts[] = {status, L"normal", L"00:00:00.000"};
        for (int column = 1; column <= 3; ++column) {
            LVITEMW cell{};
            cell.iSubItem = column;
            cell.pszText = const_cast<wchar_t*>(texts[column - 1]);
            SendMessageW(list, LVM_SETITEMTEXTW, row, reinterpret_cast<LPARAM>(&cell));
        }
    }
}

// The row of path found the way a list without an index would: reading every row's path
// cell until the first that matches regardless of case. A refresh of n rows this way costs
// about n * n / 2 cell reads; the benchmark shows it beside the host's own lookup.
int ScanForRow(HWND list, const std::wstring& path) {
    std::wstring key = LowerCaseCopy(path);
    int count = static_cast<int>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
    wchar_t text[MAX_PATH];
    for (int row = 0; row < count; ++row) {
        LVITEMW item{};
        item.iSubItem = ColumnPath;
        item.pszText = text;
        item.cchTextMax = MAX_PATH;
        SendMessageW(list, LVM_GETITEMTEXTW, row, reinterpret_cast<LPARAM>(&item));
        if (LowerCaseCopy(text) == key) return row;
    }
    return -1;
}

// The refresh as it was: every running daemon sampled and its row rewritten, shown or not.
void RefreshEveryRow() {
    HWND list = DaemonList();
    for (size_t i = 1; i < app.DaemonTable.size(); ++i) {
        Daemon* daemon = app.DaemonTable[i].get();
        if (!IsThreadAlive(daemon->thread.get())) continue;
        SampleThreadTime(daemon);
        RefreshRunningDaemonRow(list, daemon);
    }
}

enum class TickWork { None, Reaper, Polling };

struct TimerLoopTotals {
    double cpu = 0, wall = 0;
    long ticks = 0;
};

// An event loop with the reaper timer at the period the host sets for this many daemons.
// Polling makes the tick's visits as liveness waits, as they were made before the host
// learned of ended threads from the system.
void RunTimerLoop(int rows, int seconds, TickWork work, TimerLoopTotals& totals) {
    const UINT period = ReaperTimerPeriod(rows, false);
    SetTimer(ui.main.mainWindow.get(), ReaperTimerId, period, nullptr);
    const int visits = ReaperBatch(rows, false, period);
    int position = 0;
    double cpu = OwnCpu();
    LONGLONG start = Now();
    MSG message;
    while (MillisecondsSince(start) < seconds * 1000.0 && GetMessageW(&message, nullptr, 0, 0) > 0) {
        if (message.hwnd == ui.main.mainWindow.get() && message.message == WM_TIMER &&
            message.wParam == ReaperTimerId) {
            ++totals.ticks;
            if (work == TickWork::Reaper) ReapDaemons(position, period);
            for (int i = 0; work == TickWork::Polling && i < visits; ++i) {
                position = position % rows + 1;
                IsThreadAlive(app.DaemonTable[static_cast<size_t>(position)]->thread.get());
            }
            continue;
        }
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    totals.wall += MillisecondsSince(start);
    totals.cpu += OwnCpu() - cpu;
    KillTimer(ui.main.mainWindow.get(), ReaperTimerId);
}

// The three loops in turn, rounds times, in alternating order: the machine is shared, and
// its load drifts over minutes. Processor time per tick, and the tick's period.
void MeasureTimerLoops(Csv& csv, int rows, int seconds, int rounds) {
    const char* names[] = {"timer_loop_tick_us", "reaper_loop_tick_us", "polling_loop_tick_us"};
    const TickWork works[] = {TickWork::None, TickWork::Reaper, TickWork::Polling};
    TimerLoopTotals totals[3];
    for (int round = 0; round < rounds; ++round) {
        for (int step = 0; step < 3; ++step) {
            int loop = round % 2 == 0 ? step : 2 - step;
            RunTimerLoop(rows, seconds, works[loop], totals[loop]);
        }
    }
    for (int loop = 0; loop < 3; ++loop) {
        const TimerLoopTotals& t = totals[loop];
        WriteCsv(csv, "%s,%d,%.3f,%.3f,%.2f", names[loop], rows, t.ticks ? t.cpu * 1000.0 / t.ticks : -1.0,
                 t.ticks ? t.wall / t.ticks : -1.0, LoadAverage());
    }
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    Arguments arguments = ParseArguments(argc, argv);
    int rows = arguments.Number(L"rows", 1000);
    int passes = arguments.Number(L"passes", 30);
    int timerSeconds = arguments.Number(L"timer-seconds", 30);
    int calls = arguments.Number(L"calls", 100000);

    ResetHost();
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_LISTVIEW_CLASSES};
    InitCommonControlsEx(&controls);
    ReadDisplayDpi();
    if (!CreateMainWindow(L"Kestrune host profile") || !CreateDaemonList()) return 2;
    static StateWord word = 0;
    for (int i = 0; i < rows; ++i) {
        Daemon* daemon = app.DaemonTable.emplace_back(std::make_unique<Daemon>()).get();
        daemon->path = L"C:\\Kestrune\\wild_magic\\d" + std::to_wstring(100000 + i).substr(1) + L".dll";
        daemon->fileName = daemon->path.substr(daemon->path.find_last_of(L'\\') + 1);
        daemon->thread.reset(CreateThread(nullptr, 4096, IdleDaemon, nullptr, 0, nullptr));
        daemon->flags = FlagStarted;
        daemon->stateWordAddress = &word;
        AddDaemonRow(daemon);
    }
    ui.main.windowShown = 1;
    ShowWindow(ui.main.mainWindow.get(), SW_SHOWNORMAL);
    SetForegroundWindow(ui.main.mainWindow.get());
    // Scrolled to the middle, as a user looking for one daemon among thousands would be.
    SendMessageW(DaemonList(), LVM_ENSUREVISIBLE, static_cast<WPARAM>(rows / 2), FALSE);
    Pump();
    Sleep(500);
    std::fprintf(stderr, "%d rows, row %d at the top, %d whole rows shown\n", rows,
                 static_cast<int>(SendMessageW(DaemonList(), LVM_GETTOPINDEX, 0, 0)),
                 static_cast<int>(SendMessageW(DaemonList(), LVM_GETCOUNTPERPAGE, 0, 0)));

    Csv csv = OpenCsv(arguments, "measure,rows,cpu_ms,wall_ms,load");
    MeasurePass(csv, "refresh", rows, passes, [] { RefreshDaemonList(); });
    MeasurePass(csv, "refresh_every_row", rows, passes, RefreshEveryRow);
    MeasurePass(csv, "refresh_liveness_wait", rows, passes,
                [] { ForEachDaemon([](Daemon* d) { IsThreadAlive(d->thread.get()); }); });
    MeasurePass(csv, "refresh_get_thread_times", rows, passes, [] { ForEachDaemon(SampleThreadTime); });
    MeasurePass(csv, "refresh_get_thread_priority", rows, passes,
                [] { ForEachDaemon([](Daemon* d) { GetThreadPriority(d->thread.get()); }); });
    MeasurePass(csv, "refresh_find_row", rows, passes,
                [] { ForEachDaemon([](Daemon* d) { FindRowByPath(d->path); }); });
    // Few passes: with thousands of rows one pass of the scan takes seconds.
    MeasurePass(csv, "refresh_find_row_by_scan", rows, passes < 3 ? passes : 3,
                [] { ForEachDaemon([](Daemon* d) { ScanForRow(DaemonList(), d->path); }); });
    MeasurePass(csv, "refresh_list_handle", rows, passes, [] { ForEachDaemon([](Daemon*) { DaemonList(); }); });
    MeasurePass(csv, "refresh_cell_writes_same_text", rows, passes, [] { WriteFourCells(false); });
    MeasurePass(csv, "refresh_cell_writes_changed_status", rows, passes, [] { WriteFourCells(true); });
    MeasurePass(csv, "refresh_paint_whole_list", rows, passes, [] { InvalidateRect(DaemonList(), nullptr, TRUE); });
    MeasurePass(csv, "refresh_rows_only", rows, passes, [] {
        HWND list = DaemonList();
        for (size_t i = 1; i < app.DaemonTable.size(); ++i) RefreshRunningDaemonRow(list, app.DaemonTable[i].get());
    });

    int position = 0;
    MeasurePass(csv, "reaper_visit_x1000", rows, calls / 1000, [&] {
        for (int i = 0; i < 1000; ++i) ReapOneDaemon(position);
    });
    MeasurePass(csv, "liveness_wait_x1000", rows, calls / 1000, [] {
        for (int i = 0; i < 1000; ++i) IsThreadAlive(app.DaemonTable[1]->thread.get());
    });
    ShowWindow(ui.main.mainWindow.get(), SW_HIDE);
    ui.main.windowShown = 0;
    Pump();
    MeasureTimerLoops(csv, rows, timerSeconds, arguments.Number(L"timer-rounds", 1));
    CloseCsv(csv);
    stopThreads = 1;
    ExitProcess(0);
}
