#include "core/loader.h"

#include <memory>

#include "core/address_check.h"
#include "core/application.h"
#include "core/image_range.h"
#include "core/library_release.h"
#include "core/lifecycle.h"
#include "core/loader_lock.h"
#include "core/owner.h"
#include "core/safe_point.h"

#include "fault/source_position.h"

namespace kestrune {
namespace {

// An address counts only when it is not 0 and not below the ordinal-1 export.
bool IsAtOrAboveBound(const void* address, const void* bound) {
    LN return address != nullptr && reinterpret_cast<uintptr_t>(address) >= reinterpret_cast<uintptr_t>(bound);
}

// A damaged export table can name any address; the host calls only code of a loaded image.
bool IsCallable(const void* address, const void* bound) {
    LN return IsAtOrAboveBound(address, bound) && IsExecutableCode(address);
}

// How long unloading waits for a terminated thread to be gone.
constexpr DWORD TerminationWait = 5000;
// How long one thread may hold the loader's lock before a load takes it for stuck and gives up: a
// thread stuck in a library's initialisation holds it for good, and the main thread must not
// wait behind it. Other threads' brief holds are waited for, as any load waits.
constexpr DWORD LoaderPatience = 100;

// The host may load at logon, hidden: a damaged or foreign image must fail quietly instead of
// raising a system error box that waits for a press.
constexpr DWORD QuietLoadErrorMode = SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX;

HMODULE LoadQuietly(const std::wstring& path) {
    LN DWORD previousMode = 0;
    LN const bool modeSet = SetThreadErrorMode(QuietLoadErrorMode, &previousMode) != FALSE;
    // The caller reads why the load failed after the mode is back.
    LN const ScopeExit restore([&] {
        LN const DWORD error = GetLastError();
        LN if (modeSet) SetThreadErrorMode(previousMode, nullptr);
        LN SetLastError(error);
    });
    LN return LoadLibraryW(path.c_str());
}

}  // namespace

std::wstring FilePartOf(const std::wstring& path) {
    LN size_t separator = path.find_last_of(L"\\/");
    LN return separator == std::wstring::npos ? path : path.substr(separator + 1);
}

DaemonOwner LoadDaemon(const std::wstring& path, LoadFacts* facts) {
    LN LoadFacts unused;
    LN if (!facts) facts = &unused;
    LN auto daemon = std::make_unique<Daemon>();
    LN if (IsQuitting()) return nullptr;
    LN if (IsLoaderLockStuck(LoaderPatience)) {
        LN facts->loadError = ERROR_BUSY;
        LN return nullptr;
    }
    // A library the host kept, or that waits in quarantine, is loaded already: the start finds the
    // data its last run left.
    LN const bool loadedBefore = GetModuleHandleW(path.c_str()) != nullptr;
    LN daemon->library.reset(LoadQuietly(path));
    LN if (!daemon->library) {
        LN facts->loadError = GetLastError();
        LN return nullptr;
    }
    LN HMODULE library = daemon->library.get();
    LN TakeBackFromQuarantine(library);
    LN LearnDaemonImage(library);

    LN const void* bound = reinterpret_cast<void*>(GetProcAddress(library, MAKEINTRESOURCEA(1)));
    LN facts->bound = bound;
    LN daemon->entryPointAddress = LookUp<EntryPointFunction>(library, "EntryPoint");
    LN if (!daemon->entryPointAddress) return nullptr;  // the owner frees the library
    LN if (!IsExecutableCode(reinterpret_cast<void*>(daemon->entryPointAddress))) {
        LN facts->entryPointNotCode = true;
        LN return nullptr;
    }

    LN daemon->fileName = FilePartOf(path);
    LN daemon->path = path;

    LN auto entryState = LookUp<EntryStateFunction>(library, "EntryState");
    LN facts->entryState = reinterpret_cast<void*>(entryState);
    LN facts->entryStateNotCode = IsAtOrAboveBound(facts->entryState, bound) && !IsCallable(facts->entryState, bound);
    LN if (IsCallable(reinterpret_cast<void*>(entryState), bound)) {
        LN StateWord* word = entryState();
        LN facts->entryStateCalled = true;
        LN facts->stateWordReturned = const_cast<LONG*>(word);
        // 255 is written there later: it must be a word the daemon can be written to.
        LN if (IsAtOrAboveBound(const_cast<LONG*>(word), bound)) {
            LN if (IsWritableWord(const_cast<LONG*>(word))) {
                LN daemon->stateWordAddress = word;
                // The host's own stop request of the last run is still there in a kept library:
                // it is taken back, as a fresh load would have it.
                LN if (loadedBefore && *word == StateWordStop) *word = 0;
            } else {
                LN facts->stateWordNotWritable = true;
            }
        }
    }
    LN auto entryMenu = LookUp<EntryMenuFunction>(library, "EntryMenu");
    LN facts->entryMenu = reinterpret_cast<void*>(entryMenu);
    LN facts->entryMenuNotCode = IsAtOrAboveBound(facts->entryMenu, bound) && !IsCallable(facts->entryMenu, bound);
    LN if (IsCallable(reinterpret_cast<void*>(entryMenu), bound)) daemon->entryMenuAddress = entryMenu;
    LN return daemon;
}

DWORD WINAPI DaemonThreadMain(LPVOID record) {
    LN auto* daemon = static_cast<Daemon*>(record);
    LN if (IsQuitting()) return 0;
    LN daemon->entryPointAddress();
    LN return 0;
}

LibraryFate UnloadDaemon(DaemonOwner daemon) {
    LN if (!daemon) return LibraryFate::AlreadyGone;
    LN const bool endedByForce = IsThreadAlive(daemon->thread.get());
    LN if (endedByForce) {
        LN TerminateThread(daemon->thread.get(), 0);
        LN WaitForSingleObject(daemon->thread.get(), TerminationWait);
    }
    LN daemon->thread.reset();
    LN return ReleaseDaemonLibrary(std::move(daemon->library), endedByForce);
}

void AbandonDaemon(DaemonOwner daemon) {
    LN if (!daemon) return;
    // Its thread runs on where it stands, and its library with it, until the process ends.
    LN daemon->thread.reset();
    LN ReleaseDaemonLibrary(std::move(daemon->library), true);
}

}  // namespace kestrune
