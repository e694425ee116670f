#include "check.h"

namespace daemoncheck {
namespace {

void WriteRow(const Check& check, const wchar_t* word, const std::wstring& text) {
    WriteLine(std::wstring(word) + check.options.label + L": " + text);
}

std::wstring NoRowText(const Check& check) {
    std::wstring text = LoadFailureText(check);
    if (check.facts.loadError != ERROR_MOD_NOT_FOUND) return text;
    std::wstring names;
    for (const std::wstring& name : MissingImports(check)) names += (names.empty() ? L"" : L", ") + name;
    if (!names.empty()) text += L"; it needs " + names + L", which the host's search does not find";
    return text;
}

}  // namespace

int RunRowCheck(Check& check) {
    check.image = ReadPeImage(check.options.path);
    check.stage = Stage::Loading;
    kestrune::DaemonOwner daemon = kestrune::LoadDaemon(check.options.path, &check.facts);
    check.daemon = daemon.get();
    check.stage = Stage::Judging;
    if (!check.daemon) {
        WriteRow(check, L"no row  ", NoRowText(check));
        return RowRefused;
    }
    std::wstring lost = LostStateWordText(check);
    std::wstring ignoredMenu = IgnoredMenuText(check);
    const bool hasWord = check.daemon->stateWordAddress != nullptr;
    const bool hasMenu = check.daemon->entryMenuAddress != nullptr;
    check.stage = Stage::Unloading;
    kestrune::UnloadDaemon(std::move(daemon));  // never started: only its library goes, into quarantine
    check.daemon = nullptr;
    check.stage = Stage::Judging;
    if (!lost.empty()) {
        WriteRow(check, L"row     ", L"but its state word is lost: EntryState " + lost);
        return RowLost;
    }
    if (!ignoredMenu.empty()) {
        WriteRow(check, L"row     ", L"but its menu is lost: EntryMenu " + ignoredMenu);
        return RowWarned;
    }
    if (!hasWord) {
        WriteRow(check, L"row     ",
                 L"without a state word: no EntryState, so Stop and Quit terminate its thread and its DllMain "
                 L"detach never runs");
        return RowWarned;
    }
    WriteRow(check, L"row     ", std::wstring(L"with its state word") + (hasMenu ? L" and its menu" : L", no menu"));
    return RowKept;
}

}  // namespace daemoncheck
