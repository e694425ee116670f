#include "test_daemons.h"

#include <windows.h>

#include <algorithm>
#include <thread>

#include "temp_folder.h"

namespace kestrune::test {

std::wstring ProgramFolder() {
    wchar_t path[MAX_PATH];
    DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring full(path, length);
    return full.substr(0, full.find_last_of(L"\\/") + 1);
}

std::wstring TestDaemonPath(const std::wstring& name) {
    return ProgramFolder() + L"..\\test-daemons\\" + name + L".dll";
}

std::wstring CopyTestDaemon(const std::wstring& name, const std::wstring& destination) {
    size_t separator = destination.find_last_of(L'\\');
    if (separator != std::wstring::npos) CreateFolders(destination.substr(0, separator + 1));
    CopyFileW(TestDaemonPath(name).c_str(), destination.c_str(), FALSE);
    return destination;
}

namespace {

std::vector<std::string> ReadLines(const std::wstring& path) {
    std::vector<std::string> lines;
    const std::string content = ReadFileBytes(path);
    size_t start = 0;
    for (size_t end; (end = content.find('\n', start)) != std::string::npos; start = end + 1) {
        lines.push_back(content.substr(start, end - start));
    }
    return lines;
}

}  // namespace

std::vector<std::string> ReadEvents(const std::wstring& dllPath) {
    return ReadLines(dllPath + L".log");
}

int CountEvents(const std::wstring& dllPath, const std::string& prefix) {
    int count = 0;
    for (const std::string& event : ReadEvents(dllPath)) count += event.compare(0, prefix.size(), prefix) == 0;
    return count;
}

long long LastNumber(const std::wstring& dllPath, const std::string& event) {
    long long number = -1;
    for (const std::string& line : ReadEvents(dllPath)) {
        if (line.size() > event.size() + 1 && line.compare(0, event.size() + 1, event + " ") == 0) {
            number = std::stoll(line.substr(event.size() + 1));
        }
    }
    return number;
}

long long EventTime(const std::wstring& dllPath, const std::string& event) {
    for (const std::string& line : ReadLines(dllPath + L".times")) {
        if (line.size() > event.size() && line.compare(0, event.size(), event) == 0 && line[event.size()] == ' ') {
            return std::stoll(line.substr(event.size() + 1));
        }
    }
    return -1;
}

bool HasEvent(const std::wstring& dllPath, const std::string& event) {
    auto events = ReadEvents(dllPath);
    return std::find(events.begin(), events.end(), event) != events.end();
}

int CountFullReports(const std::wstring& dllPath, const std::string& event) {
    int count = 0;
    for (const std::string& line : ReadLines(dllPath + L".times")) {
        size_t stamp = line.rfind(' ');
        count += stamp != std::string::npos && line.compare(0, stamp, event) == 0;
    }
    return count;
}

bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        if (condition()) return true;
        if (std::chrono::steady_clock::now() >= deadline) return condition();
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

bool WaitForEvent(const std::wstring& dllPath, const std::string& event, std::chrono::milliseconds timeout) {
    return WaitUntil([&] { return HasEvent(dllPath, event); }, timeout);
}

bool WaitForEntry(const std::wstring& dllPath, std::chrono::milliseconds timeout) {
    return WaitUntil([&] { return CountFullReports(dllPath, "entry") > 0; }, timeout);
}

bool IsModuleLoaded(const std::wstring& dllPath) {
    return GetModuleHandleW(dllPath.c_str()) != nullptr;
}

}  // namespace kestrune::test
