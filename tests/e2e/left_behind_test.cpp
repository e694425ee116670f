// Daemons that leave their code in use once they have returned or been ended (a worker
// thread, timers, windows on the host's thread), or hold the host up (a teardown that takes
// the lock its ended thread held, a pause inside a condition wait, the loader lock held at
// the close), each beside a polite daemon in the real host: stopped, force-stopped and
// started again, paused, closed. The host must run on, answer and show no fault box.
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>

#include <gtest/gtest.h>

#include "host_process.h"
#include "message_box.h"
#include "row_status.h"
#include "shown_host.h"
#include "test_daemons.h"
#include "top_level_windows.h"

namespace kestrune::test {
namespace {

using Clock = std::chrono::steady_clock;

// The host's command identifiers, as its context menu sends them.
enum Command { CmdStart = 6, CmdPauseResume = 15, CmdForceStop = 17, CmdStop = 18 };

// How long the host must stay whole after a daemon has gone: code left behind runs again
// within milliseconds, and the fault box takes its time to come, longer under emulation.
const std::chrono::milliseconds Quiet = sizeof(void*) == 8 ? 4s : 8s;

double SecondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

std::string Seconds(double seconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%.2f s", seconds);
    return text;
}

std::string Narrow(const std::wstring& text) {
    std::string narrow;
    for (wchar_t c : text) narrow += c >= 32 && c < 128 ? static_cast<char>(c) : ' ';
    return narrow;
}

std::string Events(const std::wstring& path) {
    std::string joined;
    for (const std::string& event : ReadEvents(path)) joined += (joined.empty() ? "" : ", ") + event;
    return "[" + joined + "]";
}

int CountEvent(const std::wstring& path, const std::string& event) {
    const auto events = ReadEvents(path);
    return static_cast<int>(std::count(events.begin(), events.end(), event));
}

bool Answered(const HostProcess& host) {
    DWORD_PTR result = 0;
    return SendMessageTimeoutW(host.MainWindow(), WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 1000, &result) != 0;
}

// What is wrong with the host now, or nothing: it has ended, shows a box, or does not answer.
std::string Trouble(const HostProcess& host) {
    if (!host.IsRunning()) {
        DWORD code = 0;
        GetExitCodeProcess(host.Process(), &code);
        return "the host has ended, exit code " + std::to_string(code);
    }
    if (!IsWindow(host.MainWindow())) return "the host's window is gone";
    std::string shown;
    for (HWND window : VisibleWindowsOf(host.ProcessId())) {
        if (window == host.MainWindow()) continue;
        std::wstring text = MessageBoxText(window);
        shown += " [" + Narrow(TitleOf(window)) + ": " + Narrow(text.substr(0, text.find_first_of(L"\r\n"))) + "]";
    }
    if (!shown.empty()) return "the host shows" + shown;
    if (!Answered(host)) return "the window did not answer within 1 s";
    return {};
}

// Waits until the row shows the daemon ended; trouble on the way ends the wait. A host that
// freezes between the look for trouble and the read of the row answers the read with nothing.
std::string WaitForRowEnd(const HostProcess& host, int row) {
    std::string trouble;
    const bool ended = WaitUntil(
        [&] {
            trouble = Trouble(host);
            return !trouble.empty() || host.Cell(row, 1, 1s) == WhiteStar;
        },
        60s);
    if (!trouble.empty()) return trouble;
    return ended ? std::string() : "the row still shows" + Narrow(host.Cell(row, 1));
}

// Something that must not happen within the quiet time: the host ending, a box, no answer.
std::string TroubleWhileQuiet(const HostProcess& host) {
    std::string trouble;
    WaitUntil(
        [&] {
            trouble = Trouble(host);
            return !trouble.empty();
        },
        Quiet);
    return trouble;
}

// What became of the host and both daemons a few seconds on, for a failure's message: a host
// that quits may take that long to end.
std::string Aftermath(HostProcess& host, const std::wstring& fault, const std::wstring& polite) {
    DWORD code = 0;
    const bool ended = host.WaitForExit(5s, &code);
    return (ended ? "then the host ended, exit code " + std::to_string(code) : std::string("the host still runs")) +
           "; the fault daemon " + Events(fault) + ", the polite one " + Events(polite);
}

// A fault daemon and what its journey does beyond the commands.
struct FaultDaemon {
    const wchar_t* name;
    bool hasMenu;                 // its own submenu sits at position 2 of the context menu
    const char* ansiWindowClass;  // its message-only window on the host's thread, if any
};

// The fault daemon and the polite one in the shown host. Twice: the fault daemon's menu is
// built (making its window, if it makes one, and binding the host's commands), then "Stop",
// then "Stop [F]" answered Yes; each time it ends, the host stays whole, the polite one runs
// on and "Start" runs the fault daemon again. Last the close, which asks the polite one.
void RunJourney(const FaultDaemon& fault) {
    const std::wstring file = std::wstring(fault.name) + L".dll";
    ShownHost shown{fault.name, L"cooperative"};
    ASSERT_TRUE(shown.Start());
    HostProcess& host = shown.host;
    const std::wstring& path = shown.paths[0];
    const std::wstring& cooperative = shown.paths[1];
    const int row = shown.Row(L"\\" + file), cooperativeRow = shown.Row(L"\\cooperative.dll");
    ASSERT_GE(row, 0);
    ASSERT_GE(cooperativeRow, 0);

    for (int round = 1; round <= 2; ++round) {
        const bool force = round == 2;
        const std::string command = force ? "Stop [F]" : "Stop";
        SCOPED_TRACE(command);
        ASSERT_NE(host.OpenContextMenu(row), nullptr);
        if (fault.hasMenu) {
            ChooseMenuItem(2, 0);
            ASSERT_TRUE(WaitUntil([&] { return CountEvent(path, "command 1") == round; }))
                << "its menu's item routed to its window: " << Events(path);
        } else {
            PostMenuKeys({VK_ESCAPE});
        }
        ASSERT_TRUE(host.WaitForNoPopupMenu());
        HWND left =
            fault.ansiWindowClass ? FindWindowExA(HWND_MESSAGE, nullptr, fault.ansiWindowClass, nullptr) : nullptr;
        if (fault.ansiWindowClass) {
            ASSERT_NE(left, nullptr) << "its window is on the host's thread";
        }

        ASSERT_TRUE(host.SelectRow(row));
        const auto commanded = Clock::now();
        auto after = [&](const char* step) {
            std::string seen = Seconds(SecondsSince(commanded)) + " after " + command + ", " + step + ": ";
            seen += Trouble(host) + "; ";
            return seen + Aftermath(host, path, cooperative);
        };
        if (force) {
            host.PostCommand(CmdForceStop);
            HWND box = WaitForMessageBox(host.ProcessId(), L"Kestrune\\\\" + file);
            ASSERT_NE(box, nullptr) << "the force-stop question; " << Trouble(host);
            ASSERT_TRUE(PressButton(box, IDYES));
            ASSERT_TRUE(WaitUntil([&] { return !IsWindow(box); }));
        } else {
            ASSERT_TRUE(host.SendCommand(CmdStop));
        }
        ASSERT_TRUE(Answered(host)) << after("the command");
        std::string trouble = WaitForRowEnd(host, row);
        ASSERT_EQ(trouble, "") << after("waiting for the row to end");
        // Whatever is left of the daemon's window gets a command, as a late menu choice would.
        if (left && IsWindow(left)) PostMessageA(left, WM_COMMAND, 7, 0);
        trouble = TroubleWhileQuiet(host);
        ASSERT_EQ(trouble, "") << after("once the row had ended");
        EXPECT_EQ(host.Cell(cooperativeRow, 1), BlackStar) << "the polite daemon runs on";
        EXPECT_FALSE(HasEvent(cooperative, "stop-seen"));

        ASSERT_TRUE(host.SelectRow(row)) << after("selecting the row for Start");
        ASSERT_TRUE(host.SendCommand(CmdStart)) << after("Start");
        ASSERT_TRUE(Answered(host)) << after("Start");
        ASSERT_TRUE(WaitUntil([&] { return CountEvent(path, "entry") == round + 1; })) << after("Start");
    }

    DWORD exitCode = 1;
    ASSERT_TRUE(host.CloseAndWait(60s, &exitCode)) << "the close: " << Trouble(host);
    EXPECT_EQ(exitCode, 0u);
    EXPECT_TRUE(HasEvent(cooperative, "stop-seen")) << "asked through its word at the close";
}

TEST(LeftBehindTest, StopsAndStartsAroundAWorkerThreadLeftRunning) {
    RunJourney({L"leaves_worker_thread", false, nullptr});
}

TEST(LeftBehindTest, StopsAndStartsAroundATimerQueueTimerLeftArmed) {
    RunJourney({L"leaves_queue_timer", false, nullptr});
}

TEST(LeftBehindTest, StopsAndStartsAroundAPoolTimerAndWaitLeftArmed) {
    RunJourney({L"leaves_pool_timer", false, nullptr});
}

// Ended by force inside its own lock, which its DllMain takes at unloading.
TEST(LeftBehindTest, StopsAndStartsAroundATeardownTakingTheEndedThreadsLock) {
    RunJourney({L"detach_takes_work_lock", false, nullptr});
}

TEST(LeftBehindTest, StopsAndStartsAroundAnAnsiWindowOnTheHostsThread) {
    RunJourney({L"ansi_window_on_host_thread", true, "KestruneTestAnsiWindow"});
}

// Destroyed at the unload, its window posts WM_QUIT into the host's queue.
TEST(LeftBehindTest, StopsAndStartsAroundAWindowThatQuitsWhenDestroyed) {
    RunJourney({L"quits_on_destroy", true, nullptr});
}

// The daemon's thread is nearly always inside the condition wait, in the system's code.
TEST(LeftBehindTest, PausesADaemonInAConditionWaitWithinASecondEveryTime) {
    ShownHost shown{L"waits_on_condition"};
    ASSERT_TRUE(shown.Start());
    HostProcess& host = shown.host;
    const int row = shown.Row(L"\\waits_on_condition.dll");
    ASSERT_GE(row, 0);
    ASSERT_NE(host.OpenContextMenu(row), nullptr);  // binds the host's commands
    PostMenuKeys({VK_ESCAPE});
    ASSERT_TRUE(host.WaitForNoPopupMenu());
    auto status = [&] { return host.Cell(row, 1); };

    for (int pair = 1; pair <= 20; ++pair) {
        SCOPED_TRACE("pair " + std::to_string(pair));
        ASSERT_TRUE(host.SelectRow(row));
        ASSERT_TRUE(host.SendCommand(CmdPauseResume));
        const auto commanded = Clock::now();
        ASSERT_TRUE(Answered(host)) << "after Pause";
        if (!WaitUntil([&] { return status() == PausedStars; }, 1s)) {
            const bool later = WaitUntil([&] { return status() == PausedStars; }, 32s);
            FAIL() << "the pause was not shown within 1 s; "
                   << (later ? "shown " + Seconds(SecondsSince(commanded)) + " after the command"
                             : "not shown " + Seconds(SecondsSince(commanded)) + " after it, the row shows" +
                                   Narrow(status()));
        }
        // A paused thread gets no processor time. The figure shown with the pause may be a
        // refresh old; from the next refresh (every second) on it must stand still. Two
        // refreshes take two seconds: every fifth pause is watched that long.
        if (pair % 5 == 1) {
            const std::wstring shownWithPause = host.Cell(row, 2);
            WaitUntil([&] { return host.Cell(row, 2) != shownWithPause; }, 1100ms);
            const std::wstring cpu = host.Cell(row, 2);
            WaitUntil([&] { return host.Cell(row, 2) != cpu; }, 1200ms);
            EXPECT_EQ(Narrow(host.Cell(row, 2)), Narrow(cpu)) << "the processor time while paused";
        }

        ASSERT_TRUE(host.SendCommand(CmdPauseResume));
        ASSERT_TRUE(Answered(host)) << "after Resume";
        ASSERT_TRUE(WaitUntil([&] { return status() == BlackStar; })) << "resumed; the row shows" << Narrow(status());
    }
    EXPECT_TRUE(shown.Close());
}

// One daemon ignores its word; the other, asked to stop, loads a library whose DllMain never
// returns, so its thread holds the loader lock for good: the close still ends after the grace.
TEST(LeftBehindTest, ClosesInTimeThoughOneDaemonIgnoresItsWordAndOneHoldsTheLoaderLock) {
    RunningHost running{L"ignores_word", L"holds_loader_lock"};
    HostProcess& host = running.host;
    const std::wstring& ignoring = running.paths[0];
    const std::wstring& holding = running.paths[1];
    // Two folders down: out of the host's search, found by the daemon itself.
    const std::wstring exporter = host.AddDaemon(L"waits_in_dllmain", L"exporter\\bin\\waits_in_dllmain.dll");
    ASSERT_TRUE(running.Start());

    const auto asked = Clock::now();
    host.RequestClose();
    ASSERT_TRUE(WaitForEvent(exporter, "attach")) << "the stopping daemon is inside the loader: " << Events(holding);
    const auto limit = 32s - std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - asked);
    DWORD exitCode = 1;
    if (!host.WaitForExit(limit, &exitCode)) {
        // For the record: how long it takes, if it ends at all.
        const bool later = host.WaitForExit(60s, &exitCode);
        FAIL() << "the close did not end within 32 s; "
               << (later ? "it ended " + Seconds(SecondsSince(asked)) + " after the request"
                         : "still running " + Seconds(SecondsSince(asked)) + " after it")
               << "; " << Events(ignoring) << ", " << Events(holding);
    }
    EXPECT_EQ(exitCode, 0u);
    RecordProperty("CloseSeconds", Seconds(SecondsSince(asked)));
}

}  // namespace
}  // namespace kestrune::test
