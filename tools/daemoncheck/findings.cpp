#include "findings.h"

#include <windows.h>

#include <cstring>

#include "core/utf8.h"

namespace daemoncheck {
namespace {

const wchar_t* LevelWord(Level level) {
    switch (level) {
    case Level::Ok:
        return L"ok  ";
    case Level::Warn:
        return L"WARN";
    case Level::Fail:
        return L"FAIL";
    default:
        return L"info";
    }
}

}  // namespace

void WriteLine(const std::wstring& text) {
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    std::wstring line = text + L"\r\n";
    DWORD mode = 0, written = 0;
    // A console takes UTF-16 as it is; a file or pipe gets UTF-8.
    if (GetConsoleMode(out, &mode)) {
        WriteConsoleW(out, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
        return;
    }
    std::string bytes = kestrune::ToUtf8(line);
    // Written at once, unbuffered, so the lines made before a daemon crashes the process stay.
    WriteFile(out, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

void Report(Findings& findings, Level level, const char* topic, const std::wstring& text) {
    if (level == Level::Fail) ++findings.failures;
    if (level == Level::Warn) ++findings.warnings;
    std::wstring wideTopic(topic, topic + strlen(topic));
    WriteLine(std::wstring(LevelWord(level)) + L" " + wideTopic + L": " + text);
}

int WriteVerdict(const Findings& findings) {
    std::wstring counts = std::to_wstring(findings.failures) +
                          (findings.failures == 1 ? L" failure, " : L" failures, ") +
                          std::to_wstring(findings.warnings) + (findings.warnings == 1 ? L" warning" : L" warnings");
    WriteLine(std::wstring(L"verdict: ") + (findings.failures ? L"FAIL" : L"PASS") + L" (" + counts + L")");
    return findings.failures ? 1 : 0;
}

std::wstring Hex(uintptr_t value) {
    wchar_t text[24];
    if (sizeof(uintptr_t) == 8) {
        wsprintfW(text, L"0x%08X%08X", static_cast<unsigned>(static_cast<uint64_t>(value) >> 32),
                  static_cast<unsigned>(value & 0xFFFFFFFFu));
    } else {
        wsprintfW(text, L"0x%08X", static_cast<unsigned>(value));
    }
    return text;
}

std::wstring Hex(const void* address) {
    return Hex(reinterpret_cast<uintptr_t>(address));
}

}  // namespace daemoncheck
