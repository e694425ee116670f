// The state of one check, handed from step to step.
#pragma once

#include <windows.h>

#include <string>
#include <utility>
#include <vector>

#include "core/daemon_record.h"
#include "core/library_release.h"
#include "core/loader.h"
#include "findings.h"
#include "options.h"
#include "pe_image.h"
#include "process_snapshot.h"

namespace daemoncheck {

// Exit codes of the one-line check that the folder mode runs for each file.
constexpr UINT RowKept = 0;     // a row, with its state word if it offers one
constexpr UINT RowRefused = 1;  // no row, or a fault that ends the host
constexpr UINT RowWarned = 3;   // a row, but no state word or an ignored EntryMenu
constexpr UINT RowLost = 4;     // a row, but the state word it offers is ignored

// Where the checker is, for naming the entry a fault came from.
enum class Stage { Preparing, Loading, Running, AskingForMenus, Unloading, Judging };

struct Check {
    Options options;
    Findings findings;
    Stage stage = Stage::Preparing;
    DWORD mainThreadId = GetCurrentThreadId();
    PeImage image;
    kestrune::LoadFacts facts;
    // The host's record while the daemon is loaded; released only by the host's own unloading.
    kestrune::Daemon* daemon = nullptr;
    HMODULE module = nullptr;  // the daemon's library, not owned; only compared against
    uintptr_t moduleStart = 0;
    uintptr_t moduleEnd = 0;
    DWORD daemonThreadId = 0;
    bool threadTerminated = false;  // the host's unloading had to end the daemon's thread
    // A reference of our own that keeps the image mapped after the host has freed
    // it, so leftover threads and windows can be looked at before it goes.
    HMODULE pin = nullptr;
    // Window classes that the daemon registered under its own module.
    std::vector<std::wstring> daemonClasses;
    // The daemon's windows on the host's main thread when it ended, described, which the
    // host's unloading destroys.
    std::vector<std::pair<HWND, std::wstring>> mainThreadWindows;
    LONG quitsAtUnload = 0;  // quit requests the daemon's code made on the main thread meanwhile
    // What the host did with the library once the daemon had ended.
    kestrune::LibraryFate fate = kestrune::LibraryFate::Freed;
    DWORD detachThreadId = 0;    // the thread that runs its DllMain detach
    bool detachBlocked = false;  // its DllMain detach never returned: the loader lock stays held
    CounterSupport counters;
    ProcessSnapshot before;
};

// True when address lies inside the daemon's mapped image.
inline bool IsInDaemon(const Check& check, const void* address) {
    auto value = reinterpret_cast<uintptr_t>(address);
    return value >= check.moduleStart && value < check.moduleEnd;
}

// The file and its exports, read before anything of it runs.
void ExamineFile(Check& check);

// "32-bit DLL cannot load into the 64-bit host" and the like, or empty when the host can load it.
std::wstring MachineMismatch(const PeImage& image);

// Whether the host would discover the file where it lies, from the host's own discovery.
void JudgeDiscovery(Check& check);

// Why LoadDaemon gave no record: the first line, then the imports the host's search misses.
std::wstring LoadFailureText(const Check& check);
std::vector<std::wstring> MissingImports(const Check& check);

// Why the host drops the state word EntryState offers, or empty when it keeps it or none is offered.
std::wstring LostStateWordText(const Check& check);

// Why the host ignores an exported EntryMenu, or empty.
std::wstring IgnoredMenuText(const Check& check);

// Loads the daemon with the host's own LoadDaemon and reports what the host made of each export.
void LoadAndJudge(Check& check);

// Starts the daemon's thread as the host does and lets it settle.
void StartAndSettle(Check& check);

// Asks EntryMenu for both placements, as the host does, and judges the menus and the window.
void CheckMenus(Check& check);

// The folder mode's line for one file, as its own process: see RowKept and the rest.
int RunRowCheck(Check& check);

// Walks a wild_magic folder as the host's discovery does, one line per entry it sees.
int RunFolderCheck(const Options& options);

// Asks the daemon to stop through its state word, waits, and unloads it as the host does.
void StopAndUnload(Check& check);

// Adds the classes of the process's windows that the daemon registered.
void CollectDaemonClasses(Check& check, const std::vector<HWND>& windows);

// Notes the daemon's windows on the host's main thread before the host unloads it.
void NoteMainThreadWindows(Check& check);

// Compares the process after the daemon with the process before it.
void CheckLeftovers(Check& check);

// True when the library stays mapped for the rest of the host's run.
inline bool IsKept(kestrune::LibraryFate fate) {
    return fate == kestrune::LibraryFate::KeptRunning || fate == kestrune::LibraryFate::KeptTouched ||
           fate == kestrune::LibraryFate::KeptAfterForce;
}

}  // namespace daemoncheck
