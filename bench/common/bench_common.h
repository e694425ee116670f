// What every benchmark program needs: the clock, medians and percentiles, a command line
// of counts and options, and CSV output to a file or to standard output.
#pragma once

#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

namespace bench {

// Performance-counter ticks; every process of the machine reads the same counter.
LONGLONG Now();
double Milliseconds(LONGLONG ticks);
double MillisecondsSince(LONGLONG start);

struct Summary {
    double median = 0, p90 = 0, min = 0, max = 0;
    size_t count = 0;
};
// Figures below 0 are failed measurements and are left out.
Summary Summarise(std::vector<double> values);
double Median(std::vector<double> values);

// The processor time a thread has used, in milliseconds.
double ThreadCpuMilliseconds(HANDLE thread);

// The folder of the running program, ending in "\".
std::wstring ProgramFolder();

struct Arguments {
    std::vector<int> counts;  // the bare numbers of the command line
    std::wstring csv;         // --csv PATH: where the results go (standard output by default)
    std::vector<std::pair<std::wstring, std::wstring>> options;  // --name value

    int Number(const wchar_t* name, int fallback) const;
    bool Has(const wchar_t* name) const;
};
Arguments ParseArguments(int argc, wchar_t** argv);

// CSV rows, flushed as they are written, so a run cut short keeps what it measured.
struct Csv {
    FILE* file = nullptr;
    bool owned = false;
};
Csv OpenCsv(const Arguments& arguments, const char* header);
void WriteCsv(Csv& csv, const char* format, ...);
void CloseCsv(Csv& csv);

// The machine's load average over the last minute, or -1 when the system does not say:
// the machine is shared, and every result row notes how busy it was.
double LoadAverage();

// "2025-01-31 14:05" in local time, for the comment line that opens every result file.
std::string LocalTimestamp();

}  // namespace bench
