#include "core/safe_point.h"

#include <malloc.h>

#include <algorithm>
#include <string>
#include <vector>

#include "core/case_fold.h"
#include "core/clock.h"
#include "core/image_range.h"
#include "core/loader_lock.h"
#include "core/owner.h"
#include "core/return_address.h"
#include "core/thread_end_watch.h"

#include "fault/source_position.h"

namespace kestrune {
namespace {

// A round of the probe takes well under a millisecond when every lock is free (a few under
// emulation); a round still waiting after this long is waiting for a lock someone holds. A
// round gets all of it however little of the budget is left: on a loaded machine the helper
// may wait that long to run at all, and a round cut to a few milliseconds would then never
// end in time, so that a thread waiting plainly would never be held. A call so takes at most
// its budget and one round.
constexpr DWORD ProbeWait = 20;
// The first round sets the helper up (its window-system state among it): the host starts the
// helper before its daemons start, where nothing but another thread's brief hold delays it.
constexpr DWORD StartWait = 5000;

// How far up a held thread's stack the call into the system's code is looked for.
constexpr uintptr_t EntrySearchDepth = 64 * 1024;

using PebLockFunction = void(NTAPI*)();
using GetDllPathFunction = LONG(NTAPI*)(PCWSTR module, ULONG flags, PWSTR* path, PWSTR* unknown);
using ReleasePathFunction = void(NTAPI*)(PWSTR path);

struct KnownImage {
    ImageRange range;
    bool system = false;       // a library of the Windows folder
    bool waitLibrary = false;  // one of the libraries a program waits in
};

// Where a held thread stands.
enum class Place {
    OwnCode,        // code that is not the system's: it holds what its own code holds
    PlainWait,      // waiting in a system call, inside one of the plain waits its own code called
    SystemCode,     // inside the system's libraries or their calls, where their locks are taken
    LockWait,       // waiting in a system call on behalf of another call: for one of their locks
    UnknownModule,  // an image not classified yet (that needs the loader: done once it runs again)
};

// One helper thread for the process, and what is known about the libraries. The helper is
// never ended: ending it while it waits inside one of the locks could leave that lock held,
// which is what it exists to prevent.
struct SafePoints {
    HandleOwner thread;
    HandleOwner go;             // auto-reset: one round per signal
    HandleOwner done;           // auto-reset: set at the end of each round
    bool roundPending = false;  // a round began and its end has not been seen yet
    PebLockFunction lockPeb = nullptr;
    PebLockFunction unlockPeb = nullptr;
    GetDllPathFunction getDllPath = nullptr;
    ReleasePathFunction releasePath = nullptr;
    HANDLE runtimeHeap = nullptr;  // the C runtime's heap, not owned
    // The exports of the libraries a program waits in, sorted: the one at or below an address
    // names the function it lies in, whatever the system's stubs look like.
    std::vector<uintptr_t> exports;
    std::vector<uintptr_t> waitCalls;      // the system calls that wait, sorted
    std::vector<uintptr_t> plainWaits;     // the waits a program calls, sorted
    std::vector<uintptr_t> lockFunctions;  // calls that take or wait for one of the system's locks, sorted
    std::vector<KnownImage> images;        // classified images; looked up while a thread is held
    std::wstring windowsFolder;            // lower case, with its trailing separator
};

// File scope: the helper and what it knows belong to the process, not to a window or daemon.
SafePoints points;

// Takes and releases each lock the host's main thread needs, one at a time: holding one
// while waiting for another could deadlock against a thread that takes them in another order.
void TouchEveryLock() {
    LN HANDLE processHeap = GetProcessHeap();
    LN if (HeapLock(processHeap)) HeapUnlock(processHeap);
    LN if (points.runtimeHeap && points.runtimeHeap != processHeap && HeapLock(points.runtimeHeap)) {
        LN HeapUnlock(points.runtimeHeap);
    }
    LN ULONG_PTR cookie = 0;
    LN if (LockLoader(cookie)) UnlockLoader(cookie);
    // The process environment block's lock guards the environment and the current directory.
    LN if (points.lockPeb && points.unlockPeb) {
        LN points.lockPeb();
        LN points.unlockPeb();
    }
    // Every LoadLibrary builds its search path under a lock of the loader's own, taken outside
    // the loader lock: a thread held inside that step, or waiting for that lock, blocks the next one.
    LN PWSTR searchPath = nullptr;
    LN PWSTR unused = nullptr;
    LN if (points.getDllPath && points.releasePath &&
           points.getDllPath(L"kernelbase.dll", 0, &searchPath, &unused) >= 0) {
        LN points.releasePath(searchPath);
    }
    // Where the window and drawing systems keep their locks in user mode (as under Wine), a
    // screen device context takes both.
    LN if (const ScreenDcOwner screen = TakeScreenDc()) GetDeviceCaps(screen.get(), LOGPIXELSX);
}

DWORD WINAPI RunLockProbe(LPVOID) {
    LN while (WaitForSingleObject(points.go.get(), INFINITE) == WAIT_OBJECT_0) {
        LN TouchEveryLock();
        LN SetEvent(points.done.get());
    }
    LN return 0;
}

// True when one round of the probe found every lock free within wait.
bool AreLocksFree(DWORD wait) {
    LN if (points.roundPending) {
        // The last round still waits in a lock: no new round until it has come out.
        LN if (WaitForSingleObject(points.done.get(), 0) != WAIT_OBJECT_0) return false;
        LN points.roundPending = false;
    }
    LN SetEvent(points.go.get());
    LN points.roundPending = true;
    LN if (WaitForSingleObject(points.done.get(), wait) != WAIT_OBJECT_0) return false;
    LN points.roundPending = false;
    LN return true;
}

// Needs the loader: only called while no thread is held. An image the loader does not know
// (mapped by hand) is the daemon's own. The thread just looked at runs again and may hold the
// loader's lock for as long as it likes: the image is learnt at a later look rather than waited
// for.
// The span of everything mapped with the allocation at base.
ImageRange MappedSpan(uintptr_t base) {
    LN uintptr_t end = base;
    LN MEMORY_BASIC_INFORMATION region{};
    LN while (VirtualQuery(reinterpret_cast<const void*>(end), &region, sizeof region) &&
              reinterpret_cast<uintptr_t>(region.AllocationBase) == base && region.RegionSize > 0) {
        LN end = reinterpret_cast<uintptr_t>(region.BaseAddress) + region.RegionSize;
    }
    LN return {base, std::max(end, base + 1)};
}

void LearnImageAt(uintptr_t base) {
    LN ULONG_PTR cookie = 0;
    LN if (!TryLockLoader(cookie)) return;
    LN HMODULE module = nullptr;
    LN wchar_t path[MAX_PATH * 2];
    LN DWORD length = 0;
    LN if (GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                              reinterpret_cast<LPCWSTR>(base), &module)) {
        LN length = GetModuleFileNameW(module, path, static_cast<DWORD>(std::size(path)));
    }
    LN UnlockLoader(cookie);
    LN const bool system =
        length > 0 && LowerCaseCopy(std::wstring_view(path, length)).starts_with(points.windowsFolder);
    LN points.images.push_back({MappedSpan(base), system, false});
}

// A library started again while it stays loaded is learnt again: it is listed once.
void LearnOwnImage(HMODULE module) {
    LN if (!module) return;
    LN const auto base = reinterpret_cast<uintptr_t>(module);
    LN const bool known = std::any_of(points.images.begin(), points.images.end(),
                                      [&](const KnownImage& image) { LN return image.range.begin == base; });
    LN if (!known) points.images.push_back({RangeOfImage(module), false, false});
}

// The libraries whose exports a program waits in, learnt at the start as the system's, and
// their exports, sorted: the export at or below an address names the function it lies in.
const wchar_t* const WaitLibraries[] = {L"ntdll.dll", L"win32u.dll", L"kernelbase.dll", L"kernel32.dll", L"user32.dll"};

// The name lists stay packed (clang-format would give each name a line of its own).
//
// The waits a program calls for itself: a thread inside one holds none of the system's locks.
// Not the native layer's own waits (its address wait, its system calls), which its locks use too.
// clang-format off
const char* const PlainWaitNames[] = {
    "Sleep", "SleepEx", "WaitForSingleObject", "WaitForSingleObjectEx", "WaitForMultipleObjects",
    "WaitForMultipleObjectsEx", "SignalObjectAndWait", "SleepConditionVariableSRW", "SleepConditionVariableCS",
    "RtlSleepConditionVariableSRW", "RtlSleepConditionVariableCS", "WaitOnAddress", "GetQueuedCompletionStatus",
    "GetQueuedCompletionStatusEx", "GetMessageW", "GetMessageA", "WaitMessage", "MsgWaitForMultipleObjects",
    "MsgWaitForMultipleObjectsEx"};
// clang-format on

// Calls that take one of the system's locks, or wait for one.
// clang-format off
const char* const LockFunctionNames[] = {
    "RtlEnterCriticalSection", "RtlpWaitForCriticalSection", "RtlAcquireSRWLockExclusive", "RtlAcquireSRWLockShared",
    "EnterCriticalSection", "AcquireSRWLockExclusive", "AcquireSRWLockShared", "LdrLockLoaderLock",
    "RtlAcquirePebLock", "RtlAllocateHeap", "RtlFreeHeap", "RtlReAllocateHeap", "RtlLockHeap", "HeapAlloc",
    "HeapFree", "HeapReAlloc", "HeapLock", "LdrLoadDll", "LdrUnloadDll", "LdrGetProcedureAddress", "LdrGetDllHandle",
    "LoadLibraryW", "LoadLibraryA", "LoadLibraryExW", "LoadLibraryExA", "FreeLibrary", "GetProcAddress",
    "GetModuleHandleW", "GetModuleHandleA", "GetModuleHandleExW", "GetModuleHandleExA"};
// clang-format on

// The system calls that wait, whoever makes them.
// clang-format off
const char* const WaitCallNames[] = {
    "NtDelayExecution", "NtWaitForSingleObject", "NtWaitForMultipleObjects", "NtSignalAndWaitForSingleObject",
    "NtRemoveIoCompletion", "NtRemoveIoCompletionEx", "NtWaitForAlertByThreadId", "NtWaitForKeyedEvent",
    "NtUserGetMessage", "NtUserMsgWaitForMultipleObjectsEx", "NtUserWaitMessage"};
// clang-format on

void AddExportsNamed(HMODULE module, const char* const* names, size_t count, std::vector<uintptr_t>& into) {
    LN for (size_t i = 0; i < count; ++i) {
        LN auto address = reinterpret_cast<uintptr_t>(reinterpret_cast<void*>(GetProcAddress(module, names[i])));
        LN if (address) into.push_back(address);
    }
}

void LearnWaitLibraries() {
    LN for (const wchar_t* library : WaitLibraries) {
        LN HMODULE module = GetModuleHandleW(library);
        LN if (!module) continue;
        LN points.images.push_back({RangeOfImage(module), true, true});
        LN const std::vector<uintptr_t> exports = ExportAddresses(module);
        LN points.exports.insert(points.exports.end(), exports.begin(), exports.end());
        LN AddExportsNamed(module, PlainWaitNames, std::size(PlainWaitNames), points.plainWaits);
        LN AddExportsNamed(module, WaitCallNames, std::size(WaitCallNames), points.waitCalls);
        LN AddExportsNamed(module, LockFunctionNames, std::size(LockFunctionNames), points.lockFunctions);
    }
    LN for (std::vector<uintptr_t>* list :
            {&points.exports, &points.plainWaits, &points.waitCalls, &points.lockFunctions}) {
        LN std::sort(list->begin(), list->end());
    }
}

bool IsListed(const std::vector<uintptr_t>& sorted, uintptr_t value) {
    LN return std::binary_search(sorted.begin(), sorted.end(), value);
}

const KnownImage* FindImage(uintptr_t address);

// The export at or below address: the function of a wait library it lies in, when exported.
uintptr_t FunctionAt(uintptr_t address) {
    LN const KnownImage* image = FindImage(address);
    LN if (!image || !image->waitLibrary) return 0;
    LN auto after = std::upper_bound(points.exports.begin(), points.exports.end(), address);
    LN return after == points.exports.begin() ? 0 : *(after - 1);
}

const KnownImage* FindImage(uintptr_t address) {
    LN for (const KnownImage& image : points.images) {
        LN if (IsInsideImage(image.range, address)) return &image;
    }
    LN return nullptr;
}

// What a thread that stands in a system call that waits, at ip, waits for, read off its stack
// above sp: the innermost frame that tells decides, a plain wait's or a lock's. The frames a
// wait is made from are small and written afresh at each call, so the innermost ones are the
// true ones; a frame of no known function (one not exported) tells nothing, and neither does
// ip's own function, which is only the system call. A thread whose own code reached the system
// call some other way is taken to wait for a lock. Lock-free and without allocation: the held
// thread may hold any lock.
Place PlaceOfWait(uintptr_t ip, uintptr_t sp) {
    LN MEMORY_BASIC_INFORMATION region{};
    LN if (!VirtualQuery(reinterpret_cast<const void*>(sp), &region, sizeof region) || region.State != MEM_COMMIT) {
        LN return Place::LockWait;
    }
    LN const uintptr_t top =
        std::min<uintptr_t>(reinterpret_cast<uintptr_t>(region.BaseAddress) + region.RegionSize, sp + EntrySearchDepth);
    LN const uintptr_t call = FunctionAt(ip);
    LN for (uintptr_t slot = sp; slot + sizeof(uintptr_t) <= top; slot += sizeof(uintptr_t)) {
        LN const uintptr_t value = *reinterpret_cast<const uintptr_t*>(slot);
        LN const KnownImage* image = FindImage(value);
        LN if (!image || !IsReturnAddress(value)) continue;
        LN if (!image->system) return Place::LockWait;
        LN const uintptr_t function = FunctionAt(value);
        LN if (function == call) continue;
        LN if (IsListed(points.plainWaits, function)) return Place::PlainWait;
        LN if (IsListed(points.lockFunctions, function)) return Place::LockWait;
    }
    LN return Place::LockWait;
}

// For an image not classified yet, unknownBase receives its base, to be learnt once the thread
// runs again (that needs the loader).
Place PlaceOfCode(uintptr_t ip, uintptr_t& unknownBase) {
    LN if (const KnownImage* image = FindImage(ip)) return image->system ? Place::SystemCode : Place::OwnCode;
    LN MEMORY_BASIC_INFORMATION region{};
    LN if (!VirtualQuery(reinterpret_cast<const void*>(ip), &region, sizeof region)) return Place::SystemCode;
    // Code outside any image (made at run time) belongs to whoever made it.
    LN if (region.Type != MEM_IMAGE) return Place::OwnCode;
    LN unknownBase = reinterpret_cast<uintptr_t>(region.AllocationBase);
    LN return Place::UnknownModule;
}

// Inside the system's code a thread waits plainly only in a system call that waits, reached
// through a wait its own code called; a wait reached another way is a wait for a lock of the
// call it is in (a heap's, the loader's, a critical section's). Told from the thread's stack,
// not from the layout of the system's stubs, which differs between systems.
Place PlaceOf(uintptr_t ip, uintptr_t sp, uintptr_t& unknownBase) {
    LN const Place place = PlaceOfCode(ip, unknownBase);
    LN if (place != Place::SystemCode || !IsListed(points.waitCalls, FunctionAt(ip))) return place;
    LN return PlaceOfWait(ip, sp);
}

// Suspension takes effect asynchronously; reading the thread's context waits until it has.
bool ReadPlace(HANDLE thread, Place& place, uintptr_t& unknownBase) {
    LN CONTEXT context{};
    LN context.ContextFlags = CONTEXT_CONTROL;
    LN if (!GetThreadContext(thread, &context)) return false;
#ifdef _WIN64
    LN place = PlaceOf(context.Rip, context.Rsp, unknownBase);
#else
    LN place = PlaceOf(context.Eip, context.Esp, unknownBase);
#endif
    LN return true;
}

bool IsAllowed(Place place, HoldRule rule) {
    LN switch (place) {
    case Place::OwnCode:
    case Place::PlainWait:
        LN return true;
    case Place::LockWait:
        LN return rule == HoldRule::LocksFree;
    default:
        LN return rule != HoldRule::OwnCodeOrWait;
    }
}

}  // namespace

void LearnDaemonImage(HMODULE module) {
    LN LearnOwnImage(module);
}

void ForgetDaemonImage(HMODULE module) {
    LN const auto base = reinterpret_cast<uintptr_t>(module);
    LN std::erase_if(points.images, [&](const KnownImage& image) { LN return image.range.begin == base; });
}

bool StartLockProbe() {
    LN if (points.thread) return true;
    LN PrepareLoaderLock();
    LN points.go.reset(CreateEventW(nullptr, FALSE, FALSE, nullptr));
    LN points.done.reset(CreateEventW(nullptr, FALSE, FALSE, nullptr));
    LN if (!points.go || !points.done) return false;
    LN if (HMODULE ntdll = GetModuleHandleW(L"ntdll.dll")) {
        LN points.lockPeb = LookUp<PebLockFunction>(ntdll, "RtlAcquirePebLock");
        LN points.unlockPeb = LookUp<PebLockFunction>(ntdll, "RtlReleasePebLock");
        LN points.getDllPath = LookUp<GetDllPathFunction>(ntdll, "LdrGetDllPath");
        LN points.releasePath = LookUp<ReleasePathFunction>(ntdll, "RtlReleasePath");
    }
    LN points.runtimeHeap = reinterpret_cast<HANDLE>(_get_heap_handle());
    LN wchar_t folder[MAX_PATH];
    LN UINT length = GetWindowsDirectoryW(folder, MAX_PATH);
    LN if (length > 0 && length < MAX_PATH) points.windowsFolder = LowerCaseCopy(std::wstring_view(folder, length));
    LN if (!points.windowsFolder.empty() && points.windowsFolder.back() != L'\\') points.windowsFolder += L'\\';
    LN LearnWaitLibraries();
    // The host's own image is never the system's.
    LN LearnOwnImage(GetModuleHandleW(nullptr));
    LN points.thread.reset(CreateThread(nullptr, 0, RunLockProbe, nullptr, 0, nullptr));
    LN if (!points.thread) return false;
    // The first round sets the helper up (its window-system state among it) while nothing is held.
    LN AreLocksFree(StartWait);
    LN return true;
}

HoldResult HoldAtSafePoint(HANDLE thread, HoldRule rule, DWORD* previousCount, uint64_t budget) {
    // Without the helper nothing can be told: the thread is held where it stands, as it always was.
    LN const bool canProbe = StartLockProbe();
    LN const uint64_t start = ClockMilliseconds();
    LN for (;;) {
        LN if (!IsThreadAlive(thread)) return HoldResult::NotAlive;
        LN DWORD previous = SuspendThread(thread);
        LN if (previous == static_cast<DWORD>(-1)) return HoldResult::NotAlive;
        LN Place place = Place::SystemCode;
        LN uintptr_t imageBase = 0;
        LN const bool known = ReadPlace(thread, place, imageBase);
        // A thread suspended already stands still wherever it stands; another suspension changes nothing.
        // A thread that holds the loader's lock is never ended: every later load, unload, thread
        // start and thread end of the process would wait for that lock for good.
        LN const bool anywhere = rule == HoldRule::Anywhere && LoaderLockOwner() != GetThreadId(thread);
        LN if (previous > 0 || anywhere || !canProbe || (known && IsAllowed(place, rule) && AreLocksFree(ProbeWait))) {
            LN if (previousCount) *previousCount = previous;
            LN return HoldResult::Held;
        }
        LN ResumeThread(thread);
        LN if (place == Place::UnknownModule && imageBase) LearnImageAt(imageBase);
        LN if (ClockMilliseconds() - start >= budget) return HoldResult::Busy;
        LN SwitchToThread();
    }
}

}  // namespace kestrune
