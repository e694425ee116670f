#include "check.h"
#include "core/discovery.h"

namespace daemoncheck {
namespace {

constexpr wchar_t BaseName[] = L"wild_magic";

bool SameText(const std::wstring& a, const std::wstring& b) {
    return CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(), static_cast<int>(b.size()), TRUE) ==
           CSTR_EQUAL;
}

std::wstring FullPath(const std::wstring& path) {
    DWORD size = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (size == 0) return path;
    std::wstring full(size, L'\0');
    DWORD length = GetFullPathNameW(path.c_str(), size, full.data(), nullptr);
    full.resize(length < size ? length : 0);
    return full.empty() ? path : full;
}

// The folders of a path, outermost first, each ending in "\"; the last one holds the file.
std::vector<std::wstring> FoldersOf(const std::wstring& path) {
    std::vector<std::wstring> folders;
    for (size_t at = path.find_first_of(L"\\/"); at != std::wstring::npos; at = path.find_first_of(L"\\/", at + 1))
        folders.push_back(path.substr(0, at + 1));
    return folders;
}

std::wstring LastFolderName(const std::wstring& folder) {
    std::wstring trimmed = folder.substr(0, folder.size() - 1);
    return trimmed.substr(trimmed.find_last_of(L"\\/") + 1);
}

struct Sighting {
    std::wstring file;  // the file looked for
    bool accepted = false;
    bool listed = false;
    DWORD listingError = 0;  // when the file's own folder could not be listed
};

void Sight(void* context, const std::wstring& folder, const wchar_t* name, kestrune::EntryDecision decision,
           DWORD error) {
    auto& sighting = *static_cast<Sighting*>(context);
    if (decision == kestrune::EntryDecision::ListingFailed) {
        if (SameText(folder, sighting.file.substr(0, folder.size()))) sighting.listingError = error;
        return;
    }
    if (!SameText(folder + name, sighting.file)) return;
    sighting.listed = true;
    sighting.accepted = decision == kestrune::EntryDecision::Accepted;
}

// Runs the host's own walk of base and says whether it takes the file.
void ConfirmWithWalk(Check& check, const std::wstring& base, const std::wstring& file) {
    Sighting sighting{file};
    std::vector<std::wstring> paths;
    kestrune::WalkDaemonFolder(base, paths, Sight, &sighting);
    std::wstring relative = file.substr(base.size());
    if (sighting.accepted) {
        Report(check.findings, Level::Ok, "discovery",
               L"the host discovers it as wild_magic\\" + relative + L" (" + std::to_wstring(paths.size() - 1) +
                   L" DLLs discovered in " + base + L")");
    } else if (sighting.listingError) {
        Report(check.findings, Level::Fail, "discovery",
               L"the host cannot list its folder (error " + std::to_wstring(sighting.listingError) +
                   L"; a path too long?): it is never discovered");
    } else {
        Report(check.findings, Level::Fail, "discovery",
               L"the host's walk of " + base + L" does not " + (sighting.listed ? L"take" : L"list") +
                   L" it: it is never discovered");
    }
}

}  // namespace

void JudgeDiscovery(Check& check) {
    std::wstring file = FullPath(check.options.path);
    std::wstring name = kestrune::FilePartOf(file);
    if (!kestrune::IsDaemonFileName(name.c_str())) {
        Report(check.findings, Level::Fail, "discovery",
               L"the host never discovers \"" + name +
                   L"\": it takes only files whose names end in \".dll\", in lower case");
        return;
    }
    std::vector<std::wstring> folders = FoldersOf(file);
    // The nearest folder named wild_magic is the one beside the host's program.
    for (size_t depth = 0; depth < folders.size(); ++depth) {
        const std::wstring& folder = folders[folders.size() - 1 - depth];
        if (!SameText(LastFolderName(folder), BaseName)) continue;
        if (depth > 1) {
            Report(check.findings, Level::Fail, "discovery",
                   L"it lies " + std::to_wstring(depth) +
                       L" folders below wild_magic\\: the host looks only in wild_magic\\ and the folders directly "
                       L"inside it, so it is never discovered");
            return;
        }
        ConfirmWithWalk(check, folder, file);
        return;
    }
    Report(check.findings, Level::Info, "discovery",
           L"not in a wild_magic folder: the host discovers daemons only in wild_magic\\ beside kestrune.exe and the "
           L"folders directly inside it");
}

}  // namespace daemoncheck
