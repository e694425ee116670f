#include "discovery.h"

#define PCRE2_CODE_UNIT_WIDTH 8
#include <pcre2.h>

#include <windows.h>

#include "application.h"
#include "file_info.h"
#include "owner.h"

namespace kestrune {

// The pattern is compiled without UTF checks, so it must only ever see valid UTF-8: a lone
// surrogate becomes U+FFFD, as WideCharToMultiByte makes it. Written out because that call
// costs several times this loop on names this short, once per entry of every folder.
size_t EncodeFileName(const wchar_t* name, char* out) {
    char* end = out;
    for (; *name; ++name) {
        uint32_t c = static_cast<uint16_t>(*name);
        if (c < 0x80) {
            *end++ = static_cast<char>(c);
            continue;
        }
        if (c < 0x800) {
            *end++ = static_cast<char>(0xC0 | (c >> 6));
            *end++ = static_cast<char>(0x80 | (c & 0x3F));
            continue;
        }
        uint32_t next = static_cast<uint16_t>(name[1]);
        if (c >= 0xD800 && c < 0xDC00 && next >= 0xDC00 && next < 0xE000) {
            c = 0x10000 + ((c - 0xD800) << 10) + (next - 0xDC00);
            ++name;
            *end++ = static_cast<char>(0xF0 | (c >> 18));
            *end++ = static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            *end++ = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            *end++ = static_cast<char>(0x80 | (c & 0x3F));
            continue;
        }
        if (c >= 0xD800 && c < 0xE000) c = 0xFFFD;
        *end++ = static_cast<char>(0xE0 | (c >> 12));
        *end++ = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        *end++ = static_cast<char>(0x80 | (c & 0x3F));
    }
    return static_cast<size_t>(end - out);
}

namespace {

constexpr int GrowthStep = 2048;

// Compiled once per outermost scan, with one match block that serves every name of the
// scan instead of one allocated and freed per name.
void CompileScanPattern(ScanState& scan, const char* pattern) {
    int error = 0;
    PCRE2_SIZE offset = 0;
    pcre2_code* code = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(pattern), PCRE2_ZERO_TERMINATED,
                                     PCRE2_UTF | PCRE2_NO_UTF_CHECK, &error, &offset, nullptr);
    scan.pattern = code;
    scan.matchData = code ? pcre2_match_data_create_from_pattern(code, nullptr) : nullptr;
}

void ReleaseScanPattern(ScanState& scan) {
    pcre2_match_data_free(static_cast<pcre2_match_data*>(scan.matchData));
    pcre2_code_free(static_cast<pcre2_code*>(scan.pattern));
    scan.matchData = nullptr;
    scan.pattern = nullptr;
}

bool NameMatches(const ScanState& scan, const wchar_t* name) {
    if (!scan.pattern || !scan.matchData) return false;
    // A name has fewer than MAX_PATH UTF-16 units, and none takes more than 3 bytes.
    char utf8[MAX_PATH * 3];
    size_t size = EncodeFileName(name, utf8);
    int result = pcre2_match(static_cast<const pcre2_code*>(scan.pattern), reinterpret_cast<PCRE2_SPTR>(utf8), size, 0,
                             PCRE2_NO_UTF_CHECK, static_cast<pcre2_match_data*>(scan.matchData), nullptr);
    return result >= 0;
}

// The folder path followed by the name, in one allocation.
void StorePath(std::wstring& slot, const std::wstring& folder, const wchar_t* name) {
    size_t length = wcslen(name);
    slot.reserve(folder.size() + length);
    slot.assign(folder).append(name, length);
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
        if (!isFolder && NameMatches(scan, entry.cFileName)) {
            ++scan.accepted;
            if (scan.accepted >= scan.capacity) {
                scan.capacity += GrowthStep;
                paths.resize(static_cast<size_t>(scan.capacity) + 1);
            }
            StorePath(paths[static_cast<size_t>(scan.accepted)], folder, entry.cFileName);
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
        CompileScanPattern(scan, pattern);
    }
    for (wchar_t& c : folder) {
        if (c == L'/') c = L'\\';
    }
    if (folder.empty() || folder.back() != L'\\') folder += L'\\';
    ScanListing(folder, paths, pattern, maxDepth);
    if (scan.level != 0) return 0;
    ReleaseScanPattern(scan);
    if (scan.accepted == 0) return 0;
    paths.resize(static_cast<size_t>(scan.accepted) + 1);
    return scan.accepted;
}

}  // namespace kestrune
