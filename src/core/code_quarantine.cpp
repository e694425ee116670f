#include "core/code_quarantine.h"

#include <atomic>
#include <cstdint>

#include "fault/source_position.h"

namespace kestrune {
namespace {

// A few libraries at a time are in quarantine: one per daemon that ended within its period.
// Fixed places, since the exception handler that reads them runs on any thread, at any time,
// perhaps inside the heap's lock: it may neither allocate nor take a lock.
constexpr size_t Places = 64;
constexpr size_t MostSections = 16;
// The library's entry point and its thread-local-storage callbacks, which the loader calls for
// every thread that starts or ends in the process.
constexpr size_t MostNotifiers = 8;
// A place whose handler let a thread through this often without the code staying accessible
// gives up, so that a failing protection change cannot loop for ever.
constexpr LONG MostPassages = 1000;

struct Section {
    uintptr_t base = 0;
    SIZE_T size = 0;
    DWORD protection = 0;
};

struct Place {
    std::atomic<HMODULE> module{nullptr};  // set last when a place is taken, cleared first when it is freed
    uintptr_t begin = 0;
    uintptr_t end = 0;
    Section sections[MostSections];
    size_t sectionCount = 0;
    uintptr_t notifiers[MostNotifiers] = {};
    size_t notifierCount = 0;
    std::atomic<LONG> inaccessible{0};
    std::atomic<LONG> touched{0};
    std::atomic<LONG> passages{0};
};

// File scope: the handler is given no record of its own.
Place places[Places];
std::atomic<PVOID> handler{nullptr};

void MakeAccessible(Place& place) {
    LN for (size_t i = 0; i < place.sectionCount; ++i) {
        LN DWORD old = 0;
        LN VirtualProtect(reinterpret_cast<void*>(place.sections[i].base), place.sections[i].size,
                          place.sections[i].protection, &old);
    }
}

bool IsInsidePlace(const Place& place, uintptr_t address) {
    LN return address >= place.begin && address < place.end;
}

bool IsNotifier(const Place& place, uintptr_t address) {
    LN for (size_t i = 0; i < place.notifierCount; ++i) {
        LN if (place.notifiers[i] == address) return true;
    }
    LN return false;
}

// The loader calls a library's entry point and its thread-local-storage callbacks for every
// thread that starts or ends, whoever runs it: that is no use of the library's code, and its
// answer is of no interest while the daemon has ended. Met at the first instruction, the call
// returns at once as if it had run (TRUE for the entry point; the callbacks return nothing).
bool SkipThreadNotification(CONTEXT* context) {
#ifdef _WIN64
    LN if (context->Rdx != DLL_THREAD_ATTACH && context->Rdx != DLL_THREAD_DETACH) return false;
    LN context->Rip = *reinterpret_cast<const DWORD64*>(context->Rsp);
    LN context->Rsp += sizeof(DWORD64);
    LN context->Rax = TRUE;
#else
    // Three arguments, taken off the stack by the callee.
    LN const auto* stack = reinterpret_cast<const DWORD*>(context->Esp);
    LN if (stack[2] != DLL_THREAD_ATTACH && stack[2] != DLL_THREAD_DETACH) return false;
    LN context->Eip = stack[0];
    LN context->Esp += 4 * sizeof(DWORD);
    LN context->Eax = TRUE;
#endif
    LN return true;
}

// An instruction fetch from code in quarantine, as an access violation at the instruction's own
// address or, on the emulated 32-bit host, as an illegal instruction there. Reads of the code by
// other code (the host's own probes of a stack's return addresses go through a read that fails
// where it cannot read) are not the code running, and are left to whoever expects them.
LONG CALLBACK LetQuarantinedCodeRun(EXCEPTION_POINTERS* pointers) {
    LN const EXCEPTION_RECORD* record = pointers->ExceptionRecord;
    LN const auto instruction = reinterpret_cast<uintptr_t>(record->ExceptionAddress);
    LN const bool access = record->ExceptionCode == EXCEPTION_ACCESS_VIOLATION && record->NumberParameters >= 2 &&
                           static_cast<uintptr_t>(record->ExceptionInformation[1]) == instruction;
    LN const bool fetch = record->ExceptionCode == EXCEPTION_ILLEGAL_INSTRUCTION;
    LN if (!access && !fetch) return EXCEPTION_CONTINUE_SEARCH;
    LN for (Place& place : places) {
        LN if (!place.module.load(std::memory_order_acquire) || !IsInsidePlace(place, instruction)) continue;
        LN if (place.inaccessible.load() && IsNotifier(place, instruction) &&
               SkipThreadNotification(pointers->ContextRecord)) {
            LN return EXCEPTION_CONTINUE_EXECUTION;
        }
        // Either is also another thread's that met the code a moment before a first toucher made
        // it accessible again (two threads returning into it at once): the touch is noted before
        // the code is opened, so that the second finds it noted. Before any touch, an illegal
        // instruction in accessible code is the code's own.
        LN if (place.inaccessible.load()) place.touched.store(1);
        LN const bool wasInaccessible = place.inaccessible.exchange(0) != 0;
        LN const bool retry = access || place.touched.load() != 0;
        LN if (!wasInaccessible &&
               (!retry || place.passages.fetch_add(1) >= MostPassages)) return EXCEPTION_CONTINUE_SEARCH;
        LN MakeAccessible(place);
        LN return EXCEPTION_CONTINUE_EXECUTION;
    }
    LN return EXCEPTION_CONTINUE_SEARCH;
}

Place* FindPlace(HMODULE module) {
    LN for (Place& place : places) {
        LN if (place.module.load(std::memory_order_acquire) == module) return &place;
    }
    LN return nullptr;
}

// The executable sections, from the image's own headers.
bool ReadSections(HMODULE module, Place& place) {
    LN const auto* base = reinterpret_cast<const BYTE*>(module);
    LN const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    LN const auto* headers = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    LN const IMAGE_SECTION_HEADER* section = IMAGE_FIRST_SECTION(headers);
    LN place.sectionCount = 0;
    LN for (WORD i = 0; i < headers->FileHeader.NumberOfSections; ++i, ++section) {
        LN if (!(section->Characteristics & IMAGE_SCN_MEM_EXECUTE) || section->Misc.VirtualSize == 0) continue;
        LN if (place.sectionCount == MostSections) return false;
        LN const uintptr_t start = reinterpret_cast<uintptr_t>(base) + section->VirtualAddress;
        LN MEMORY_BASIC_INFORMATION region{};
        LN if (!VirtualQuery(reinterpret_cast<const void*>(start), &region, sizeof region)) return false;
        LN place.sections[place.sectionCount++] = {start, section->Misc.VirtualSize, region.Protect};
    }
    LN place.begin = reinterpret_cast<uintptr_t>(base);
    LN place.end = place.begin + headers->OptionalHeader.SizeOfImage;
    LN return place.sectionCount > 0;
}

void ReadNotifiers(HMODULE module, Place& place) {
    LN const auto* base = reinterpret_cast<const BYTE*>(module);
    LN const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    LN const auto* headers = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    LN place.notifierCount = 0;
    LN if (headers->OptionalHeader.AddressOfEntryPoint != 0) {
        LN place.notifiers[place.notifierCount++] =
            reinterpret_cast<uintptr_t>(base) + headers->OptionalHeader.AddressOfEntryPoint;
    }
    LN const IMAGE_DATA_DIRECTORY& tls = headers->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_TLS];
    LN if (tls.VirtualAddress == 0) return;
    LN const auto* directory = reinterpret_cast<const IMAGE_TLS_DIRECTORY*>(base + tls.VirtualAddress);
    LN const auto* callbacks = reinterpret_cast<const uintptr_t*>(directory->AddressOfCallBacks);
    LN for (; callbacks && *callbacks && place.notifierCount < MostNotifiers; ++callbacks) {
        LN place.notifiers[place.notifierCount++] = *callbacks;
    }
}

bool MakeInaccessible(Place& place) {
    LN for (size_t i = 0; i < place.sectionCount; ++i) {
        LN DWORD old = 0;
        LN if (!VirtualProtect(reinterpret_cast<void*>(place.sections[i].base), place.sections[i].size, PAGE_NOACCESS,
                               &old)) {
            LN MakeAccessible(place);
            LN return false;
        }
    }
    LN return true;
}

}  // namespace

bool QuarantineCode(HMODULE module) {
    LN if (!module || FindPlace(module)) return false;
    LN if (!handler.load()) handler.store(AddVectoredExceptionHandler(1, LetQuarantinedCodeRun));
    LN if (!handler.load()) return false;
    LN Place* free = FindPlace(nullptr);
    LN if (!free || !ReadSections(module, *free)) return false;
    LN ReadNotifiers(module, *free);
    LN free->touched.store(0);
    LN free->passages.store(0);
    LN free->inaccessible.store(1);
    LN free->module.store(module, std::memory_order_release);
    LN if (MakeInaccessible(*free)) return true;
    LN free->module.store(nullptr, std::memory_order_release);
    LN return false;
}

bool WasCodeTouched(HMODULE module) {
    LN const Place* place = FindPlace(module);
    LN return place && place->touched.load() != 0;
}

bool IsInQuarantine(HMODULE module) {
    LN return module && FindPlace(module) != nullptr;
}

void EndQuarantine(HMODULE module) {
    LN Place* place = module ? FindPlace(module) : nullptr;
    LN if (!place) return;
    LN if (place->inaccessible.exchange(0) != 0) MakeAccessible(*place);
    LN place->module.store(nullptr, std::memory_order_release);
}

}  // namespace kestrune
