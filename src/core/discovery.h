// Finding daemon libraries in wild_magic\ and the folders directly below it.
#pragma once

#include <windows.h>

#include <cstddef>
#include <string>
#include <vector>

struct pcre2_real_code_8;
struct pcre2_real_match_data_8;

namespace kestrune {

// State of one outermost folder scan, shared by its nested calls.
struct ScanState {
    int level = 0;
    int accepted = 0;
    int capacity = 0;
    pcre2_real_code_8* pattern = nullptr;          // the compiled pattern while a scan runs
    pcre2_real_match_data_8* matchData = nullptr;  // one match block for every name of the scan
};

// The file-name pattern that selects daemon libraries.
constexpr const char* DaemonFilePattern = ".*?\\.dll$";

// Writes name (null-terminated UTF-16) as UTF-8 into out, which holds 3 bytes per UTF-16
// unit; a lone surrogate becomes U+FFFD. Returns the number of bytes, without a terminator.
size_t EncodeFileName(const wchar_t* name, char* out);

// The folder of the running program followed by "wild_magic\".
std::wstring DaemonBaseFolder();

// Fills paths from the base folder; creates the folder when it is missing.
void DiscoverDaemons(std::vector<std::wstring>& paths);

// The same for a given base folder.
void DiscoverDaemonsIn(const std::wstring& baseFolder, std::vector<std::wstring>& paths);

// Appends the folder's files whose names match pattern, entering sub-folders
// down to maxDepth levels (-1: no limit). The outermost call returns the
// number of files accepted, or 0 when none was.
int ScanFolder(std::wstring folder, std::vector<std::wstring>& paths, const char* pattern, int maxDepth);

// What a scan makes of one entry of a folder listing.
enum class EntryDecision {
    Accepted,       // a file whose name matches the pattern: recorded
    NameRejected,   // a file whose name does not match
    FolderEntered,  // a sub-folder within the depth limit: listed in its turn
    FolderTooDeep,  // a sub-folder beyond the depth limit: never listed
    DotEntry,       // "." or "..": never entered
    ListingFailed,  // the folder itself could not be listed: name is null, error says why
};

// Told of every entry of every listing a walk opens, in the walk's order. folder ends in "\".
using DiscoveryObserver = void (*)(void* context, const std::wstring& folder, const wchar_t* name,
                                   EntryDecision decision, DWORD error);

// Whether discovery takes a file of this name (the name alone, without its folder).
bool IsDaemonFileName(const wchar_t* name);

// Walks baseFolder exactly as DiscoverDaemonsIn does and tells observer each decision; a
// missing base folder is not created. False when baseFolder is no folder.
bool WalkDaemonFolder(const std::wstring& baseFolder, std::vector<std::wstring>& paths, DiscoveryObserver observer,
                      void* context);

}  // namespace kestrune
