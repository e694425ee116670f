#include "core/library_release.h"

#include <algorithm>
#include <vector>

#include "core/application.h"
#include "core/clock.h"
#include "core/code_in_use.h"
#include "core/code_quarantine.h"
#include "core/daemon_windows.h"
#include "core/image_range.h"
#include "core/loader_lock.h"
#include "core/safe_point.h"

#include "fault/source_position.h"

namespace kestrune {
namespace {

// A library is freed only when the loader's lock can be had at once: freeing waits for it,
// and a thread stuck in a library's initialisation may hold it for good.
constexpr DWORD LoaderPatience = 10;

struct WaitingLibrary {
    ModuleOwner library;
    uint64_t since = 0;
};

// File scope: the libraries belong to the process, not to a daemon record, which is gone by then.
struct Releases {
    std::vector<WaitingLibrary> waiting;
    std::vector<HMODULE> kept;  // never freed; not owned
    bool keptUnsafe = false;
};
Releases releases;

bool IsImageMapped(HMODULE module) {
    LN MEMORY_BASIC_INFORMATION region{};
    LN return VirtualQuery(module, &region, sizeof region) == sizeof region && region.State == MEM_COMMIT &&
        region.Type == MEM_IMAGE && region.AllocationBase == module;
}

// Other daemons' own threads run their own daemon's code: they are not looked at, which keeps
// the look short when hundreds of daemons run.
std::vector<DWORD> OtherDaemonThreads() {
    LN std::vector<DWORD> threads;
    LN for (size_t i = 1; i < app.DaemonTable.size(); ++i) {
        LN if (app.DaemonTable[i] && app.DaemonTable[i]->thread)
            threads.push_back(GetThreadId(app.DaemonTable[i]->thread.get()));
    }
    LN return threads;
}

// One lasting claim per library: a kept library that runs and ends again gives up the new one,
// which leaves it mapped all the same.
void Keep(ModuleOwner& library) {
    LN releases.keptUnsafe = true;
    LN if (std::find(releases.kept.begin(), releases.kept.end(), library.get()) != releases.kept.end()) {
        LN library.reset();
        LN return;
    }
    LN releases.kept.push_back(library.release());
}

void FreeLibraryNow(ModuleOwner& library) {
    LN ForgetDaemonImage(library.get());
    LN library.reset();
}

BOOL CALLBACK SendNull(HWND window, LPARAM) {
    LN SendMessageW(window, WM_NULL, 0, 0);
    LN EnumChildWindows(window, SendNull, 0);
    LN return TRUE;
}

}  // namespace

LibraryFate ReleaseDaemonLibrary(ModuleOwner library, bool endedByForce) {
    LN HMODULE module = library.get();
    LN if (!module) return LibraryFate::AlreadyGone;
    LN if (!IsImageMapped(module)) {
        // Its own code gave up the host's claim: there is nothing left to free, nor to read.
        LN library.release();
        LN ForgetDaemonImage(module);
        LN return LibraryFate::AlreadyGone;
    }
    LN if (endedByForce) {
        LN Keep(library);
        LN return LibraryFate::KeptAfterForce;
    }
    LN ReleaseWindowsOfLibrary(module);
    LN if (!ThreadsUsingImage(RangeOfImage(module), OtherDaemonThreads(), app.endingSession).empty()) {
        LN Keep(library);
        LN return LibraryFate::KeptRunning;
    }
    LN if (!QuarantineCode(module)) {
        LN FreeLibraryNow(library);
        LN return LibraryFate::Freed;
    }
    // A subclass the library put on one of the host's windows runs at the next message.
    LN EnumThreadWindows(GetCurrentThreadId(), SendNull, 0);
    LN releases.waiting.push_back({std::move(library), ClockMilliseconds()});
    LN return LibraryFate::Quarantined;
}

void ReviewQuarantine(uint64_t period) {
    LN const uint64_t now = ClockMilliseconds();
    LN for (size_t i = 0; i < releases.waiting.size();) {
        LN WaitingLibrary& entry = releases.waiting[i];
        LN HMODULE module = entry.library.get();
        LN const bool touched = WasCodeTouched(module);
        LN if (!touched && now - entry.since < period) {
            LN ++i;
            LN continue;
        }
        LN if (!touched && !IsLoaderLockFree(LoaderPatience)) {
            LN ++i;
            LN continue;
        }
        LN EndQuarantine(module);
        LN if (touched) {
            LN Keep(entry.library);
        } else {
            LN FreeLibraryNow(entry.library);
        }
        LN releases.waiting.erase(releases.waiting.begin() + static_cast<ptrdiff_t>(i));
    }
}

bool HasQuarantinedLibraries() {
    LN return !releases.waiting.empty();
}

void TakeBackFromQuarantine(HMODULE module) {
    LN auto entry = std::find_if(releases.waiting.begin(), releases.waiting.end(),
                                 [&](const WaitingLibrary& waiting) { LN return waiting.library.get() == module; });
    LN if (entry == releases.waiting.end()) return;
    LN const bool touched = WasCodeTouched(module);
    LN EndQuarantine(module);
    // The new load holds the library: giving up the old claim does not unmap it.
    LN if (touched) {
        LN Keep(entry->library);
    } else {
        LN entry->library.reset();
    }
    LN releases.waiting.erase(entry);
}

void EndEveryQuarantine() {
    LN for (WaitingLibrary& entry : releases.waiting) {
        LN if (WasCodeTouched(entry.library.get())) releases.keptUnsafe = true;
        LN EndQuarantine(entry.library.get());
        // Left to the process's end, which stops every other thread before any teardown runs.
        LN entry.library.release();
    }
    LN releases.waiting.clear();
}

bool KeepsLibrariesItCannotTearDown() {
    LN return releases.keptUnsafe;
}

uint32_t KeptLibraryCount() {
    LN return static_cast<uint32_t>(releases.kept.size());
}

}  // namespace kestrune
