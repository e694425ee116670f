#include "check.h"
#include "core/utf8.h"

namespace daemoncheck {
namespace {

using kestrune::Daemon;

std::wstring SystemMessage(DWORD error) {
    wchar_t* text = nullptr;
    DWORD length =
        FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                       nullptr, error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::wstring message = length && text ? std::wstring(text, length) : std::wstring();
    if (text) LocalFree(text);
    // Messages with an insert name the file as %1.
    for (size_t at; (at = message.find(L"%1")) != std::wstring::npos;) message.replace(at, 2, L"the file");
    while (!message.empty() && (message.back() == L'\n' || message.back() == L'\r' || message.back() == L' '))
        message.pop_back();
    return message;
}

// The DLLs it imports that the host's search would not find. LoadLibraryW with a
// full path does not search the daemon's own folder for them.
void ReportMissingImports(Check& check) {
    for (const std::string& name : check.image.imports) {
        std::wstring wide = kestrune::FromUtf8(name);
        HMODULE found = LoadLibraryExW(wide.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
        if (found) {
            FreeLibrary(found);
            continue;
        }
        Report(check.findings, Level::Fail, "load",
               L"needs " + wide +
                   L", which is not on the host's search path (the program's folder, the system "
                   L"folders, PATH; the daemon's own folder is not searched)");
    }
}

void ReportLoadFailure(Check& check) {
    DWORD error = check.facts.loadError;
    if (check.facts.entryPointNotCode) {
        Report(check.findings, Level::Fail, "load",
               L"EntryPoint names no code of a loaded image (a damaged export table?): the host refuses the DLL");
        return;
    }
    if (error == 0) {
        Report(check.findings, Level::Fail, "load",
               L"no EntryPoint export: the host frees the DLL again and does not list it");
        return;
    }
    Report(check.findings, Level::Fail, "load",
           L"LoadLibraryW failed with error " + std::to_wstring(error) + L": " + SystemMessage(error));
    if (error == ERROR_DLL_INIT_FAILED)
        Report(check.findings, Level::Info, "load", L"its DllMain (or that of a DLL it needs) returned FALSE");
    if (error == ERROR_MOD_NOT_FOUND) ReportMissingImports(check);
}

// How to get an export above the bound. Linkers number named exports in name
// order, so with EntryMenu exported the bound is EntryMenu, not EntryPoint.
std::wstring BelowBoundHint(const Check& check) {
    const PeExport* first = FindOrdinal(check.image, 1);
    if (!first || first->name.empty()) return L"give ordinal 1 to the function defined first, in a .def file";
    return L"the export with ordinal 1 is " + kestrune::FromUtf8(first->name) +
           L": define it first in the source, or give ordinal 1 to the function defined first, in a .def file";
}

void JudgeBound(Check& check) {
    const void* bound = check.facts.bound;
    if (!bound) {
        Report(check.findings, Level::Info, "bound",
               L"no export with ordinal 1: the bound is 0, so every non-zero address passes");
        return;
    }
    const PeExport* first = FindOrdinal(check.image, 1);
    std::wstring name = first && !first->name.empty() ? kestrune::FromUtf8(first->name) : L"an unnamed export";
    Report(check.findings, Level::Info, "bound",
           L"the export with ordinal 1 is " + name + L" at " + Hex(bound) +
               L"; EntryState, its state word and EntryMenu must lie at or above it");
}

void JudgeEntryState(Check& check) {
    const auto& facts = check.facts;
    const Daemon& daemon = *check.daemon;
    if (daemon.stateWordAddress) {
        Report(check.findings, Level::Ok, "EntryState",
               L"at " + Hex(facts.entryState) + L", returned " + Hex(const_cast<LONG*>(daemon.stateWordAddress)) +
                   L": the host writes 255 there to ask the daemon to stop");
    } else if (!facts.entryState) {
        Report(check.findings, Level::Warn, "EntryState",
               L"not exported: the host cannot ask the daemon to stop; Stop and Quit unload it at once and "
               L"terminate its thread, so its own clean-up never runs");
    } else if (facts.entryStateNotCode) {
        Report(check.findings, Level::Fail, "EntryState",
               L"at " + Hex(facts.entryState) + L" names no code of a loaded image: the host never calls it");
    } else if (facts.stateWordNotWritable) {
        Report(check.findings, Level::Fail, "EntryState",
               L"returned " + Hex(facts.stateWordReturned) +
                   L", which is not a writable, aligned 32-bit word: the host ignores it and cannot stop the "
                   L"daemon gracefully");
    } else if (!facts.entryStateCalled) {
        Report(check.findings, Level::Fail, "EntryState",
               L"at " + Hex(facts.entryState) + L", below the bound " + Hex(facts.bound) +
                   L": the host never calls it and cannot stop the daemon gracefully (" + BelowBoundHint(check) + L")");
    } else if (!facts.stateWordReturned) {
        Report(check.findings, Level::Fail, "EntryState",
               L"returned 0: the host has no state word and cannot stop the daemon gracefully");
    } else {
        Report(check.findings, Level::Fail, "EntryState",
               L"returned " + Hex(facts.stateWordReturned) + L", below the bound " + Hex(facts.bound) +
                   L": the host ignores it and cannot stop the daemon gracefully (the state word must be a "
                   L"variable of the DLL that lies above its ordinal-1 export)");
    }
}

void JudgeEntryMenu(Check& check) {
    const auto& facts = check.facts;
    if (check.daemon->entryMenuAddress) {
        Report(check.findings, Level::Ok, "EntryMenu",
               L"at " + Hex(facts.entryMenu) + L": the host asks it for a menu");
    } else if (!facts.entryMenu) {
        Report(check.findings, Level::Info, "EntryMenu", L"not exported: the daemon offers no menu");
    } else if (facts.entryMenuNotCode) {
        Report(check.findings, Level::Fail, "EntryMenu",
               L"at " + Hex(facts.entryMenu) + L" names no code of a loaded image: the host ignores it");
    } else {
        Report(check.findings, Level::Fail, "EntryMenu",
               L"at " + Hex(facts.entryMenu) + L", below the bound " + Hex(facts.bound) + L": the host ignores it (" +
                   BelowBoundHint(check) + L")");
    }
}

// Where the daemon's image lies, read from its own mapped headers.
void RecordModuleRange(Check& check) {
    check.module = check.daemon->library.get();
    auto base = reinterpret_cast<const unsigned char*>(check.module);
    auto dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    auto nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    check.moduleStart = reinterpret_cast<uintptr_t>(base);
    check.moduleEnd = check.moduleStart + nt->OptionalHeader.SizeOfImage;
}

}  // namespace

void LoadAndJudge(Check& check) {
    check.daemon = kestrune::LoadDaemon(check.options.path, &check.facts);
    if (!check.daemon) {
        ReportLoadFailure(check);
        return;
    }
    RecordModuleRange(check);
    Report(check.findings, Level::Ok, "load",
           L"loaded at " + Hex(check.moduleStart) + L"; EntryPoint at " +
               Hex(reinterpret_cast<void*>(check.daemon->entryPointAddress)) +
               L" (EntryPoint is not compared with the bound)");
    JudgeBound(check);
    JudgeEntryState(check);
    JudgeEntryMenu(check);
}

}  // namespace daemoncheck
