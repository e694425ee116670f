// What another process holds at one moment, counted from outside: handles, GUI
// objects, private bytes, its threads and its modules.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

namespace kestrune::test {

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
    std::vector<DWORD> threads;         // ids, ascending
    std::vector<std::wstring> modules;  // full paths, in letter case as loaded, sorted
};

// Counts process (opened with query and read access by the caller or here).
ProcessCensus TakeCensus(DWORD processId);

// Entries of after that are not in before.
std::vector<DWORD> ThreadsAdded(const ProcessCensus& before, const ProcessCensus& after);
std::vector<std::wstring> ModulesAdded(const ProcessCensus& before, const ProcessCensus& after);

// The module that holds the start address of a thread of another process, or "?".
std::wstring ThreadStartModule(DWORD processId, DWORD threadId);

// after less before.
long long HandleChange(const ProcessCensus& before, const ProcessCensus& after);
long long PrivateBytesChange(const ProcessCensus& before, const ProcessCensus& after);

// "handles +0, private bytes +32 KiB, ...": every figure's change.
std::string DescribeCensusChange(const ProcessCensus& before, const ProcessCensus& after);

// One line of figures: "handles 120, GDI 0, USER 0, private 3.40 MiB, ...".
std::string DescribeCensus(const ProcessCensus& census);

}  // namespace kestrune::test
