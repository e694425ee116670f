#include "core/code_in_use.h"

#include <windows.h>

#include <tlhelp32.h>

#include <algorithm>

#include "core/image_range.h"
#include "core/owner.h"
#include "core/return_address.h"

#include "fault/source_position.h"

namespace kestrune {
namespace {

// NtQueryInformationThread's class for the address a thread was started at.
constexpr int ThreadQuerySetWin32StartAddress = 9;

using QueryThreadFunction = LONG(NTAPI*)(HANDLE thread, int informationClass, PVOID buffer, ULONG size, PULONG done);

std::vector<DWORD> ThreadsOfThisProcess() {
    LN std::vector<DWORD> threads;
    LN HANDLE list = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    LN if (list == INVALID_HANDLE_VALUE) return threads;
    LN HandleOwner snapshot(list);
    LN THREADENTRY32 entry{};
    LN entry.dwSize = sizeof entry;
    LN const DWORD self = GetCurrentProcessId();
    LN for (BOOL more = Thread32First(snapshot.get(), &entry); more; more = Thread32Next(snapshot.get(), &entry)) {
        LN if (entry.th32OwnerProcessID == self) threads.push_back(entry.th32ThreadID);
    }
    LN return threads;
}

bool BeganIn(HANDLE thread, const ImageRange& image) {
    LN static const auto query =
        LookUp<QueryThreadFunction>(GetModuleHandleW(L"ntdll.dll"), "NtQueryInformationThread");
    LN uintptr_t start = 0;
    LN return query && query(thread, ThreadQuerySetWin32StartAddress, &start, sizeof start, nullptr) >= 0 &&
        IsInsideImage(image, start);
}

#ifdef _WIN64
constexpr int MostFrames = 256;

// The unwind entry of the function that holds ip, from the image's own exception data: the
// system's lookup takes the loader's lock, which a held thread may hold.
PRUNTIME_FUNCTION FunctionHolding(DWORD64 ip, DWORD64& imageBase) {
    LN MEMORY_BASIC_INFORMATION region{};
    LN if (!VirtualQuery(reinterpret_cast<const void*>(ip), &region, sizeof region) || region.Type != MEM_IMAGE) {
        LN return nullptr;
    }
    LN const auto* base = static_cast<const BYTE*>(region.AllocationBase);
    LN const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    LN const auto* headers = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    LN const IMAGE_DATA_DIRECTORY& data = headers->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXCEPTION];
    LN auto* first = reinterpret_cast<PRUNTIME_FUNCTION>(const_cast<BYTE*>(base) + data.VirtualAddress);
    LN auto* last = first + data.Size / sizeof(RUNTIME_FUNCTION);
    LN const auto rva = static_cast<DWORD>(ip - reinterpret_cast<DWORD64>(base));
    LN auto* found = std::upper_bound(first, last, rva, [](DWORD value, const RUNTIME_FUNCTION& function) {
        LN return value < function.BeginAddress;
    });
    LN imageBase = reinterpret_cast<DWORD64>(base);
    LN if (data.VirtualAddress == 0 || found == first || rva >= (found - 1)->EndAddress) return nullptr;
    LN return found - 1;
}

// Walks the thread's frames from its context by each image's unwind data: only true frames,
// none of the old return addresses that a stack keeps in slots its frames leave unwritten.
bool FramesReturnInto(CONTEXT context, const ImageRange& image) {
    LN for (int frame = 0; frame < MostFrames && context.Rip != 0; ++frame) {
        LN if (IsInsideImage(image, context.Rip)) return true;
        LN DWORD64 base = 0;
        LN PRUNTIME_FUNCTION function = FunctionHolding(context.Rip, base);
        LN if (!function) {
            // A function without unwind data leaves the stack as it found it: its return address is on top.
            LN if (!ReadOwnMemory(context.Rsp, &context.Rip, sizeof context.Rip)) return false;
            LN context.Rsp += sizeof context.Rip;
            LN continue;
        }
        LN PVOID handlerData = nullptr;
        LN DWORD64 establisher = 0;
        LN RtlVirtualUnwind(UNW_FLAG_NHANDLER, base, context.Rip, function, &context, &handlerData, &establisher,
                            nullptr);
    }
    LN return false;
}
#else
// Return addresses into image between sp and the top of the committed stack region. Old ones in
// slots a frame leaves unwritten count too: used only where keeping a library in doubt is
// harmless. Reads only memory and makes no allocation.
bool StackReturnsInto(uintptr_t sp, const ImageRange& image) {
    LN MEMORY_BASIC_INFORMATION region{};
    LN if (!VirtualQuery(reinterpret_cast<const void*>(sp), &region, sizeof region) || region.State != MEM_COMMIT) {
        LN return false;
    }
    LN const uintptr_t top = reinterpret_cast<uintptr_t>(region.BaseAddress) + region.RegionSize;
    LN for (uintptr_t slot = sp & ~(sizeof(uintptr_t) - 1); slot + sizeof(uintptr_t) <= top;
            slot += sizeof(uintptr_t)) {
        LN const uintptr_t value = *reinterpret_cast<const uintptr_t*>(slot);
        LN if (IsInsideImage(image, value) && IsReturnAddress(value)) return true;
    }
    LN return false;
}
#endif

// The calling thread's own frames.
bool ThisThreadUsesImage(const ImageRange& image) {
#ifdef _WIN64
    LN CONTEXT context{};
    LN RtlCaptureContext(&context);
    LN return FramesReturnInto(context, image);
#else
    LN volatile uintptr_t here = 0;
    LN return StackReturnsInto(reinterpret_cast<uintptr_t>(&here), image);
#endif
}

// Another thread: where it began and stands, and on x64 its frames. The 32-bit system keeps no
// unwind data, and a guess at its frames from old stack slots would keep libraries for nothing;
// a thread of the library that waits there now is caught by the quarantine when it comes back.
bool ThreadUsesImage(DWORD id, const ImageRange& image) {
    LN if (id == GetCurrentThreadId()) return ThisThreadUsesImage(image);
    LN HandleOwner thread(OpenThread(THREAD_SUSPEND_RESUME | THREAD_GET_CONTEXT | THREAD_QUERY_INFORMATION, FALSE, id));
    LN if (!thread) return false;
    LN if (BeganIn(thread.get(), image)) return true;
    LN if (SuspendThread(thread.get()) == static_cast<DWORD>(-1)) return false;
    LN CONTEXT context{};
    LN context.ContextFlags = CONTEXT_FULL;
    LN bool uses = false;
    LN if (GetThreadContext(thread.get(), &context)) {
#ifdef _WIN64
        LN uses = FramesReturnInto(context, image);
#else
        LN uses = IsInsideImage(image, context.Eip);
#endif
    }
    LN ResumeThread(thread.get());
    LN return uses;
}

}  // namespace

std::vector<DWORD> ThreadsUsingImage(const ImageRange& image, const std::vector<DWORD>& passOver, bool withThisThread) {
    LN std::vector<DWORD> users;
    LN for (DWORD id : ThreadsOfThisProcess()) {
        LN if (std::find(passOver.begin(), passOver.end(), id) != passOver.end()) continue;
        // On x64 its frames are read exactly, so it is always looked at.
        LN if (id == GetCurrentThreadId() && !withThisThread && sizeof(void*) == 4) continue;
        LN if (ThreadUsesImage(id, image)) users.push_back(id);
    }
    LN return users;
}

}  // namespace kestrune
