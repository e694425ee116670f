#include <algorithm>

#include "check.h"
#include "core/utf8.h"

namespace daemoncheck {
namespace {

const char* const EntryNames[] = {"EntryPoint", "EntryState", "EntryMenu"};

std::string LowerCase(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](char c) { return static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c); });
    return text;
}

std::wstring Wide(const std::string& text) {
    return kestrune::FromUtf8(text);
}

// Why an export that looks like an entry is not found under the entry's exact name.
std::wstring LookalikeHint(const std::string& exported) {
    if (exported.find('@') != std::string::npos)
        return L"a decorated 32-bit stdcall name: write KESTRUNE_EXPORT_ENTRY_MENU from kestrune/daemon.h, or "
               L"export the plain name with a .def file";
    if (exported.rfind("_Z", 0) == 0 || exported.rfind("?", 0) == 0)
        return L"a C++ name: declare it extern \"C\", as KESTRUNE_EXPORT does";
    return L"export names are looked up exactly, letter case included";
}

void ReportLookalikes(Check& check, const std::string& entry) {
    if (FindExport(check.image, entry)) return;
    std::string key = LowerCase(entry);
    for (const PeExport& exported : check.image.exports) {
        if (exported.name.empty() || LowerCase(exported.name).find(key) == std::string::npos) continue;
        Report(check.findings, Level::Fail, "exports",
               L"exports \"" + Wide(exported.name) + L"\" but no \"" + Wide(entry) +
                   L"\", the name the host looks up (" + LookalikeHint(exported.name) + L")");
    }
}

void ReportExportList(Check& check) {
    std::wstring listed;
    for (const char* entry : EntryNames) {
        const PeExport* found = FindExport(check.image, entry);
        if (!listed.empty()) listed += L", ";
        listed += Wide(entry);
        listed += found ? L" (ordinal " + std::to_wstring(found->ordinal) + L")" : L" not exported";
    }
    Report(check.findings, Level::Info, "exports", listed);
    for (const char* entry : EntryNames) ReportLookalikes(check, entry);
}

}  // namespace

std::wstring MachineMismatch(const PeImage& image) {
    if (!image.problem.empty()) return {};
    const std::wstring ownBits = OwnMachine() == MachineX64 ? L"64-bit" : L"32-bit";
    if (!image.isDll) return L"a program, not a DLL";
    if (image.machine == MachineX64 && OwnMachine() == MachineX86)
        return L"64-bit DLL cannot load into the 32-bit host";
    if (image.machine == MachineX86 && OwnMachine() == MachineX64)
        return L"32-bit DLL cannot load into the 64-bit host";
    if (image.machine != OwnMachine())
        return DescribeMachine(image.machine) + L" DLL cannot load into the " + ownBits + L" host";
    return {};
}

void ExamineFile(Check& check) {
    check.image = ReadPeImage(check.options.path);
    Findings& findings = check.findings;
    if (!check.image.problem.empty()) {
        Report(findings, Level::Fail, "file", L"the file " + check.image.problem);
        return;
    }
    const std::wstring ownBits = OwnMachine() == MachineX64 ? L"64-bit" : L"32-bit";
    std::wstring mismatch = MachineMismatch(check.image);
    if (!mismatch.empty()) {
        Report(findings, Level::Fail, "file", mismatch);
    } else {
        Report(findings, Level::Ok, "file", ownBits + L" DLL, as the " + ownBits + L" host needs");
    }
    ReportExportList(check);
    const PeExport* first = FindOrdinal(check.image, 1);
    if (first && first->forwarded) {
        Report(findings, Level::Warn, "bound",
               L"the export with ordinal 1 is forwarded to another DLL, so the bound is an address in that DLL");
    }
}

}  // namespace daemoncheck
