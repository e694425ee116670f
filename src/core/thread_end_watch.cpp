#include "core/thread_end_watch.h"

#include "fault/source_position.h"

namespace kestrune {
namespace {

// Runs on a wait thread of the pool; releasing the wait waits for it to return.
VOID CALLBACK MarkThreadEnded(PVOID context, BOOLEAN) {
    LN static_cast<ThreadEndWatch*>(context)->ended.store(1, std::memory_order_release);
}

}  // namespace

bool IsThreadAlive(HANDLE thread) {
    LN return thread != nullptr && WaitForSingleObject(thread, 0) != WAIT_OBJECT_0;
}

bool WatchThreadEnd(ThreadEndWatch& watch, HANDLE thread) {
    LN if (watch.wait) return true;
    LN if (!thread) return false;
    LN HANDLE own = nullptr;
    LN if (!DuplicateHandle(GetCurrentProcess(), thread, GetCurrentProcess(), &own, SYNCHRONIZE, FALSE,
                            0)) return false;
    LN watch.thread.reset(own);
    LN HANDLE wait = nullptr;
    // Once only, and in the wait thread: the callback is one store.
    LN if (!RegisterWaitForSingleObject(&wait, own, MarkThreadEnded, &watch, INFINITE,
                                        WT_EXECUTEONLYONCE | WT_EXECUTEINWAITTHREAD)) {
        LN watch.thread.reset();
        LN return false;
    }
    LN watch.wait.reset(wait);
    LN return true;
}

bool IsWatchedAndRunning(const ThreadEndWatch& watch) {
    LN return watch.wait && watch.ended.load(std::memory_order_acquire) == 0;
}

}  // namespace kestrune
