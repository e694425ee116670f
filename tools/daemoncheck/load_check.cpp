#include <utility>

#include "check.h"
#include "core/application.h"
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

}  // namespace

namespace {

// The host's search for a daemon's dependencies, in its order: the program's folder (which
// is also its DLL directory), the system folders, PATH; never the current directory.
std::wstring HostSearchPath() {
    wchar_t buffer[MAX_PATH * 4] = {};
    DWORD length = GetModuleFileNameW(nullptr, buffer, MAX_PATH * 4);
    std::wstring program(buffer, length);
    std::wstring path = program.substr(0, program.find_last_of(L"\\/") + 1);
    if (GetSystemDirectoryW(buffer, MAX_PATH)) path += std::wstring(L";") + buffer;
    if (GetWindowsDirectoryW(buffer, MAX_PATH)) path += std::wstring(L";") + buffer;
    DWORD size = GetEnvironmentVariableW(L"PATH", nullptr, 0);
    if (size > 1) {
        std::wstring variable(size, L'\0');
        variable.resize(GetEnvironmentVariableW(L"PATH", variable.data(), size));
        path += L";" + variable;
    }
    return path;
}

// Looked up by name, never loaded: a search of its own, since a data-file load may also
// look in the current directory (so under Wine).
bool HostFinds(const std::wstring& name, const std::wstring& searchPath) {
    if (GetModuleHandleW(name.c_str())) return true;
    // API sets are resolved by the loader itself, not found as files.
    if (_wcsnicmp(name.c_str(), L"api-ms-", 7) == 0 || _wcsnicmp(name.c_str(), L"ext-ms-", 7) == 0) return true;
    wchar_t found[MAX_PATH];
    return SearchPathW(searchPath.c_str(), name.c_str(), nullptr, MAX_PATH, found, nullptr) != 0;
}

}  // namespace

// The DLLs it imports that the host's search would not find. LoadLibraryW with a full
// path does not search the daemon's own folder for them, and the host has taken the
// current directory out of its search.
std::vector<std::wstring> MissingImports(const Check& check) {
    std::vector<std::wstring> missing;
    const std::wstring searchPath = HostSearchPath();
    for (const std::string& name : check.image.imports) {
        std::wstring wide = kestrune::FromUtf8(name);
        if (!HostFinds(wide, searchPath)) missing.push_back(wide);
    }
    return missing;
}

std::wstring LoadFailureText(const Check& check) {
    DWORD error = check.facts.loadError;
    if (check.facts.entryPointNotCode)
        return L"EntryPoint names no code of a loaded image (a damaged export table?): the host refuses the DLL";
    if (error == 0) return L"no EntryPoint export: the host frees the DLL again and does not list it";
    std::wstring text = L"LoadLibraryW failed with error " + std::to_wstring(error) + L": " + SystemMessage(error);
    std::wstring machine = MachineMismatch(check.image);
    if (!machine.empty()) text += L" (" + machine + L")";
    return text;
}

namespace {

const wchar_t MissingImportText[] =
    L", which is not on the host's search path (the program's folder, the system folders, PATH; neither the "
    L"daemon's own folder nor the current directory is searched)";

void ReportLoadFailure(Check& check) {
    Report(check.findings, Level::Fail, "load", LoadFailureText(check));
    DWORD error = check.facts.loadError;
    if (error == ERROR_DLL_INIT_FAILED)
        Report(check.findings, Level::Info, "load", L"its DllMain (or that of a DLL it needs) returned FALSE");
    if (error != ERROR_MOD_NOT_FOUND) return;
    for (const std::wstring& name : MissingImports(check))
        Report(check.findings, Level::Fail, "load", L"needs " + name + MissingImportText);
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
               L"not exported: the host cannot ask the daemon to stop; Stop and Quit end it by force, terminating "
               L"its thread, and keep its library mapped, so its own clean-up and its DllMain detach never run");
    } else {
        Report(check.findings, Level::Fail, "EntryState", LostStateWordText(check));
    }
}

void JudgeEntryMenu(Check& check) {
    const auto& facts = check.facts;
    if (check.daemon->entryMenuAddress) {
        Report(check.findings, Level::Ok, "EntryMenu",
               L"at " + Hex(facts.entryMenu) + L": the host asks it for a menu");
    } else if (!facts.entryMenu) {
        Report(check.findings, Level::Info, "EntryMenu", L"not exported: the daemon offers no menu");
    } else {
        Report(check.findings, Level::Fail, "EntryMenu", IgnoredMenuText(check));
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

std::wstring LostStateWordText(const Check& check) {
    const auto& facts = check.facts;
    if (!facts.entryState || (check.daemon && check.daemon->stateWordAddress)) return {};
    if (facts.entryStateNotCode)
        return L"at " + Hex(facts.entryState) + L" names no code of a loaded image: the host never calls it";
    if (facts.stateWordNotWritable)
        return L"returned " + Hex(facts.stateWordReturned) +
               L", which is not a writable, aligned 32-bit word: the host ignores it and cannot stop the daemon "
               L"gracefully";
    if (!facts.entryStateCalled)
        return L"at " + Hex(facts.entryState) + L", below the bound " + Hex(facts.bound) +
               L": the host never calls it and cannot stop the daemon gracefully (" + BelowBoundHint(check) + L")";
    if (!facts.stateWordReturned)
        return L"returned 0: the host has no state word and cannot stop the daemon gracefully";
    return L"returned " + Hex(facts.stateWordReturned) + L", below the bound " + Hex(facts.bound) +
           L": the host ignores it and cannot stop the daemon gracefully (the state word must be a variable of the "
           L"DLL that lies above its ordinal-1 export)";
}

std::wstring IgnoredMenuText(const Check& check) {
    const auto& facts = check.facts;
    if (!facts.entryMenu || (check.daemon && check.daemon->entryMenuAddress)) return {};
    if (facts.entryMenuNotCode)
        return L"at " + Hex(facts.entryMenu) + L" names no code of a loaded image: the host ignores it";
    return L"at " + Hex(facts.entryMenu) + L", below the bound " + Hex(facts.bound) + L": the host ignores it (" +
           BelowBoundHint(check) + L")";
}

void LoadAndJudge(Check& check) {
    check.stage = Stage::Loading;
    kestrune::DaemonOwner loaded = kestrune::LoadDaemon(check.options.path, &check.facts);
    check.stage = Stage::Running;
    // Into the host's table, as the host's loading puts it: the host's ticks unload it from there.
    if (loaded) check.daemon = kestrune::app.DaemonTable.emplace_back(std::move(loaded)).get();
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
