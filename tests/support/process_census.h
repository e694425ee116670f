// What another process holds at one moment, counted from outside: handles, GUI
// objects, private bytes, its threads and its modules.
#pragma once

#include <windows.h>

#include <compare>
#include <cstdint>
#include <string>
#include <vector>

#include "process_probe.h"

namespace kestrune::test {

// One thread as the census saw it, known and ordered by its identity.
struct CensusThread {
    probe::ThreadIdentity identity;
    std::wstring startModule;  // the module holding its start address, or "?"

    friend auto operator<=>(const CensusThread& a, const CensusThread& b) { return a.identity <=> b.identity; }
    friend bool operator==(const CensusThread& a, const CensusThread& b) { return a.identity == b.identity; }
};

struct ProcessCensus {
    bool taken = false;
    // From the system's handle table; GetProcessHandleCount answers 0 under Wine.
    bool handleTableRead = false;
    size_t handles = 0;
    DWORD gdiObjects = 0;   // 0 under Wine, which keeps no count
    DWORD userObjects = 0;  // likewise
    // The commit charge (PrivateUsage; Wine leaves it 0 and fills PagefileUsage, which
    // Windows keeps equal to it), and the committed private regions counted one by one.
    uint64_t privateBytes = 0;
    bool privateUsageReported = false;
    uint64_t committedPrivate = 0;
    // Windows of the process, children and message-only ones included: the USER objects
    // that can be counted from outside where GetGuiResources answers 0.
    size_t windows = 0;
    std::vector<CensusThread> threads;  // ascending; those that ended while counted left out
    std::vector<std::wstring> modules;  // full paths, in letter case as loaded, sorted
};

// Counts process (opened with query and read access by the caller or here).
ProcessCensus TakeCensus(DWORD processId);

// Entries of after that are not in before.
std::vector<CensusThread> ThreadsAdded(const ProcessCensus& before, const ProcessCensus& after);
std::vector<std::wstring> ModulesAdded(const ProcessCensus& before, const ProcessCensus& after);

// after less before.
long long HandleChange(const ProcessCensus& before, const ProcessCensus& after);
long long PrivateBytesChange(const ProcessCensus& before, const ProcessCensus& after);

// "handles +0, private bytes +32 KiB, ...": every figure's change.
std::string DescribeCensusChange(const ProcessCensus& before, const ProcessCensus& after);

// One line of figures: "handles 120, GDI 0, USER 0, private 3.40 MiB, ...".
std::string DescribeCensus(const ProcessCensus& census);

// "1a4 started in C:\windows\system32\ntdll.dll": one line per thread.
std::vector<std::string> DescribeThreads(const ProcessCensus& census);

}  // namespace kestrune::test
