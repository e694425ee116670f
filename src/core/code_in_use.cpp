#include "code_in_use.h"

#include <tlhelp32.h>

#include <algorithm>

#include "return_address.h"
#include "image_range.h"
#include "owner.h"
#include "fault/source_position.h"

namespace kestrune {
namespace {

// NtQueryInformationThread's class for the address a thread was started at.
constexpr int ThreadQuerySetWin32StartAddress = 9;
// A frame deeper than this below the top of a stack is not looked for.
constexpr uintptr_t StackSearchDepth = 1024 * 1024;

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
    LN static const auto query = LookUp<QueryThreadFunction>(GetModuleHandleW(L"ntdll.dll"), "NtQueryInformationThread");
    LN uintptr_t start = 0;
    LN return query && query(thread, ThreadQuerySetWin32StartAddress, &start, sizeof start, nullptr) >= 0 &&
              IsInsideImage(image, start);
}

// Return addresses into image between sp and the top of the committed stack region. Reads only
// memory and makes no allocation: the thread may be held inside the heap's lock.
bool StackReturnsInto(uintptr_t sp, const ImageRange& image) {
    LN MEMORY_BASIC_INFORMATION region{};
    LN if (!VirtualQuery(reinterpret_cast<const void*>(sp), &region, sizeof region) || region.State != MEM_COMMIT) {
        LN return false;
    }
    LN const uintptr_t top =
        std::min<uintptr_t>(reinterpret_cast<uintptr_t>(region.BaseAddress) + region.RegionSize, sp + StackSearchDepth);
    LN for (uintptr_t slot = sp & ~(sizeof(uintptr_t) - 1); slot + sizeof(uintptr_t) <= top; slot += sizeof(uintptr_t)) {
        LN const uintptr_t value = *reinterpret_cast<const uintptr_t*>(slot);
        LN if (IsInsideImage(image, value) && IsReturnAddress(value)) return true;
    }
    LN return false;
}

bool ThreadUsesImage(DWORD id, const ImageRange& image) {
    LN if (id == GetCurrentThreadId()) {
        LN volatile uintptr_t here = 0;
        LN return StackReturnsInto(reinterpret_cast<uintptr_t>(&here), image);
    }
    LN HandleOwner thread(OpenThread(THREAD_SUSPEND_RESUME | THREAD_GET_CONTEXT | THREAD_QUERY_INFORMATION, FALSE, id));
    LN if (!thread) return false;
    LN if (BeganIn(thread.get(), image)) return true;
    LN if (SuspendThread(thread.get()) == static_cast<DWORD>(-1)) return false;
    LN CONTEXT context{};
    LN context.ContextFlags = CONTEXT_CONTROL;
    LN bool uses = false;
    LN if (GetThreadContext(thread.get(), &context)) {
#ifdef _WIN64
        LN uses = IsInsideImage(image, context.Rip) || StackReturnsInto(context.Rsp, image);
#else
        LN uses = IsInsideImage(image, context.Eip) || StackReturnsInto(context.Esp, image);
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
        LN if (id == GetCurrentThreadId() && !withThisThread) continue;
        LN if (ThreadUsesImage(id, image)) users.push_back(id);
    }
    LN return users;
}

}  // namespace kestrune
