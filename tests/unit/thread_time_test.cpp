#include <algorithm>

#include "core/lifecycle.h"
#include "core/thread_time.h"
#include "host_fixture.h"

namespace kestrune::test {
namespace {

class ThreadTimeTest : public HostFixture {
protected:
    // Samples the daemon and keeps every value, to check at the end that none went down.
    uint64_t Sample(Daemon* daemon) {
        SampleThreadTime(daemon);
        samples.push_back(daemon->lastThreadTime);
        return daemon->lastThreadTime;
    }

    // Waits until the thread has stopped using the processor: it is suspended, reading its
    // context returns only once the suspension has landed, and two samples then agree.
    bool WaitUntilSteady(Daemon* daemon) {
        CONTEXT context{};
        context.ContextFlags = CONTEXT_CONTROL;
        if (SuspendCount(daemon->thread.get()) == 0 || !GetThreadContext(daemon->thread.get(), &context)) return false;
        return WaitUntil([&] {
            uint64_t before = Sample(daemon);
            Sleep(TimeTick);
            return Sample(daemon) == before;
        });
    }

    // Longer than a step of the thread-time clock (10 ms under Wine, 15.6 ms on Windows),
    // so a thread that still ran would show it.
    static constexpr DWORD TimeTick = 20;

    std::vector<uint64_t> samples;
};

TEST_F(ThreadTimeTest, BusyDaemonGainsTimeOnlyWhileItRuns) {
    std::wstring path = Place(L"busy");
    Daemon* daemon = Add(path);
    ASSERT_NE(daemon, nullptr);
    EXPECT_EQ(daemon->lastThreadTime, 0u) << "a new record starts at 0";
    StartDaemonThread(daemon, RequestNone);
    ASSERT_TRUE(WaitForEntry(path) && WaitUntilHoldable(daemon));

    uint64_t running = Sample(daemon);
    EXPECT_TRUE(WaitUntil([&] { return Sample(daemon) > running; })) << "a running busy daemon gains time";

    SetDaemonRequest(daemon, RequestPause);
    ASSERT_TRUE(TickDaemon(daemon));
    ASSERT_TRUE(WaitUntilSteady(daemon));
    uint64_t paused = Sample(daemon);
    // A negative check, so a measured stretch: a quarter of a second, several steps of the
    // clock, in which a busy thread left running would gain time.
    for (int i = 0; i < 5; ++i) {
        Sleep(50);
        EXPECT_EQ(Sample(daemon), paused) << "a paused daemon gains nothing";
    }

    SetDaemonRequest(daemon, RequestResume);
    ASSERT_TRUE(TickDaemon(daemon));
    EXPECT_TRUE(WaitUntil([&] { return Sample(daemon) > paused; })) << "it gains again once resumed";

    // Only live threads are sampled: under Wine an ended thread may read as 0.
    uint64_t lastLive = Sample(daemon);
    SetDaemonRequest(daemon, RequestStop);
    ASSERT_TRUE(TickDaemon(daemon));
    ASSERT_EQ(WaitForSingleObject(daemon->thread.get(), 20000), WAIT_OBJECT_0);
    EXPECT_EQ(daemon->lastThreadTime, lastLive) << "the record keeps its last sample after the thread ends";

    EXPECT_TRUE(std::is_sorted(samples.begin(), samples.end())) << "samples never decrease";
}

TEST_F(ThreadTimeTest, AFailedReadStoresZero) {
    Daemon record;
    record.lastThreadTime = 123456789;
    SampleThreadTime(&record);  // no thread at all
    EXPECT_EQ(record.lastThreadTime, 0u);

    // A thread that may be waited on but not queried.
    HANDLE waitOnly = nullptr;
    ASSERT_TRUE(DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(), &waitOnly, SYNCHRONIZE,
                                FALSE, 0));
    record.thread.reset(waitOnly);
    record.lastThreadTime = 123456789;
    SampleThreadTime(&record);
    EXPECT_EQ(record.lastThreadTime, 0u);
}

}  // namespace
}  // namespace kestrune::test
