#include "safe_point.h"

#include <malloc.h>

#include <string>
#include <vector>

#include "case_fold.h"
#include "clock.h"
#include "image_range.h"
#include "owner.h"
#include "thread_end_watch.h"
#include "fault/source_position.h"

namespace kestrune {
namespace {

// How long one hold keeps looking for a safe point before it gives up for this visit. Each
// look costs a suspension and a resumption; a thread that is inside the system most of the
// time (loading libraries in a loop, say) is met in its own code within a few dozen looks.
constexpr uint64_t HoldBudget = 30;
// A round of the probe takes well under a millisecond when every lock is free (a few under
// emulation); a round still waiting after this long is waiting for a lock someone holds.
constexpr DWORD ProbeWait = 20;
// The first round, while no daemon is held: only another thread's brief hold can delay it.
constexpr DWORD StartWait = 5000;

// LdrLockLoaderLock's flag to take the lock only if it is free, and its answer when it was taken.
constexpr ULONG LoaderLockTryOnly = 2;
constexpr ULONG LoaderLockAcquired = 1;
// A thread suspended inside a system call stands a few bytes into the call's stub. Stubs lie
// 16 bytes apart in a 32-bit process, 32 in a 64-bit one: no more, or the next stub counts too.
constexpr uintptr_t StubLength = sizeof(void*) * 4;

using LockLoaderLockFunction = LONG(NTAPI*)(ULONG flags, ULONG* disposition, ULONG_PTR* cookie);
using UnlockLoaderLockFunction = LONG(NTAPI*)(ULONG flags, ULONG_PTR cookie);
using PebLockFunction = void(NTAPI*)();
using GetDllPathFunction = LONG(NTAPI*)(PCWSTR module, ULONG flags, PWSTR* path, PWSTR* unknown);
using ReleasePathFunction = void(NTAPI*)(PWSTR path);

struct KnownImage {
    uintptr_t base = 0;
    bool system = false;  // a library of the Windows folder
};

// Where a held thread stands.
enum class Place {
    OwnCode,        // code that is not the system's: it holds what its own code holds
    PlainWait,      // waiting in a system call made from outside the native layer
    SystemCode,     // inside the system's libraries or their calls, where their locks are taken
    LockWait,       // waiting in a call the native layer makes for itself: for one of its locks
    UnknownModule,  // an image not classified yet (that needs the loader: done once it runs again)
};

// One helper thread for the process, and what is known about the libraries. The helper is
// never ended: ending it while it waits inside one of the locks could leave that lock held,
// which is what it exists to prevent.
struct SafePoints {
    HandleOwner thread;
    HandleOwner go;    // auto-reset: one round per signal
    HandleOwner done;  // auto-reset: set at the end of each round
    bool roundPending = false;  // a round began and its end has not been seen yet
    LockLoaderLockFunction lockLoader = nullptr;
    UnlockLoaderLockFunction unlockLoader = nullptr;
    PebLockFunction lockPeb = nullptr;
    PebLockFunction unlockPeb = nullptr;
    GetDllPathFunction getDllPath = nullptr;
    ReleasePathFunction releasePath = nullptr;
    HANDLE runtimeHeap = nullptr;  // the C runtime's heap, not owned
    ImageRange nativeLayer;         // ntdll: a wait called from inside it is a wait for one of its locks
    std::vector<uintptr_t> waitStubs;
    std::vector<KnownImage> images;  // classified images; looked up while a thread is held
    std::wstring windowsFolder;     // lower case, with its trailing separator
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
    LN if (points.lockLoader && points.unlockLoader && points.lockLoader(0, nullptr, &cookie) >= 0) {
        LN points.unlockLoader(0, cookie);
    }
    // The process environment block's lock guards the environment and the current directory.
    LN if (points.lockPeb && points.unlockPeb) {
        LN points.lockPeb();
        LN points.unlockPeb();
    }
    // Every LoadLibrary builds its search path under a lock of the loader's own, taken outside
    // the loader lock: a thread held inside that step, or waiting for that lock, blocks the next one.
    LN PWSTR searchPath = nullptr;
    LN PWSTR unused = nullptr;
    LN if (points.getDllPath && points.releasePath && points.getDllPath(L"kernelbase.dll", 0, &searchPath, &unused) >= 0) {
        LN points.releasePath(searchPath);
    }
    // Where the window and drawing systems keep their locks in user mode (as under Wine), a
    // screen device context takes both.
    LN HDC screen = GetDC(nullptr);
    LN if (screen) {
        LN GetDeviceCaps(screen, LOGPIXELSX);
        LN ReleaseDC(nullptr, screen);
    }
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
void LearnImageAt(uintptr_t base) {
    LN ULONG disposition = 0;
    LN ULONG_PTR cookie = 0;
    LN const bool locking = points.lockLoader && points.unlockLoader;
    LN if (locking &&
           (points.lockLoader(LoaderLockTryOnly, &disposition, &cookie) < 0 || disposition != LoaderLockAcquired)) {
        LN return;
    }
    LN HMODULE module = nullptr;
    LN wchar_t path[MAX_PATH * 2];
    LN DWORD length = 0;
    LN if (GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                              reinterpret_cast<LPCWSTR>(base), &module)) {
        LN length = GetModuleFileNameW(module, path, static_cast<DWORD>(std::size(path)));
    }
    LN if (locking) points.unlockLoader(0, cookie);
    LN const bool system = length > 0 && LowerCaseCopy(std::wstring_view(path, length)).starts_with(points.windowsFolder);
    LN points.images.push_back({base, system});
}

void LearnWaitStubs() {
    LN const wchar_t* layers[] = {L"ntdll.dll", L"win32u.dll"};
    LN const char* waits[] = {"NtDelayExecution", "NtWaitForSingleObject", "NtWaitForMultipleObjects",
                              "NtSignalAndWaitForSingleObject", "NtRemoveIoCompletion", "NtRemoveIoCompletionEx",
                              "NtWaitForAlertByThreadId", "NtWaitForKeyedEvent", "NtUserGetMessage",
                              "NtUserMsgWaitForMultipleObjectsEx", "NtUserWaitMessage"};
    LN for (const wchar_t* layer : layers) {
        LN HMODULE module = GetModuleHandleW(layer);
        LN if (!module) continue;
        LN for (const char* wait : waits) {
            LN auto stub = reinterpret_cast<uintptr_t>(reinterpret_cast<void*>(GetProcAddress(module, wait)));
            LN if (stub) points.waitStubs.push_back(stub);
        }
    }
    LN if (HMODULE ntdll = GetModuleHandleW(L"ntdll.dll")) points.nativeLayer = RangeOfImage(ntdll);
}

bool ReadOwnMemory(uintptr_t address, void* buffer, SIZE_T size) {
    LN SIZE_T read = 0;
    LN return ReadProcessMemory(GetCurrentProcess(), reinterpret_cast<const void*>(address), buffer, size, &read) &&
              read == size;
}

// Lock-free lookups only: the held thread may hold the loader's lock. For an image not
// classified yet, unknownBase receives its base, to be learnt once the thread runs again.
Place PlaceOf(uintptr_t ip, uintptr_t sp, uintptr_t& unknownBase) {
    LN for (uintptr_t stub : points.waitStubs) {
        LN if (ip < stub || ip >= stub + StubLength) continue;
        // A wait the native layer makes for itself is a wait for one of its own locks.
        LN uintptr_t caller = 0;
        LN if (!ReadOwnMemory(sp, &caller, sizeof caller)) return Place::LockWait;
        LN return IsInsideImage(points.nativeLayer, caller) ? Place::LockWait : Place::PlainWait;
    }
    LN MEMORY_BASIC_INFORMATION region{};
    LN if (!VirtualQuery(reinterpret_cast<const void*>(ip), &region, sizeof region)) return Place::SystemCode;
    // Code outside any image (made at run time) belongs to whoever made it.
    LN if (region.Type != MEM_IMAGE) return Place::OwnCode;
    LN const auto base = reinterpret_cast<uintptr_t>(region.AllocationBase);
    LN for (const KnownImage& image : points.images) {
        LN if (image.base == base) return image.system ? Place::SystemCode : Place::OwnCode;
    }
    LN unknownBase = base;
    LN return Place::UnknownModule;
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

bool StartLockProbe() {
    LN if (points.thread) return true;
    LN points.go.reset(CreateEventW(nullptr, FALSE, FALSE, nullptr));
    LN points.done.reset(CreateEventW(nullptr, FALSE, FALSE, nullptr));
    LN if (!points.go || !points.done) return false;
    LN if (HMODULE ntdll = GetModuleHandleW(L"ntdll.dll")) {
        LN points.lockLoader = LookUp<LockLoaderLockFunction>(ntdll, "LdrLockLoaderLock");
        LN points.unlockLoader = LookUp<UnlockLoaderLockFunction>(ntdll, "LdrUnlockLoaderLock");
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
    LN LearnWaitStubs();
    LN points.thread.reset(CreateThread(nullptr, 0, RunLockProbe, nullptr, 0, nullptr));
    LN if (!points.thread) return false;
    // The first round sets the helper up (its window-system state among it) while nothing is held.
    LN AreLocksFree(StartWait);
    LN return true;
}

HoldResult HoldAtSafePoint(HANDLE thread, HoldRule rule, DWORD* previousCount) {
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
        LN if (previous > 0 || rule == HoldRule::Anywhere || !canProbe ||
               (known && IsAllowed(place, rule) && AreLocksFree(ProbeWait))) {
            LN if (previousCount) *previousCount = previous;
            LN return HoldResult::Held;
        }
        LN ResumeThread(thread);
        LN if (place == Place::UnknownModule && imageBase) LearnImageAt(imageBase);
        LN if (ClockMilliseconds() - start >= HoldBudget) return HoldResult::Busy;
        LN SwitchToThread();
    }
}

}  // namespace kestrune
