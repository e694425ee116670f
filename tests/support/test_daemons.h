// The test daemons built beside the test programs, and what they report.
#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace kestrune::test {

// The folder of the running test program, ending in "\".
std::wstring ProgramFolder();

// The built test daemon name.dll.
std::wstring TestDaemonPath(const std::wstring& name);

// Copies test daemon name.dll to destination (a full file path); creates parent folders.
std::wstring CopyTestDaemon(const std::wstring& name, const std::wstring& destination);

// The events a test daemon copied to dllPath has reported so far, in order.
std::vector<std::string> ReadEvents(const std::wstring& dllPath);

// How many events a daemon has reported that begin with prefix.
int CountEvents(const std::wstring& dllPath, const std::string& prefix);

// The number a daemon reported after "event ", the last time; -1 when never.
long long LastNumber(const std::wstring& dllPath, const std::string& event);

// The performance-counter reading of the first time event was reported, or -1.
long long EventTime(const std::wstring& dllPath, const std::string& event);

bool HasEvent(const std::wstring& dllPath, const std::string& event);

// How many times event was reported in full: Report writes the ".times" line last.
int CountFullReports(const std::wstring& dllPath, const std::string& event);

// Polls until condition holds or timeout passes; returns the last result.
bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout = std::chrono::seconds(20));

bool WaitForEvent(const std::wstring& dllPath, const std::string& event,
                  std::chrono::milliseconds timeout = std::chrono::seconds(20));

// Waits until the daemon has reported "entry" in full: the report's file calls, which take
// the system's locks, are then behind it, so suspending or terminating it cannot catch it
// inside one of them.
bool WaitForEntry(const std::wstring& dllPath, std::chrono::milliseconds timeout = std::chrono::seconds(20));

// True when a module with this path is loaded in the test process.
bool IsModuleLoaded(const std::wstring& dllPath);

}  // namespace kestrune::test
