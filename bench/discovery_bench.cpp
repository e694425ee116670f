// Times DiscoverDaemons against a bare FindFirstFileW walk of the same tree.
//
// The tree: a wild_magic folder in the temporary folder with 200 sub-folders that hold
// 10,000 daemon-named files and 10,000 others between them. Both walks run several times,
// interleaved, and the medians are reported with their ratio.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "core/discovery.h"
#include "temp_folder.h"

namespace {

constexpr int FolderCount = 200;
constexpr int DaemonFileCount = 10000;
constexpr int OtherFileCount = 10000;
constexpr int DefaultRounds = 9;

// Names that end close to ".dll" without being daemons, so the pattern has work to do.
const wchar_t* const OtherSuffixes[] = {L".txt", L".dll.bak", L".DLL", L".Dll", L".dl", L"dll"};

double Milliseconds(LARGE_INTEGER from, LARGE_INTEGER to) {
    static LARGE_INTEGER frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f;
    }();
    return static_cast<double>(to.QuadPart - from.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
}

bool CreateEmptyFile(const std::wstring& path) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    CloseHandle(file);
    return true;
}

bool BuildTree(const std::wstring& base) {
    if (!CreateDirectoryW(base.c_str(), nullptr)) return false;
    for (int folder = 0; folder < FolderCount; ++folder) {
        std::wstring sub = base + L"folder" + std::to_wstring(folder) + L"\\";
        if (!CreateDirectoryW(sub.c_str(), nullptr)) return false;
        for (int i = folder; i < DaemonFileCount; i += FolderCount) {
            if (!CreateEmptyFile(sub + L"daemon" + std::to_wstring(i) + L".dll")) return false;
        }
        for (int i = folder; i < OtherFileCount; i += FolderCount) {
            const wchar_t* suffix = OtherSuffixes[i % std::size(OtherSuffixes)];
            if (!CreateEmptyFile(sub + L"other" + std::to_wstring(i) + suffix)) return false;
        }
    }
    return true;
}

// The same walk as discovery without looking at names: the base folder and the folders
// directly below it.
int WalkBare(const std::wstring& folder, int level) {
    WIN32_FIND_DATAW entry;
    HANDLE listing = FindFirstFileW((folder + L"*.*").c_str(), &entry);
    if (listing == INVALID_HANDLE_VALUE) return 0;
    int files = 0;
    do {
        if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
            ++files;
        } else if (level < 2 && wcscmp(entry.cFileName, L".") != 0 && wcscmp(entry.cFileName, L"..") != 0) {
            files += WalkBare(folder + entry.cFileName + L"\\", level + 1);
        }
    } while (FindNextFileW(listing, &entry));
    FindClose(listing);
    return files;
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

}  // namespace

int main(int argc, char** argv) {
    int rounds = argc > 1 ? std::atoi(argv[1]) : DefaultRounds;
    if (rounds < 1) rounds = DefaultRounds;

    kestrune::test::TempFolder temp;
    std::wstring base = temp.path() + L"wild_magic\\";
    LARGE_INTEGER start, end;
    QueryPerformanceCounter(&start);
    if (!BuildTree(base)) {
        std::printf("could not build the tree (error %lu)\n", GetLastError());
        return 1;
    }
    QueryPerformanceCounter(&end);
    std::printf("tree: %d sub-folders, %d daemon files, %d others (built in %.0f ms)\n", FolderCount, DaemonFileCount,
                OtherFileCount, Milliseconds(start, end));

    std::vector<std::wstring> paths;
    // One untimed pass of each fills the caches both walks read.
    kestrune::DiscoverDaemonsIn(base, paths);
    int bareFiles = WalkBare(base, 1);
    if (static_cast<int>(paths.size()) != DaemonFileCount + 1 || bareFiles != DaemonFileCount + OtherFileCount) {
        std::printf("wrong counts: discovery %zu, bare walk %d\n", paths.size() - 1, bareFiles);
        return 1;
    }

    std::vector<double> discovery, bare;
    for (int round = 0; round < rounds; ++round) {
        QueryPerformanceCounter(&start);
        kestrune::DiscoverDaemonsIn(base, paths);
        QueryPerformanceCounter(&end);
        discovery.push_back(Milliseconds(start, end));

        QueryPerformanceCounter(&start);
        bareFiles = WalkBare(base, 1);
        QueryPerformanceCounter(&end);
        bare.push_back(Milliseconds(start, end));
    }
    double discoveryMedian = Median(discovery);
    double bareMedian = Median(bare);
    std::printf("rounds: %d\n", rounds);
    std::printf("DiscoverDaemons:        median %8.2f ms (min %.2f, max %.2f)\n", discoveryMedian,
                *std::min_element(discovery.begin(), discovery.end()),
                *std::max_element(discovery.begin(), discovery.end()));
    std::printf("bare FindFirstFileW walk: median %8.2f ms (min %.2f, max %.2f)\n", bareMedian,
                *std::min_element(bare.begin(), bare.end()), *std::max_element(bare.begin(), bare.end()));
    std::printf("ratio discovery / bare walk: %.3f (target at most 1.3)\n", discoveryMedian / bareMedian);
    return 0;
}
