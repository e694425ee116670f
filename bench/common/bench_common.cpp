#include "bench_common.h"

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cwchar>

#include "temp_folder.h"

namespace bench {

LONGLONG Now() {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return now.QuadPart;
}

double Milliseconds(LONGLONG ticks) {
    static const double frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return static_cast<double>(f.QuadPart);
    }();
    return 1000.0 * static_cast<double>(ticks) / frequency;
}

double MillisecondsSince(LONGLONG start) {
    return Milliseconds(Now() - start);
}

namespace {

// The value below which the given share of the sorted values lie, by linear interpolation.
double Quantile(const std::vector<double>& sorted, double share) {
    if (sorted.empty()) return -1;
    double position = share * static_cast<double>(sorted.size() - 1);
    size_t below = static_cast<size_t>(std::floor(position));
    size_t above = std::min(below + 1, sorted.size() - 1);
    double weight = position - static_cast<double>(below);
    return sorted[below] * (1 - weight) + sorted[above] * weight;
}

}  // namespace

Summary Summarise(std::vector<double> values) {
    values.erase(std::remove_if(values.begin(), values.end(), [](double v) { return v < 0; }), values.end());
    std::sort(values.begin(), values.end());
    Summary summary;
    summary.count = values.size();
    if (values.empty()) {
        summary.median = summary.p90 = summary.min = summary.max = -1;
        return summary;
    }
    summary.median = Quantile(values, 0.5);
    summary.p90 = Quantile(values, 0.9);
    summary.min = values.front();
    summary.max = values.back();
    return summary;
}

double Median(std::vector<double> values) {
    return Summarise(std::move(values)).median;
}

double ThreadCpuMilliseconds(HANDLE thread) {
    FILETIME creation, exit, kernel, user;
    if (!GetThreadTimes(thread, &creation, &exit, &kernel, &user)) return -1;
    auto count = [](FILETIME t) { return (static_cast<ULONGLONG>(t.dwHighDateTime) << 32) | t.dwLowDateTime; };
    return static_cast<double>(count(kernel) + count(user)) / 10000.0;
}

std::wstring ProgramFolder() {
    wchar_t path[MAX_PATH];
    DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring full(path, length);
    return full.substr(0, full.find_last_of(L"\\/") + 1);
}

int Arguments::Number(const wchar_t* name, int fallback) const {
    for (const auto& option : options) {
        if (option.first == name) return _wtoi(option.second.c_str());
    }
    return fallback;
}

bool Arguments::Has(const wchar_t* name) const {
    for (const auto& option : options) {
        if (option.first == name) return true;
    }
    return false;
}

Arguments ParseArguments(int argc, wchar_t** argv) {
    Arguments arguments;
    for (int i = 1; i < argc; ++i) {
        std::wstring word = argv[i];
        if (word.rfind(L"--", 0) == 0) {
            std::wstring value = i + 1 < argc && std::wstring(argv[i + 1]).rfind(L"--", 0) != 0 ? argv[++i] : L"";
            if (word == L"--csv") {
                arguments.csv = value;
            } else {
                arguments.options.emplace_back(word.substr(2), value);
            }
        } else {
            arguments.counts.push_back(_wtoi(word.c_str()));
        }
    }
    return arguments;
}

double LoadAverage() {
    // Wine shows the Linux root as Z:.
    const std::string text = kestrune::test::ReadFileBytes(L"Z:\\proc\\loadavg");
    double load = -1;
    return std::sscanf(text.c_str(), "%lf", &load) == 1 ? load : -1;
}

std::string LocalTimestamp() {
    SYSTEMTIME now;
    GetLocalTime(&now);
    char text[32];
    std::snprintf(text, sizeof text, "%04u-%02u-%02u %02u:%02u", now.wYear, now.wMonth, now.wDay, now.wHour,
                  now.wMinute);
    return text;
}

Csv OpenCsv(const Arguments& arguments, const char* header) {
    Csv csv;
    if (!arguments.csv.empty()) {
        csv.file = _wfopen(arguments.csv.c_str(), L"w");
        csv.owned = csv.file != nullptr;
    }
    if (!csv.file) csv.file = stdout;
    std::fprintf(csv.file, "# measured %s\n%s\n", LocalTimestamp().c_str(), header);
    std::fflush(csv.file);
    return csv;
}

void WriteCsv(Csv& csv, const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    std::vfprintf(csv.file, format, arguments);
    va_end(arguments);
    std::fputc('\n', csv.file);
    std::fflush(csv.file);
    if (csv.owned) {
        // Echoed, so whoever runs the benchmark sees progress.
        va_start(arguments, format);
        std::vprintf(format, arguments);
        va_end(arguments);
        std::putchar('\n');
        std::fflush(stdout);
    }
}

void CloseCsv(Csv& csv) {
    if (csv.owned) std::fclose(csv.file);
    csv = Csv{};
}

}  // namespace bench
