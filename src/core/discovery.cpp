#include "core/discovery.h"

#define PCRE2_CODE_UNIT_WIDTH 8
#include <windows.h>

#include <pcre2.h>

#include <utility>

#include "core/application.h"
#include "core/file_info.h"
#include "core/owner.h"
#include "core/program_path.h"

#include "fault/source_position.h"

namespace kestrune {

// The pattern is compiled without UTF checks, so it must only ever see valid UTF-8: a lone
// surrogate becomes U+FFFD, as WideCharToMultiByte makes it. Written out because that call
// costs several times this loop on names this short, once per entry of every folder.
size_t EncodeFileName(const wchar_t* name, char* out) {
    LN char* end = out;
    LN for (; *name; ++name) {
        LN uint32_t c = static_cast<uint16_t>(*name);
        LN if (c < 0x80) {
            LN *end++ = static_cast<char>(c);
            continue;
        }
        LN if (c < 0x800) {
            LN *end++ = static_cast<char>(0xC0 | (c >> 6));
            LN *end++ = static_cast<char>(0x80 | (c & 0x3F));
            continue;
        }
        LN uint32_t next = static_cast<uint16_t>(name[1]);
        LN if (c >= 0xD800 && c < 0xDC00 && next >= 0xDC00 && next < 0xE000) {
            LN c = 0x10000 + ((c - 0xD800) << 10) + (next - 0xDC00);
            LN ++name;
            LN *end++ = static_cast<char>(0xF0 | (c >> 18));
            LN *end++ = static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            LN *end++ = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            LN *end++ = static_cast<char>(0x80 | (c & 0x3F));
            continue;
        }
        LN if (c >= 0xD800 && c < 0xE000) c = 0xFFFD;
        LN *end++ = static_cast<char>(0xE0 | (c >> 12));
        LN *end++ = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        LN *end++ = static_cast<char>(0x80 | (c & 0x3F));
    }
    LN return static_cast<size_t>(end - out);
}

namespace {

constexpr int GrowthStep = 2048;

// Compiled once per outermost scan, with one match block that serves every name of the
// scan instead of one allocated and freed per name.
void CompileScanPattern(ScanState& scan, const char* pattern) {
    LN int error = 0;
    LN PCRE2_SIZE offset = 0;
    LN pcre2_code* code = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(pattern), PCRE2_ZERO_TERMINATED,
                                        PCRE2_UTF | PCRE2_NO_UTF_CHECK, &error, &offset, nullptr);
    LN scan.pattern = code;
    LN scan.matchData = code ? pcre2_match_data_create_from_pattern(code, nullptr) : nullptr;
}

void ReleaseScanPattern(ScanState& scan) {
    LN pcre2_match_data_free(scan.matchData);
    LN pcre2_code_free(scan.pattern);
    LN scan.matchData = nullptr;
    LN scan.pattern = nullptr;
}

bool NameMatches(const ScanState& scan, const wchar_t* name) {
    LN if (!scan.pattern || !scan.matchData) return false;
    // A name has fewer than MAX_PATH UTF-16 units, and none takes more than 3 bytes.
    LN char utf8[MAX_PATH * 3];
    LN size_t size = EncodeFileName(name, utf8);
    LN int result = pcre2_match(scan.pattern, reinterpret_cast<PCRE2_SPTR>(utf8), size, 0, PCRE2_NO_UTF_CHECK,
                                scan.matchData, nullptr);
    LN return result >= 0;
}

// The folder path followed by the name, in one allocation.
void StorePath(std::wstring& slot, const std::wstring& folder, const wchar_t* name) {
    LN size_t length = wcslen(name);
    LN slot.reserve(folder.size() + length);
    LN slot.assign(folder).append(name, length);
}

bool IsDotEntry(const wchar_t* name) {
    LN return wcscmp(name, L".") == 0 || wcscmp(name, L"..") == 0;
}

struct Observer {
    DiscoveryObserver notify = nullptr;
    void* context = nullptr;
};

int ScanFolderObserved(std::wstring folder, std::vector<std::wstring>& paths, const char* pattern, int maxDepth,
                       const Observer& observer);

EntryDecision DecideEntry(const ScanState& scan, const WIN32_FIND_DATAW& entry, int maxDepth) {
    LN if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        LN return NameMatches(scan, entry.cFileName) ? EntryDecision::Accepted : EntryDecision::NameRejected;
    }
    LN if (IsDotEntry(entry.cFileName)) return EntryDecision::DotEntry;
    LN return scan.level <= maxDepth || maxDepth == -1 ? EntryDecision::FolderEntered : EntryDecision::FolderTooDeep;
}

void ScanListing(const std::wstring& folder, std::vector<std::wstring>& paths, const char* pattern, int maxDepth,
                 const Observer& observer) {
    LN WIN32_FIND_DATAW entry;
    LN FindOwner listing(FindFirstFileW((folder + L"*.*").c_str(), &entry));
    LN if (!listing) {
        LN DWORD error = GetLastError();
        LN if (observer.notify) observer.notify(observer.context, folder, nullptr, EntryDecision::ListingFailed, error);
        LN return;
    }
    LN ScanState& scan = app.scan;
    LN ++scan.level;
    LN do {
        LN EntryDecision decision = DecideEntry(scan, entry, maxDepth);
        LN if (observer.notify) observer.notify(observer.context, folder, entry.cFileName, decision, 0);
        LN if (decision == EntryDecision::Accepted) {
            LN ++scan.accepted;
            LN if (scan.accepted >= scan.capacity) {
                LN scan.capacity += GrowthStep;
                LN paths.resize(static_cast<size_t>(scan.capacity) + 1);
            }
            LN StorePath(paths[static_cast<size_t>(scan.accepted)], folder, entry.cFileName);
        } else if (decision == EntryDecision::FolderEntered) {
            LN ScanFolderObserved(folder + entry.cFileName, paths, pattern, maxDepth, observer);
        }
    } while (FindNextFileW(listing.get(), &entry));
    LN --scan.level;
}

int ScanFolderObserved(std::wstring folder, std::vector<std::wstring>& paths, const char* pattern, int maxDepth,
                       const Observer& observer) {
    LN ScanState& scan = app.scan;
    LN if (scan.level == 0) {
        LN scan.accepted = 0;
        LN scan.capacity = 0;
        LN CompileScanPattern(scan, pattern);
    }
    LN for (wchar_t& c : folder) {
        LN if (c == L'/') c = L'\\';
    }
    LN if (folder.empty() || folder.back() != L'\\') folder += L'\\';
    LN ScanListing(folder, paths, pattern, maxDepth, observer);
    LN if (scan.level != 0) return 0;
    LN ReleaseScanPattern(scan);
    LN if (scan.accepted == 0) return 0;
    LN paths.resize(static_cast<size_t>(scan.accepted) + 1);
    LN return scan.accepted;
}

}  // namespace

std::wstring DaemonBaseFolder() {
    LN std::wstring module = ProgramPath();
    LN size_t separator = module.find_last_of(L"\\/");
    LN std::wstring folder = separator == std::wstring::npos ? std::wstring() : module.substr(0, separator + 1);
    LN return folder + L"wild_magic\\";
}

void DiscoverDaemons(std::vector<std::wstring>& paths) {
    LN DiscoverDaemonsIn(DaemonBaseFolder(), paths);
}

void DiscoverDaemonsIn(const std::wstring& baseFolder, std::vector<std::wstring>& paths) {
    LN paths.assign(1, std::wstring());
    LN FileInfo base = QueryFile(baseFolder);
    LN if (base.exists && base.isFolder) {
        LN ScanFolder(baseFolder, paths, DaemonFilePattern, 1);
        LN return;
    }
    LN std::wstring folder = baseFolder;
    LN while (!folder.empty() && (folder.back() == L' ' || folder.back() == L'\\' || folder.back() == L'/'))
        folder.pop_back();
    LN CreateDirectoryW(folder.c_str(), nullptr);
}

int ScanFolder(std::wstring folder, std::vector<std::wstring>& paths, const char* pattern, int maxDepth) {
    LN return ScanFolderObserved(std::move(folder), paths, pattern, maxDepth, Observer{});
}

bool IsDaemonFileName(const wchar_t* name) {
    LN ScanState scan;
    LN CompileScanPattern(scan, DaemonFilePattern);
    LN bool matches = NameMatches(scan, name);
    LN ReleaseScanPattern(scan);
    LN return matches;
}

bool WalkDaemonFolder(const std::wstring& baseFolder, std::vector<std::wstring>& paths, DiscoveryObserver observer,
                      void* context) {
    LN paths.assign(1, std::wstring());
    LN FileInfo base = QueryFile(baseFolder);
    LN if (!base.exists || !base.isFolder) return false;
    LN ScanFolderObserved(baseFolder, paths, DaemonFilePattern, 1, Observer{observer, context});
    LN return true;
}

}  // namespace kestrune
