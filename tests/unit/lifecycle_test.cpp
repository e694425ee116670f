#include <string>
#include <vector>

#include "clock_first_reading.h"
#include "core/clock.h"
#include "core/library_release.h"
#include "core/lifecycle.h"
#include "host_fixture.h"
#include "ui/reaper.h"

namespace kestrune::test {
namespace {

class LifecycleTest : public HostFixture {
protected:
    // Ticks the daemon, which when it finishes leaves the table and is unloaded.
    bool Tick(Daemon* daemon) { return TickDaemon(daemon) != TickUnloaded; }

    // An end happens at the first visit where the thread holds none of the system's locks; on
    // a loaded machine the lock probe may not answer at the first. The visits it took, or 0
    // when it was never unloaded or was given the grace of a stop instead.
    int VisitsUntilEnded(Daemon* daemon) {
        for (int visit = 1; visit <= 100; ++visit) {
            if (!Tick(daemon)) return visit;
            if (daemon->Has(FlagStopping)) return 0;
            Sleep(10);
        }
        return 0;
    }
};

TEST_F(LifecycleTest, StartRunsEntryPointOnItsOwnThread) {
    std::wstring path;
    Daemon* daemon = Run(L"cooperative", &path);
    ASSERT_NE(daemon, nullptr);
    EXPECT_EQ(daemon->flags, static_cast<uint32_t>(FlagStarted));
    EXPECT_TRUE(IsThreadAlive(daemon->thread.get()));
    EXPECT_NE(GetThreadId(daemon->thread.get()), GetCurrentThreadId());
    EXPECT_TRUE(Tick(daemon)) << "a running daemon stays";
}

TEST_F(LifecycleTest, PauseSuspendsOnceAndResumeLiftsEverySuspension) {
    Daemon* daemon = Run(L"cooperative");
    ASSERT_NE(daemon, nullptr);
    HANDLE thread = daemon->thread.get();

    SetDaemonRequest(daemon, RequestPause);
    EXPECT_TRUE(Tick(daemon));
    EXPECT_TRUE(daemon->Has(FlagPaused));
    EXPECT_EQ(SuspendCount(thread), 1u);
    EXPECT_EQ(daemon->request, RequestNone) << "an applied request is cleared";

    SetDaemonRequest(daemon, RequestPause);
    EXPECT_TRUE(Tick(daemon));
    EXPECT_EQ(SuspendCount(thread), 1u) << "pausing twice still suspends once";

    for (int i = 0; i < 5; ++i) SuspendThread(thread);  // suspensions the host did not make
    ASSERT_EQ(SuspendCount(thread), 6u);
    SetDaemonRequest(daemon, RequestResume);
    EXPECT_TRUE(Tick(daemon));
    EXPECT_FALSE(daemon->Has(FlagPaused));
    EXPECT_EQ(SuspendCount(thread), 0u);
}

DWORD WINAPI BlockUntilSet(LPVOID event) {
    WaitForSingleObject(event, INFINITE);
    return 0;
}

TEST_F(LifecycleTest, ResumeThreadFullyLiftsDeepSuspensions) {
    HANDLE release = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE thread = CreateThread(nullptr, 0, BlockUntilSet, release, CREATE_SUSPENDED, nullptr);
    ASSERT_NE(thread, nullptr);
    int added = 0;
    while (added < 100 && SuspendThread(thread) != static_cast<DWORD>(-1)) ++added;
    DWORD before = SuspendCount(thread);
    ASSERT_GE(before, 50u) << "the platform must allow a deep suspension for this check";
    ResumeThreadFully(thread);
    EXPECT_EQ(SuspendCount(thread), 0u);
    SetEvent(release);
    EXPECT_EQ(WaitForSingleObject(thread, 10000), WAIT_OBJECT_0);
    ResumeThreadFully(thread);  // an ended thread is left alone
    CloseHandle(thread);
    CloseHandle(release);
}

TEST_F(LifecycleTest, StopWritesTheWordOnceAndStampsTheTime) {
    // A daemon that never returns, so the second stop meets it still stopping.
    Daemon* daemon = Run(L"ignores_word");
    ASSERT_NE(daemon, nullptr);
    StateWord* word = daemon->stateWordAddress;
    SetDaemonRequest(daemon, RequestStop);
    uint64_t before = ClockMilliseconds();
    ASSERT_TRUE(Tick(daemon));
    uint64_t after = ClockMilliseconds();
    EXPECT_TRUE(daemon->Has(FlagStopping));
    EXPECT_GE(static_cast<uint32_t>(daemon->stopRequestTime), static_cast<uint32_t>(before));
    EXPECT_LE(static_cast<uint32_t>(daemon->stopRequestTime), static_cast<uint32_t>(after));
    EXPECT_EQ(*word, StateWordStop);

    // A second stop changes nothing: the first request's time stands.
    *word = 7;
    daemon->stopRequestTime -= 1000;
    int32_t stamped = daemon->stopRequestTime;
    SetDaemonRequest(daemon, RequestStop);
    ASSERT_TRUE(Tick(daemon));
    EXPECT_EQ(daemon->stopRequestTime, stamped);
    EXPECT_EQ(*word, 7) << "the word is written once per stop";
}

TEST_F(LifecycleTest, CooperativeDaemonIsUnloadedAtTheFirstTickAfterItsThreadEnded) {
    std::wstring path;
    Daemon* daemon = Run(L"cooperative", &path);
    ASSERT_NE(daemon, nullptr);
    SetDaemonRequest(daemon, RequestStop);
    // The daemon may see 255 and end before this first tick has even returned.
    if (Tick(daemon)) {
        ASSERT_TRUE(WaitForEvent(path, "return"));
        ASSERT_TRUE(WaitUntil([&] { return !IsThreadAlive(daemon->thread.get()); }));
        EXPECT_FALSE(Tick(daemon)) << "unloaded at the first tick after its thread ended";
    }
    EXPECT_EQ(LastDaemonIndex(), 0);
    EXPECT_TRUE(WaitForLibraryFreed(path));
    auto events = ReadEvents(path);
    EXPECT_EQ(events, (std::vector<std::string>{"attach", "state", "entry", "stop-seen", "return", "detach"}));
}

// Ended by force: its thread may have left its own locks held, so its teardown never runs.
TEST_F(LifecycleTest, StopWithoutStateWordEndsAtOnceAndKeepsTheLibrary) {
    std::wstring path;
    Daemon* daemon = Run(L"only_entry", &path);
    ASSERT_NE(daemon, nullptr);
    SetDaemonRequest(daemon, RequestStop);
    EXPECT_GT(VisitsUntilEnded(daemon), 0);
    EXPECT_TRUE(IsModuleLoaded(path));
    EXPECT_FALSE(HasEvent(path, "detach"));
}

// Started again and ended by force again, a kept library is still held by one claim: the host's
// claims on it do not grow with every run.
TEST_F(LifecycleTest, ALibraryKeptTwiceIsKeptOnce) {
    const uint32_t keptBefore = KeptLibraryCount();
    std::wstring path;
    for (int run = 1; run <= 2; ++run) {
        SCOPED_TRACE("run " + std::to_string(run));
        Daemon* daemon = run == 1 ? Run(L"only_entry", &path) : Add(path);
        ASSERT_NE(daemon, nullptr);
        if (run == 2) {
            StartDaemonThread(daemon, RequestNone);
            ASSERT_TRUE(WaitUntil([&] { return CountFullReports(path, "entry") == 2; }) && WaitUntilHoldable(daemon));
        }
        SetDaemonRequest(daemon, RequestStop);
        EXPECT_GT(VisitsUntilEnded(daemon), 0);
    }
    EXPECT_TRUE(IsModuleLoaded(path));
    EXPECT_EQ(KeptLibraryCount(), keptBefore + 1);
}

TEST_F(LifecycleTest, ForceStopTerminatesAndKeepsTheLibrary) {
    std::wstring path;
    Daemon* daemon = Run(L"ignores_word", &path);
    ASSERT_NE(daemon, nullptr);
    HANDLE thread = nullptr;
    ASSERT_TRUE(DuplicateHandle(GetCurrentProcess(), daemon->thread.get(), GetCurrentProcess(), &thread, 0, FALSE,
                                DUPLICATE_SAME_ACCESS));
    SetDaemonRequest(daemon, RequestForceStop);
    EXPECT_GT(VisitsUntilEnded(daemon), 0);
    EXPECT_EQ(WaitForSingleObject(thread, 10000), WAIT_OBJECT_0);
    CloseHandle(thread);
    EXPECT_TRUE(IsModuleLoaded(path));
    EXPECT_FALSE(HasEvent(path, "detach")) << "its teardown never runs";
    EXPECT_FALSE(HasEvent(path, "return"));
}

// A thread that outlives its termination may still run the library's code: the library stays.
TEST_F(LifecycleTest, ALibraryWhoseThreadCouldNotBeEndedIsNeverFreed) {
    std::wstring path;
    Daemon* daemon = Run(L"ignores_word", &path);
    ASSERT_NE(daemon, nullptr);
    HANDLE thread = daemon->thread.get();
    // The record keeps a handle that may suspend and read the thread but not terminate it.
    HANDLE restricted = nullptr;
    ASSERT_TRUE(DuplicateHandle(GetCurrentProcess(), thread, GetCurrentProcess(), &restricted,
                                SYNCHRONIZE | THREAD_QUERY_INFORMATION | THREAD_SUSPEND_RESUME | THREAD_GET_CONTEXT,
                                FALSE, 0));
    HANDLE full = daemon->thread.release();
    daemon->thread.reset(restricted);
    SetDaemonRequest(daemon, RequestForceStop);
    EXPECT_FALSE(Tick(daemon)) << "the record leaves the table";
    EXPECT_EQ(WaitForSingleObject(full, 0), static_cast<DWORD>(WAIT_TIMEOUT)) << "the thread outlived its termination";
    EXPECT_TRUE(IsModuleLoaded(path)) << "its library stays loaded under it";
    TerminateThread(full, 0);
    EXPECT_EQ(WaitForSingleObject(full, 10000), WAIT_OBJECT_0);
    CloseHandle(full);
    if (HMODULE kept = GetModuleHandleW(path.c_str())) FreeLibrary(kept);
    EXPECT_FALSE(IsModuleLoaded(path));
}

TEST_F(LifecycleTest, GraceOfExactly30000MillisecondsStillCountsAsStopping) {
    // Move the stored time back, and accept only ticks during which the clock did not move. A
    // tick during which it moved finds more than 30000 ms and unloads the daemon, whose record
    // is then gone: an emulated machine sees that in about one tick of three, and the daemon
    // is stopped afresh.
    Daemon* daemon = nullptr;
    bool checked = false;
    int clockMoved = 0, unloaded = 0;
    for (int attempt = 0; attempt < 1000 && !checked; ++attempt) {
        if (!daemon) {
            daemon = Run(L"ignores_word");
            ASSERT_NE(daemon, nullptr);
            SetDaemonRequest(daemon, RequestStop);
            ASSERT_TRUE(Tick(daemon));
            ASSERT_TRUE(daemon->Has(FlagStopping));
        }
        uint64_t now = ClockMilliseconds();
        daemon->stopRequestTime = static_cast<int32_t>(static_cast<uint32_t>(now) - 30000u);
        bool kept = Tick(daemon);
        if (!kept) {
            daemon = nullptr;
            ++unloaded;
        }
        if (ClockMilliseconds() != now) {
            ++clockMoved;
            continue;
        }
        EXPECT_TRUE(kept) << "30000 ms after the request the daemon is still given time";
        checked = true;
    }
    RecordProperty("TicksDuringWhichTheClockMoved", clockMoved);
    RecordProperty("DaemonsUnloadedByAMovingClock", unloaded);
    ASSERT_TRUE(checked);
    ASSERT_NE(daemon, nullptr);
    daemon->stopRequestTime = static_cast<int32_t>(static_cast<uint32_t>(ClockMilliseconds()) - 30001u);
    EXPECT_FALSE(Tick(daemon)) << "past 30000 ms the daemon is finished";
}

TEST_F(LifecycleTest, GraceIsKeptWhenTheStoredTimeWrapsAfterWeeks) {
    Daemon* daemon = Run(L"ignores_word");
    ASSERT_NE(daemon, nullptr);
    SetDaemonRequest(daemon, RequestStop);
    ASSERT_TRUE(Tick(daemon));
    // A host that has run for 25 days stores a negative low half; 10 s later the grace still runs.
    daemon->stopRequestTime = static_cast<int32_t>(static_cast<uint32_t>(ClockMilliseconds()) - 10000u);
    uint32_t sinceRequest = static_cast<uint32_t>(MillisecondsSinceStopRequest(*daemon));
    EXPECT_GE(sinceRequest, 10000u);
    EXPECT_LT(sinceRequest, 20000u);
    EXPECT_TRUE(Tick(daemon));
}

// After 24.8 days the stored low half turns negative, after 49.7 days it wraps: the time since
// the stamp must still come out as the time that really passed.
TEST(StopGraceTest, TimeSinceTheStampSurvivesSignAndWrapOfTheLowHalf) {
    for (uint64_t now :
         {uint64_t{40000}, (uint64_t{1} << 31) + 5000, (uint64_t{1} << 32) + 5000, (uint64_t{1} << 33) + 7}) {
        for (uint32_t elapsed : {10000u, 30000u, 30001u}) {
            int32_t stamp = static_cast<int32_t>(static_cast<uint32_t>(now - elapsed));
            EXPECT_EQ(MillisecondsSinceStamp(now, stamp), static_cast<int32_t>(elapsed)) << "now " << now;
        }
    }
}

TEST_F(LifecycleTest, OnlyTheLaterOfTwoRequestsApplies) {
    std::wstring path;
    Daemon* daemon = Run(L"cooperative", &path);
    ASSERT_NE(daemon, nullptr);
    SetDaemonRequest(daemon, RequestStop);
    SetDaemonRequest(daemon, RequestPause);
    EXPECT_TRUE(Tick(daemon));
    EXPECT_TRUE(daemon->Has(FlagPaused));
    EXPECT_FALSE(daemon->Has(FlagStopping));
    EXPECT_NE(*daemon->stateWordAddress, StateWordStop);
}

TEST_F(LifecycleTest, StoppingAPausedDaemonResumesItFirst) {
    std::wstring path;
    Daemon* daemon = Run(L"cooperative", &path);
    ASSERT_NE(daemon, nullptr);
    SetDaemonRequest(daemon, RequestPause);
    ASSERT_TRUE(Tick(daemon));
    ASSERT_EQ(SuspendCount(daemon->thread.get()), 1u);
    SetDaemonRequest(daemon, RequestStop);
    Tick(daemon);
    EXPECT_TRUE(WaitForEvent(path, "return")) << "the resumed daemon sees 255 and returns";
    EXPECT_TRUE(WaitUntil([&] { return LastDaemonIndex() == 0 || !Tick(daemon); }));
}

TEST_F(LifecycleTest, PauseOnADaemonThatWasNeverStartedOnlyFlipsTheBit) {
    Daemon* daemon = Add(Place(L"cooperative"));
    ASSERT_NE(daemon, nullptr);
    SetDaemonRequest(daemon, RequestPause);
    EXPECT_TRUE(Tick(daemon));
    EXPECT_EQ(daemon->flags, static_cast<uint32_t>(FlagPaused));
    SetDaemonRequest(daemon, RequestResume);
    EXPECT_TRUE(Tick(daemon));
    EXPECT_EQ(daemon->flags, 0u);
    SetDaemonRequest(daemon, RequestStop);
    EXPECT_FALSE(Tick(daemon)) << "a stop finishes a daemon that never started";
}

TEST_F(LifecycleTest, QuittingGatesStartsAndThreadsThatHaveNotRunYet) {
    std::wstring path = Place(L"cooperative");
    Daemon* daemon = Add(path);
    ASSERT_NE(daemon, nullptr);

    // A thread created before quitting that first runs afterwards ends without calling EntryPoint.
    HANDLE early = CreateThread(nullptr, 4096, DaemonThreadMain, daemon, CREATE_SUSPENDED, nullptr);
    ASSERT_NE(early, nullptr);
    app.quitting.store(1);
    ResumeThread(early);
    EXPECT_EQ(WaitForSingleObject(early, 20000), WAIT_OBJECT_0);
    CloseHandle(early);

    StartDaemonThread(daemon, RequestPause);
    EXPECT_EQ(daemon->thread.get(), nullptr);
    EXPECT_EQ(daemon->flags, 0u);
    EXPECT_EQ(daemon->request, RequestNone) << "nothing is stored while quitting";
    EXPECT_FALSE(HasEvent(path, "entry"));
}

// Fills the address space with reservations, then gives back about keepFree bytes of it in
// 16 MB pieces; frees everything at the end.
class AddressSpaceFiller {
public:
    explicit AddressSpaceFiller(SIZE_T keepFree) {
        for (SIZE_T chunk : {SIZE_T{16} << 20, SIZE_T{1} << 20, SIZE_T{64} << 10}) {
            while (void* block = VirtualAlloc(nullptr, chunk, MEM_RESERVE, PAGE_NOACCESS)) blocks_.push_back(block);
        }
        for (SIZE_T freed = 0; freed < keepFree && !blocks_.empty(); freed += SIZE_T{16} << 20) {
            VirtualFree(blocks_.front(), 0, MEM_RELEASE);
            blocks_.erase(blocks_.begin());
        }
    }
    ~AddressSpaceFiller() { Release(); }
    void Release() {
        for (void* block : blocks_) VirtualFree(block, 0, MEM_RELEASE);
        blocks_.clear();
    }
    AddressSpaceFiller(const AddressSpaceFiller&) = delete;
    AddressSpaceFiller& operator=(const AddressSpaceFiller&) = delete;

private:
    std::vector<void*> blocks_;
};

// A 32-bit host near the end of its address space does not start more daemons: it keeps
// room for its own work, and the daemon is left loaded, not started.
TEST_F(LifecycleTest, NoDaemonStartsWhenTheAddressSpaceIsNearlyFull) {
    if (sizeof(void*) == 8) GTEST_SKIP() << "a 64-bit address space cannot be filled";
    std::wstring path = Place(L"cooperative");
    Daemon* daemon = Add(path);
    ASSERT_NE(daemon, nullptr);

    // 32 MB free: room for a thread's stack, not for the margin kept besides.
    AddressSpaceFiller filler(SIZE_T{32} << 20);
    StartDaemonThread(daemon, RequestNone);
    const bool startedWhileFull = daemon->thread.get() != nullptr;
    const uint32_t flagsWhileFull = daemon->flags;
    filler.Release();
    EXPECT_FALSE(startedWhileFull);
    EXPECT_EQ(flagsWhileFull, 0u);

    StartDaemonThread(daemon, RequestNone);
    EXPECT_TRUE(daemon->Has(FlagStarted)) << "room again: the same daemon starts";
    EXPECT_TRUE(WaitForEntry(path));
}

TEST_F(LifecycleTest, PriorityRequestsReachTheThread) {
    Daemon* daemon = Run(L"cooperative");
    ASSERT_NE(daemon, nullptr);
    const int32_t priorities[] = {THREAD_PRIORITY_IDLE,         THREAD_PRIORITY_LOWEST,  THREAD_PRIORITY_BELOW_NORMAL,
                                  THREAD_PRIORITY_ABOVE_NORMAL, THREAD_PRIORITY_HIGHEST, THREAD_PRIORITY_TIME_CRITICAL,
                                  THREAD_PRIORITY_NORMAL};
    for (int32_t priority : priorities) {
        SetDaemonRequest(daemon, RequestPriorityBase + priority);
        EXPECT_TRUE(Tick(daemon));
        EXPECT_EQ(GetThreadPriority(daemon->thread.get()), priority);
    }
    // Values between the seven are no priority requests. In the real-time class the system
    // takes -7 to -3 and 3 to 6 as well, so only the host's own filter keeps them out.
    HANDLE thread = daemon->thread.get();
    ASSERT_TRUE(SetPriorityClass(GetCurrentProcess(), REALTIME_PRIORITY_CLASS));
    bool systemTakesThree = SetThreadPriority(thread, 3) && GetThreadPriority(thread) == 3;
    SetThreadPriority(thread, THREAD_PRIORITY_HIGHEST);
    for (int32_t request : {RequestPriorityBase + 3, RequestPriorityBase + 6, RequestPriorityBase - 3,
                            RequestPriorityBase - 7, RequestPriorityBase + 16, 5, 64, 96, INT32_MIN, INT32_MAX}) {
        SetDaemonRequest(daemon, request);
        EXPECT_TRUE(Tick(daemon));
        EXPECT_EQ(GetThreadPriority(thread), THREAD_PRIORITY_HIGHEST) << request;
    }
    SetPriorityClass(GetCurrentProcess(), NORMAL_PRIORITY_CLASS);
    EXPECT_TRUE(systemTakesThree) << "without it the filter above is not put to the test";
}

TEST_F(LifecycleTest, ReaperVisitsOneOfSeveralDaemonsPerTickAndFillsTheGapFromTheEnd) {
    Daemon* a = Run(L"only_entry");
    std::wstring bPath = Place(L"cooperative", L"b.dll");
    std::wstring cPath = Place(L"cooperative", L"c.dll");
    Daemon* b = Add(bPath);
    Daemon* c = Add(cPath);
    ASSERT_TRUE(a && b && c);
    StartDaemonThread(b, RequestNone);
    StartDaemonThread(c, RequestNone);
    ASSERT_TRUE(WaitForEntry(bPath) && WaitForEntry(cPath) && WaitUntilHoldable(b));
    SetDaemonRequest(a, RequestStop);  // no state word: finished at its visit
    SetDaemonRequest(b, RequestPause);

    int position = 0;
    EXPECT_EQ(ReapOneDaemon(position), ReapResult::Removed);
    EXPECT_EQ(position, 1);
    ASSERT_EQ(LastDaemonIndex(), 2);
    EXPECT_EQ(app.DaemonTable[1].get(), c) << "the last entry moves into the freed slot";
    EXPECT_EQ(app.DaemonTable[2].get(), b);
    EXPECT_EQ(b->request, RequestPause) << "only one daemon is visited per tick";

    EXPECT_EQ(ReapOneDaemon(position), ReapResult::Kept);
    EXPECT_EQ(position, 2);
    EXPECT_TRUE(b->Has(FlagPaused));
    EXPECT_EQ(ReapOneDaemon(position), ReapResult::Kept);
    EXPECT_EQ(position, 1) << "the position wraps";
}

TEST_F(LifecycleTest, ReaperEndsTheLoopOnlyWhenQuittingWithAnEmptyTable) {
    int position = 0;
    EXPECT_EQ(ReapOneDaemon(position), ReapResult::Idle);
    app.quitting.store(1);
    EXPECT_EQ(ReapOneDaemon(position), ReapResult::Finish);
    EXPECT_EQ(ReaperPeriod(0), 512u);
    EXPECT_EQ(ReaperPeriod(1), 256u);
    EXPECT_EQ(ReaperPeriod(2), 170u);
    EXPECT_EQ(ReaperPeriod(4), 102u);
    EXPECT_EQ(ReaperPeriod(511), 1u);
    EXPECT_EQ(ReaperPeriod(512), 0u);
    // The timer keeps the designed period down to the floor; below it, batches at 50 ms.
    EXPECT_EQ(ReaperTimerPeriod(50, false), 10u);
    EXPECT_EQ(ReaperTimerPeriod(51, false), 50u);
    EXPECT_EQ(ReaperTimerPeriod(1000, true), 10u);
    EXPECT_EQ(ReaperTimerPeriod(1, true), 10u);
}

TEST(ClockTest, FirstReadingIsZeroAndReadingsNeverGoBack) {
    EXPECT_EQ(clockFirstReading, 0u);
    uint64_t previous = ClockMilliseconds();
    uint64_t start = previous;
    while (previous - start < 50) {
        uint64_t now = ClockMilliseconds();
        ASSERT_GE(now, previous);
        previous = now;
    }
    Sleep(100);  // a measured stretch: the clock must follow it
    EXPECT_GE(ClockMilliseconds() - previous, 90u);
}

}  // namespace
}  // namespace kestrune::test
