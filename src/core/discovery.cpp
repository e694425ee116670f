#include "discovery.h"

#define PCRE2_CODE_UNIT_WIDTH 8
#include <pcre2.h>

#include <windows.h>

#include "application.h"
#include "file_info.h"
#include "owner.h"
#include "utf8.h"

namespace kestrune {
namespace {

constexpr int GrowthStep = 2048;

pcre2_code* CompilePattern(const char* pattern) {
    int error = 0;
    PCRE2_SIZE offset = 0;
    return pcre2_compile(reinterpret_cast<PCRE2_SPTR>(pattern), PCRE2_ZERO_TERMINATED, PCRE2_UTF | PCRE2_NO_UTF_CHECK,
                         &error, &offset, nullptr);
}

bool NameMatches(pcre2_code* pattern, const wchar_t* name) {
    if (!pattern) return false;
    std::string utf8 = ToUtf8(name);
    pcre2_match_data* match = pcre2_match_data_create_from_pattern(pattern, nullptr);
    if (!match) return false;
    int result = pcre2_match(pattern, reinterpret_cast<PCRE2_SPTR>(utf8.data()), utf8.size(), 0, PCRE2_NO_UTF_CHECK,
                             match, nullptr);
    pcre2_match_data_free(match);
    return result >= 0;
}

bool IsDotEntry(const wchar_t* name) {
    return wcscmp(name, L".") == 0 || wcscmp(name, L"..") == 0;
}

void ScanListing(const std::wstring& folder, std::vector<std::wstring>& paths, const char* pattern, int maxDepth) {
    WIN32_FIND_DATAW entry;
    FindOwner listing(FindFirstFileW((folder + L"*.*").c_str(), &entry));
    if (!listing) return;
    ScanState& scan = app.scan;
    ++scan.level;
    do {
        bool isFolder = (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        if (!isFolder && NameMatches(static_cast<pcre2_code*>(scan.pattern), entry.cFileName)) {
            ++scan.accepted;
            if (scan.accepted >= scan.capacity) {
                scan.capacity += GrowthStep;
                paths.resize(static_cast<size_t>(scan.capacity) + 1);
            }
            paths[static_cast<size_t>(scan.accepted)] = folder + entry.cFileName;
        } else if (isFolder && (scan.level <= maxDepth || maxDepth == -1) && !IsDotEntry(entry.cFileName)) {
            ScanFolder(folder + entry.cFileName, paths, pattern, maxDepth);
        }
    } while (FindNextFileW(listing.get(), &entry));
    --scan.level;
}

}  // namespace

std::wstring DaemonBaseFolder() {
    std::wstring module(MAX_PATH, L'\0');
    for (;;) {
        DWORD length = GetModuleFileNameW(nullptr, module.data(), static_cast<DWORD>(module.size()));
        if (length < module.size()) {
            module.resize(length);
            break;
        }
        module.resize(module.size() * 2);
    }
    size_t separator = module.find_last_of(L"\\/");
    std::wstring folder = separator == std::wstring::npos ? std::wstring() : module.substr(0, separator + 1);
    return folder + L"wild_magic\\";
}

void DiscoverDaemons(std::vector<std::wstring>& paths) {
    DiscoverDaemonsIn(DaemonBaseFolder(), paths);
}

void DiscoverDaemonsIn(const std::wstring& baseFolder, std::vector<std::wstring>& paths) {
    paths.assign(1, std::wstring());
    FileInfo base = QueryFile(baseFolder);
    if (base.exists && base.isFolder) {
        ScanFolder(baseFolder, paths, DaemonFilePattern, 1);
        return;
    }
    std::wstring folder = baseFolder;
    while (!folder.empty() && (folder.back() == L' ' || folder.back() == L'\\' || folder.back() == L'/')) folder.pop_back();
    CreateDirectoryW(folder.c_str(), nullptr);
}

int ScanFolder(std::wstring folder, std::vector<std::wstring>& paths, const char* pattern, int maxDepth) {
    ScanState& scan = app.scan;
    if (scan.level == 0) {
        scan.accepted = 0;
        scan.capacity = 0;
        scan.pattern = CompilePattern(pattern);
    }
    for (wchar_t& c : folder) {
        if (c == L'/') c = L'\\';
    }
    if (folder.empty() || folder.back() != L'\\') folder += L'\\';
    ScanListing(folder, paths, pattern, maxDepth);
    if (scan.level != 0) return 0;
    pcre2_code_free(static_cast<pcre2_code*>(scan.pattern));
    scan.pattern = nullptr;
    if (scan.accepted == 0) return 0;
    paths.resize(static_cast<size_t>(scan.accepted) + 1);
    return scan.accepted;
}

}  // namespace kestrune
