// A clean application record per test, and every daemon unloaded at its end.
#pragma once

#include <memory>
#include <string>
#include <utility>

#include <gtest/gtest.h>

#include "core/application.h"
#include "core/daemon_table.h"
#include "core/library_release.h"
#include "core/lifecycle.h"
#include "core/loader.h"
#include "core/safe_point.h"
#include "core/thread_end_watch.h"
#include "temp_folder.h"
#include "test_daemons.h"
#include "ui/ui_state.h"

namespace kestrune::test {

// Waits until the daemon's thread stands where a pause or an end takes it at once. Just past
// its entry report it may still be in the report's last system call, where a visit finds it
// busy, and a loaded machine can keep it there for longer than one visit looks.
inline bool WaitUntilHoldable(Daemon* daemon) {
    return WaitUntil([&] {
        if (HoldAtSafePoint(daemon->thread.get(), HoldRule::OwnCodeOrWait) != HoldResult::Held) return false;
        ResumeThread(daemon->thread.get());
        return true;
    });
}

// Unloads a record as the reaper does: a thread that still runs is first held where an end
// leaves none of the system's locks held. One that has just returned may still be leaving, inside
// the loader's lock, and ended there it would leave that lock held for the rest of the program.
inline LibraryFate UnloadWhenHoldable(DaemonOwner record) {
    if (record && IsThreadAlive(record->thread.get())) {
        WaitUntil([&] { return HoldAtSafePoint(record->thread.get(), HoldRule::OwnCodeOrWait) != HoldResult::Busy; },
                  std::chrono::seconds(5));
    }
    return UnloadDaemon(std::move(record));
}

class HostFixture : public ::testing::Test {
protected:
    void SetUp() override { ResetHost(); }

    void TearDown() override {
        app.quitting.store(0);
        // Unloaded, so out of the table: a reset must find none left there.
        // Out of the table before the unload, as the reaper takes them: the unload may run code
        // that walks the table.
        while (app.DaemonTable.size() > 1) UnloadWhenHoldable(TakeOutOfTable(app.DaemonTable.back().get()));
        // What waits in quarantine is freed now: the next case starts with none.
        ReviewQuarantine(0);
        ResetHost();
    }

    // Copies test daemon name into the test's folder as relative (default name.dll).
    std::wstring Place(const std::wstring& name, std::wstring relative = {}) {
        if (relative.empty()) relative = name + L".dll";
        return CopyTestDaemon(name, folder.path() + relative);
    }

    Daemon* Add(const std::wstring& path) { return AddDaemon(path, app.DaemonTable); }

    // Puts a record the test made into the table, which then owns it.
    static Daemon* Keep(DaemonOwner record) { return app.DaemonTable.emplace_back(std::move(record)).get(); }

    // Loads and starts a test daemon and waits until its EntryPoint runs, settled.
    Daemon* Run(const std::wstring& name, std::wstring* pathOut = nullptr) {
        std::wstring path = Place(name);
        Daemon* daemon = Add(path);
        if (!daemon) return nullptr;
        StartDaemonThread(daemon, RequestNone);
        if (!WaitForEntry(path) || !WaitUntilHoldable(daemon)) return nullptr;
        if (pathOut) *pathOut = path;
        return daemon;
    }

    TempFolder folder;
};

// A daemon that returned by itself: its library is freed once its quarantine is over.
inline bool WaitForLibraryFreed(const std::wstring& path) {
    return WaitUntil(
        [&] {
            ReviewQuarantine();
            return !IsModuleLoaded(path);
        },
        std::chrono::milliseconds(QuarantinePeriod + 5000));
}

// The thread's suspend count, read without changing it.
inline DWORD SuspendCount(HANDLE thread) {
    DWORD count = SuspendThread(thread);
    ResumeThread(thread);
    return count;
}

}  // namespace kestrune::test
