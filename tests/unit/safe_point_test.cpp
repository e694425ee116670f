// Daemon threads are paused and ended only where they hold none of the system's locks.
#include <algorithm>
#include <atomic>
#include <memory>
#include <utility>

#include "core/clock.h"
#include "core/safe_point.h"
#include "host_fixture.h"
#include "system_answers.h"
#include "ui/reaper.h"

namespace kestrune::test {
namespace {

using LockLoaderLockFunction = LONG(NTAPI*)(ULONG, ULONG*, ULONG_PTR*);
using UnlockLoaderLockFunction = LONG(NTAPI*)(ULONG, ULONG_PTR);

// A thread that sleeps in a loop, as a daemon does, and holds the loader lock while asked to;
// asked to spin, it runs instead of sleeping, with the lock or without.
class LoaderLockHolder {
public:
    LoaderLockHolder() {
        HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
        lock_ = reinterpret_cast<LockLoaderLockFunction>(
            reinterpret_cast<void*>(GetProcAddress(ntdll, "LdrLockLoaderLock")));
        unlock_ = reinterpret_cast<UnlockLoaderLockFunction>(
            reinterpret_cast<void*>(GetProcAddress(ntdll, "LdrUnlockLoaderLock")));
        thread_ = CreateThread(nullptr, 0, Run, this, 0, nullptr);
        // Past its start, which runs inside the loader: asleep in its loop.
        WaitUntil([&] { return running_.load(); });
        Sleep(50);
    }
    ~LoaderLockHolder() {
        Hold(false);
        quit_ = true;
        if (thread_ && WaitForSingleObject(thread_, 5000) != WAIT_OBJECT_0) TerminateThread(thread_, 0);
        if (thread_) CloseHandle(thread_);
    }
    HANDLE Thread() const { return thread_; }
    void Spin(bool spin) { spin_ = spin; }
    // Returns once the thread holds the lock, or has let it go.
    void Hold(bool hold) {
        hold_ = hold;
        WaitUntil([&] { return holding_.load() == hold; });
    }

private:
    static DWORD WINAPI Run(LPVOID self) {
        auto* holder = static_cast<LoaderLockHolder*>(self);
        holder->running_ = true;
        while (!holder->quit_) {
            if (holder->hold_) {
                ULONG_PTR cookie = 0;
                holder->lock_(0, nullptr, &cookie);
                holder->holding_ = true;
                while (holder->hold_) {
                    if (!holder->spin_) Sleep(5);
                }
                holder->unlock_(0, cookie);
                holder->holding_ = false;
            }
            if (!holder->spin_) Sleep(5);
        }
        return 0;
    }

    LockLoaderLockFunction lock_ = nullptr;
    UnlockLoaderLockFunction unlock_ = nullptr;
    HANDLE thread_ = nullptr;
    std::atomic<bool> hold_{false}, holding_{false}, quit_{false}, running_{false}, spin_{false};
};

CRITICAL_SECTION blockedSection;

DWORD WINAPI WaitForTheSection(LPVOID) {
    EnterCriticalSection(&blockedSection);
    LeaveCriticalSection(&blockedSection);
    return 0;
}

// Starts a thread that waits for blockedSection, which the caller holds, and returns once it
// has queued there: a waiter moves the section's lock count (Wine and Windows count differently).
HANDLE StartSectionWaiter() {
    auto lockCount = [] { return *static_cast<volatile LONG*>(&blockedSection.LockCount); };
    const LONG held = lockCount();
    HANDLE waiter = CreateThread(nullptr, 0, WaitForTheSection, nullptr, 0, nullptr);
    WaitUntil([&] { return lockCount() != held; });
    return waiter;
}

class SafePointTest : public HostFixture {
protected:
    void SetUp() override {
        HostFixture::SetUp();
        ASSERT_TRUE(StartLockProbe());
    }
    void TearDown() override {
        records_.clear();
        HostFixture::TearDown();
    }
    // A record for a thread the test made, as if it ran a daemon.
    Daemon* Record(HANDLE thread) {
        Daemon* daemon = records_.emplace_back(std::make_unique<Daemon>()).get();
        HANDLE copy = nullptr;
        DuplicateHandle(GetCurrentProcess(), thread, GetCurrentProcess(), &copy, 0, FALSE, DUPLICATE_SAME_ACCESS);
        daemon->thread.reset(copy);
        daemon->flags = FlagStarted;
        return daemon;
    }
    // Hands a record of the test to the table, as the reaper finds records.
    void MoveIntoTable(Daemon* daemon) {
        auto owner =
            std::find_if(records_.begin(), records_.end(), [&](const DaemonOwner& r) { return r.get() == daemon; });
        if (owner == records_.end()) return;
        Keep(std::move(*owner));
        records_.erase(owner);
    }
    // Ticks until the record is unloaded, as the reaper would; false if it never was.
    bool TickUntilUnloaded(Daemon* daemon) {
        MoveIntoTable(daemon);
        for (int tick = 0; tick < 2000; ++tick) {
            if (!TickDaemon(daemon)) return true;
            Sleep(5);
        }
        return false;
    }
    std::vector<DaemonOwner> records_;
};

TEST_F(SafePointTest, AThreadIsHeldOnlyInAPlainWaitOrItsOwnCodeWithEveryLockFree) {
    LoaderLockHolder holder;
    DWORD previous = 7;
    EXPECT_EQ(HoldAtSafePoint(holder.Thread(), HoldRule::OwnCodeOrWait, &previous), HoldResult::Held)
        << "asleep in a plain wait";
    EXPECT_EQ(previous, 0u);
    EXPECT_EQ(SuspendCount(holder.Thread()), 1u);
    ResumeThread(holder.Thread());

    holder.Hold(true);
    EXPECT_EQ(HoldAtSafePoint(holder.Thread(), HoldRule::OwnCodeOrWait), HoldResult::Busy)
        << "it holds the loader lock";
    EXPECT_EQ(SuspendCount(holder.Thread()), 0u) << "a thread not held is left running";
    EXPECT_EQ(HoldAtSafePoint(holder.Thread(), HoldRule::LocksFree), HoldResult::Busy);
    EXPECT_EQ(HoldAtSafePoint(holder.Thread(), HoldRule::Anywhere), HoldResult::Busy)
        << "a thread that holds the loader lock is never ended: every later load and thread end would wait for it";
    holder.Hold(false);

    // Waiting for a lock inside the system's own code is no plain wait: a waiter may be handed the lock.
    InitializeCriticalSection(&blockedSection);
    EnterCriticalSection(&blockedSection);
    HANDLE waiter = StartSectionWaiter();
    EXPECT_EQ(HoldAtSafePoint(waiter, HoldRule::OwnCodeOrWait), HoldResult::Busy);
    EXPECT_EQ(HoldAtSafePoint(waiter, HoldRule::LocksFree), HoldResult::Held) << "no lock the host needs";
    ResumeThread(waiter);
    LeaveCriticalSection(&blockedSection);
    EXPECT_EQ(WaitForSingleObject(waiter, 5000), WAIT_OBJECT_0);
    CloseHandle(waiter);
    DeleteCriticalSection(&blockedSection);
}

// A thread waiting for a lock inside the system's code may be handed it at any moment, and the
// helper cannot test every such lock (the loader keeps some of its own): however long a pause
// waits, it never holds such a waiter.
TEST_F(SafePointTest, APauseNeverHoldsAThreadWaitingForALockInTheSystemsCode) {
    InitializeCriticalSection(&blockedSection);
    EnterCriticalSection(&blockedSection);
    HANDLE waiter = StartSectionWaiter();
    Daemon* daemon = Record(waiter);
    SetDaemonRequest(daemon, RequestPause);
    for (const uint64_t start = ClockMilliseconds(); ClockMilliseconds() - start < 2500;) {
        EXPECT_TRUE(TickDaemon(daemon));
        Sleep(20);
    }
    EXPECT_FALSE(daemon->Has(FlagPaused));
    EXPECT_EQ(daemon->request, RequestPause) << "the pause stays pending";
    EXPECT_EQ(SuspendCount(waiter), 0u);
    if (daemon->Has(FlagPaused)) ResumeThreadFully(waiter);
    LeaveCriticalSection(&blockedSection);
    EXPECT_EQ(WaitForSingleObject(waiter, 5000), WAIT_OBJECT_0);
    CloseHandle(waiter);
    DeleteCriticalSection(&blockedSection);
}

TEST_F(SafePointTest, PauseAndForceStopWaitWhileTheThreadHoldsALockAndTheRowSaysSo) {
    LoaderLockHolder holder;
    Daemon* daemon = Record(holder.Thread());

    holder.Hold(true);
    SetDaemonRequest(daemon, RequestPause);
    EXPECT_TRUE(TickDaemon(daemon));
    EXPECT_FALSE(daemon->Has(FlagPaused)) << "not paused while it holds the loader lock";
    EXPECT_EQ(daemon->request, RequestPause) << "the pause stays pending";
    EXPECT_EQ(SuspendCount(holder.Thread()), 0u);
    holder.Hold(false);
    // Let go of the lock, the thread still has to reach its sleep: on a loaded machine that takes
    // longer than one look's few milliseconds, and later visits look again.
    EXPECT_TRUE(WaitUntil([&] { return TickDaemon(daemon) && daemon->Has(FlagPaused); }));
    EXPECT_EQ(daemon->request, RequestNone);
    EXPECT_EQ(SuspendCount(holder.Thread()), 1u);

    SetDaemonRequest(daemon, RequestResume);
    EXPECT_TRUE(TickDaemon(daemon));
    holder.Hold(true);
    SetDaemonRequest(daemon, RequestForceStop);
    EXPECT_TRUE(TickDaemon(daemon)) << "not ended while it holds the loader lock";
    EXPECT_TRUE(daemon->ending);
    EXPECT_EQ(SuspendCount(holder.Thread()), 0u);
    SetDaemonRequest(daemon, RequestPause);
    EXPECT_TRUE(TickDaemon(daemon));
    EXPECT_FALSE(daemon->Has(FlagPaused)) << "an end under way takes no other request";
    holder.Hold(false);
    EXPECT_TRUE(TickUntilUnloaded(daemon));
    EXPECT_EQ(WaitForSingleObject(holder.Thread(), 5000), WAIT_OBJECT_0);
    EXPECT_TRUE(SystemAnswers());
}

// The reaper passes a running daemon with nothing to do; a pause or an end that waits for a
// safe point still has something to do at every visit, after its request was taken.
TEST_F(SafePointTest, TheReaperLooksAgainAtAPauseOrAnEndThatWaits) {
    LoaderLockHolder holder;
    Daemon* daemon = Record(holder.Thread());
    MoveIntoTable(daemon);
    int position = 0;
    EXPECT_EQ(ReapOneDaemon(position), ReapResult::Kept);

    holder.Hold(true);
    SetDaemonRequest(daemon, RequestPause);
    EXPECT_EQ(ReapOneDaemon(position), ReapResult::Kept);
    EXPECT_TRUE(daemon->pauseWaiting);
    holder.Hold(false);
    EXPECT_TRUE(WaitUntil([&] {
        EXPECT_EQ(ReapOneDaemon(position), ReapResult::Kept);
        return daemon->Has(FlagPaused);
    })) << "the thread reached its sleep, and a later visit paused it";
    SetDaemonRequest(daemon, RequestResume);
    EXPECT_EQ(ReapOneDaemon(position), ReapResult::Kept);

    holder.Hold(true);
    SetDaemonRequest(daemon, RequestForceStop);
    EXPECT_EQ(ReapOneDaemon(position), ReapResult::Kept);
    ASSERT_TRUE(daemon->ending);
    EXPECT_EQ(daemon->request, RequestNone) << "the end goes on without a request";
    holder.Hold(false);
    bool removed = false;
    for (int visit = 0; visit < 200 && !removed; ++visit) {
        removed = ReapOneDaemon(position) == ReapResult::Removed;
        Sleep(5);
    }
    EXPECT_TRUE(removed) << "the end was looked at again";
    EXPECT_EQ(LastDaemonIndex(), 0);
}

TEST_F(SafePointTest, AThreadThatNeverLeavesTheSystemsCodeIsEndedWhereNoLockIsHeld) {
    InitializeCriticalSection(&blockedSection);
    EnterCriticalSection(&blockedSection);
    HANDLE waiter = StartSectionWaiter();
    Daemon* daemon = Record(waiter);
    SetDaemonRequest(daemon, RequestForceStop);
    EXPECT_TRUE(TickDaemon(daemon)) << "its own code is waited for first";
    EXPECT_TRUE(TickDaemon(daemon));
    // Past the first patience it is ended where the helper finds every lock free.
    daemon->endingSince = static_cast<int32_t>(static_cast<uint32_t>(ClockMilliseconds()) - 2001u);
    ASSERT_TRUE(TickUntilUnloaded(daemon));
    EXPECT_EQ(WaitForSingleObject(waiter, 5000), WAIT_OBJECT_0);
    EXPECT_TRUE(SystemAnswers());
    CloseHandle(waiter);
    LeaveCriticalSection(&blockedSection);
}

// Past the last patience a thread is ended wherever it stands only once it has stopped running:
// one that runs takes the system's locks and gives them back, and ended inside one it would
// leave it held. It is ended once it lets the lock go.
TEST_F(SafePointTest, AThreadThatRunsInsideALockIsNotEndedThereAfterTheLastPatience) {
    LoaderLockHolder holder;
    holder.Spin(true);
    // Its code may be new to the host, which then learns it at a later look rather than wait
    // for the lock the thread holds.
    holder.Hold(true);
    Daemon* daemon = Record(holder.Thread());
    SetDaemonRequest(daemon, RequestForceStop);
    EXPECT_TRUE(TickDaemon(daemon));
    daemon->endingSince = static_cast<int32_t>(static_cast<uint32_t>(ClockMilliseconds()) - 10001u);
    for (int tick = 0; tick < 10; ++tick) {
        ASSERT_TRUE(TickDaemon(daemon)) << "ended at look " << tick << " while it held the loader lock";
        Sleep(50);
    }
    holder.Hold(false);
    ASSERT_TRUE(TickUntilUnloaded(daemon));
    EXPECT_TRUE(SystemAnswers());
}

// A daemon that allocates in a loop and never looks at its word, stopped: its grace ends, and
// it is ended where it holds none of the heap's locks.
TEST_F(SafePointTest, TheEndOfTheGraceLeavesNoLockHeld) {
    std::wstring path;
    Daemon* daemon = Run(L"loops_heap_ignoring_word", &path);
    ASSERT_NE(daemon, nullptr);
    SetDaemonRequest(daemon, RequestStop);
    ASSERT_TRUE(TickDaemon(daemon));
    daemon->stopRequestTime = static_cast<int32_t>(static_cast<uint32_t>(ClockMilliseconds()) - 30001u);
    ASSERT_TRUE(TickUntilUnloaded(daemon));
    EXPECT_TRUE(IsModuleLoaded(path)) << "ended by force: its library stays, and its teardown never runs";
    EXPECT_FALSE(HasEvent(path, "detach"));
    EXPECT_TRUE(SystemAnswers());
}

}  // namespace
}  // namespace kestrune::test
