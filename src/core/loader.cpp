#include "loader.h"

#include <memory>

#include "address_check.h"
#include "application.h"
#include "lifecycle.h"

namespace kestrune {
namespace {

// An address counts only when it is not 0 and not below the ordinal-1 export.
bool IsAtOrAboveBound(const void* address, const void* bound) {
    return address != nullptr && reinterpret_cast<uintptr_t>(address) >= reinterpret_cast<uintptr_t>(bound);
}

// A damaged export table can name any address; the host calls only code of a loaded image.
bool IsCallable(const void* address, const void* bound) {
    return IsAtOrAboveBound(address, bound) && IsExecutableCode(address);
}

template <typename Function>
Function LookUp(HMODULE library, const char* name) {
    return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(library, name)));
}

// How long unloading waits for a terminated thread to be gone.
constexpr DWORD TerminationWait = 5000;

}  // namespace

std::wstring FilePartOf(const std::wstring& path) {
    size_t separator = path.find_last_of(L"\\/");
    return separator == std::wstring::npos ? path : path.substr(separator + 1);
}

Daemon* LoadDaemon(const std::wstring& path, LoadFacts* facts) {
    LoadFacts unused;
    if (!facts) facts = &unused;
    auto daemon = std::make_unique<Daemon>();
    if (IsQuitting()) return nullptr;
    daemon->library.reset(LoadLibraryW(path.c_str()));
    if (!daemon->library) {
        facts->loadError = GetLastError();
        return nullptr;
    }
    HMODULE library = daemon->library.get();

    const void* bound = reinterpret_cast<void*>(GetProcAddress(library, MAKEINTRESOURCEA(1)));
    facts->bound = bound;
    daemon->entryPointAddress = LookUp<EntryPointFunction>(library, "EntryPoint");
    if (!daemon->entryPointAddress) return nullptr;  // the owner frees the library
    if (!IsExecutableCode(reinterpret_cast<void*>(daemon->entryPointAddress))) {
        facts->entryPointNotCode = true;
        return nullptr;
    }

    daemon->fileName = FilePartOf(path);
    daemon->path = path;

    auto entryState = LookUp<EntryStateFunction>(library, "EntryState");
    facts->entryState = reinterpret_cast<void*>(entryState);
    facts->entryStateNotCode = IsAtOrAboveBound(facts->entryState, bound) && !IsCallable(facts->entryState, bound);
    if (IsCallable(reinterpret_cast<void*>(entryState), bound)) {
        StateWord* word = entryState();
        facts->entryStateCalled = true;
        facts->stateWordReturned = const_cast<LONG*>(word);
        // 255 is written there later: it must be a word the daemon can be written to.
        if (IsAtOrAboveBound(const_cast<LONG*>(word), bound)) {
            if (IsWritableWord(const_cast<LONG*>(word))) {
                daemon->stateWordAddress = word;
            } else {
                facts->stateWordNotWritable = true;
            }
        }
    }
    auto entryMenu = LookUp<EntryMenuFunction>(library, "EntryMenu");
    facts->entryMenu = reinterpret_cast<void*>(entryMenu);
    facts->entryMenuNotCode = IsAtOrAboveBound(facts->entryMenu, bound) && !IsCallable(facts->entryMenu, bound);
    if (IsCallable(reinterpret_cast<void*>(entryMenu), bound)) daemon->entryMenuAddress = entryMenu;
    return daemon.release();
}

DWORD WINAPI DaemonThreadMain(LPVOID record) {
    auto* daemon = static_cast<Daemon*>(record);
    if (IsQuitting()) return 0;
    daemon->entryPointAddress();
    return 0;
}

void UnloadDaemon(Daemon* daemon) {
    if (!daemon) return;
    if (IsThreadAlive(daemon->thread.get())) {
        TerminateThread(daemon->thread.get(), 0);
        // Termination is asynchronous: the thread's code must not be unmapped under it.
        WaitForSingleObject(daemon->thread.get(), TerminationWait);
    }
    daemon->thread.reset();
    daemon->library.reset();
    delete daemon;
}

}  // namespace kestrune
