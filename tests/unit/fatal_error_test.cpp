// The fatal error report's text, the fault record and the source position, without
// faulting: the end-to-end tests fault the real host.
#include <windows.h>

#include <fstream>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "core/lifecycle.h"
#include "core/owner.h"
#include "fault/fatal_error.h"
#include "ui/reaper.h"

#include "fault/source_position.h"

namespace kestrune {
namespace {

const std::wstring WideningLine(64, L' ');

std::wstring BuildText(const FaultRecord& record) {
    FatalErrorText text;
    BuildFatalErrorText(record, text);
    EXPECT_EQ(text.length, wcslen(text.characters));
    return std::wstring(text.characters, text.length);
}

std::wstring Widen(std::string_view narrow) {
    return std::wstring(narrow.begin(), narrow.end());
}

// Line number (1-based) of the host source file src/<relative>, read through Wine's Z: drive.
std::string HostSourceLine(const char* relative, uint32_t number) {
    std::string_view self = __FILE__;
    std::string path = "Z:" + std::string(self.substr(0, self.rfind("tests/unit/"))) + "src/" + relative;
    std::ifstream file(path);
    std::string line;
    for (uint32_t at = 1; std::getline(file, line); ++at) {
        if (at == number) return line;
    }
    return "<no line " + std::to_string(number) + " in " + path + ">";
}

TEST(FatalErrorTextTest, EveryCodeGivesItsUpperCasedTextBetweenPlaceAndAddress) {
    const struct {
        DWORD code;
        const wchar_t* text;
    } cases[] = {
        {EXCEPTION_ACCESS_VIOLATION, L"INVALID MEMORY ACCESS"},
        {EXCEPTION_ARRAY_BOUNDS_EXCEEDED, L"ARRAY BOUNDS EXCEEDED"},
        {EXCEPTION_BREAKPOINT, L"DEBUGGER BREAKPOINT REACHED"},
        {EXCEPTION_DATATYPE_MISALIGNMENT, L"MISALIGNED DATA ACCESS"},
        {EXCEPTION_FLT_DENORMAL_OPERAND, L"DENORMAL FLOATING-POINT OPERAND"},
        {EXCEPTION_FLT_DIVIDE_BY_ZERO, L"DIVISION BY ZERO (FLOATING-POINT)"},
        {EXCEPTION_FLT_INEXACT_RESULT, L"INEXACT FLOATING-POINT RESULT"},
        {EXCEPTION_FLT_INVALID_OPERATION, L"INVALID FLOATING-POINT OPERATION"},
        {EXCEPTION_FLT_OVERFLOW, L"FLOATING-POINT OVERFLOW (EXPONENT TO GREAT)"},
        {EXCEPTION_FLT_STACK_CHECK, L"FLOATING-POINT STACK OVERFLOW OR UNDERFLOW"},
        {EXCEPTION_FLT_UNDERFLOW, L"FLOATING-POINT UNDERFLOW (EXPONENT TOO SMALL)"},
        {EXCEPTION_ILLEGAL_INSTRUCTION, L"ILLEGAL INSTRUCTION"},
        {EXCEPTION_IN_PAGE_ERROR, L"MEMORY PAGE ERROR"},
        {EXCEPTION_INT_DIVIDE_BY_ZERO, L"DIVISION BY ZERO "},  // the trailing blank stays
        {EXCEPTION_INT_OVERFLOW, L"INTEGER OVERFLOW"},
        {EXCEPTION_INVALID_DISPOSITION, L"EXCEPTION HANDLER RETURNED UNKNOWN VALUE"},
        {EXCEPTION_NONCONTINUABLE_EXCEPTION, L"EXCEPTION HANDLER TRIED TO CONTINUE AFTER NON-CONTINUABLE EXCEPTION"},
        {EXCEPTION_PRIV_INSTRUCTION, L"PRIVILEGED INSTRUCTION"},
        {EXCEPTION_SINGLE_STEP, L"SINGLE STEP TRAP"},
        {EXCEPTION_STACK_OVERFLOW, L"STACK OVERFLOW"},
        // Codes outside the table, neighbours of codes inside it among them.
        {0, L"UNKNOWN ERROR CODE"},
        {0xE0001234, L"UNKNOWN ERROR CODE"},
        {STATUS_FLOAT_MULTIPLE_FAULTS, L"UNKNOWN ERROR CODE"},
        {EXCEPTION_ACCESS_VIOLATION - 1, L"UNKNOWN ERROR CODE"},
        {DBG_CONTROL_C, L"UNKNOWN ERROR CODE"},
    };
    const uint32_t position = PackSourcePosition("src/core/lifecycle.cpp", 57);
    for (const auto& c : cases) {
        EXPECT_EQ(BuildText({c.code, 0x0000ABCD, position}),
                  L"lifecycle.cpp [57]\r\n" + std::wstring(c.text) + L" [ 0x0000ABCD ]\r\n" + WideningLine)
            << "code 0x" << std::hex << c.code;
    }
}

TEST(FatalErrorTextTest, FirstLineNamesTheFileThatHoldsTheLineAndAddressesKeepEightDigits) {
    // Nothing marked reached yet: the main file and line 0.
    EXPECT_EQ(BuildText({EXCEPTION_BREAKPOINT, 0, 0}),
              L"kestrune.cpp [0]\r\nDEBUGGER BREAKPOINT REACHED [ 0x00000000 ]\r\n" + WideningLine);
    // A position in the main file is the bare line number.
    EXPECT_EQ(PackSourcePosition("/any/folder/kestrune.cpp", 123), 123u);
    EXPECT_EQ(BuildText({EXCEPTION_ACCESS_VIOLATION, 0x10, 123}),
              L"kestrune.cpp [123]\r\nINVALID MEMORY ACCESS [ 0x00000010 ]\r\n" + WideningLine);
    EXPECT_EQ(BuildText({EXCEPTION_ACCESS_VIOLATION, 0x80000010, PackSourcePosition("C:\\src\\ui\\dpi.cpp", 9)}),
              L"dpi.cpp [9]\r\nINVALID MEMORY ACCESS [ 0x80000010 ]\r\n" + WideningLine);
    EXPECT_EQ(BuildText({EXCEPTION_ACCESS_VIOLATION, 0xFFFFFFFF, PackSourcePosition("reaper.cpp", 65535)}),
              L"reaper.cpp [65535]\r\nINVALID MEMORY ACCESS [ 0xFFFFFFFF ]\r\n" + WideningLine);

    // The longest text of every file name fits whole.
    for (uint32_t number = 0; number < SourceFileCount; ++number) {
        FaultRecord record{EXCEPTION_NONCONTINUABLE_EXCEPTION, 0xFFFFFFFF, number << 16 | 0xFFFF};
        std::wstring text = BuildText(record);
        std::wstring name = Widen(SourceFileNames[number]);
        EXPECT_EQ(text.substr(0, name.size() + 10), name + L" [65535]\r\n");
        EXPECT_EQ(text.size(), name.size() + 10 + 67 + 17 + 64) << text;
    }
}

TEST(FaultRecordTest, TargetAddressComesOnlyFromAccessViolationsThatNameOne) {
    EXCEPTION_RECORD exception{};
    exception.ExceptionCode = EXCEPTION_ACCESS_VIOLATION;
    exception.NumberParameters = 2;
    exception.ExceptionInformation[0] = 1;  // a write
    exception.ExceptionInformation[1] = 0x80000010;
    FaultRecord record = DescribeFault(exception, 0x00070039);
    EXPECT_EQ(record.exceptionCode, static_cast<uint32_t>(EXCEPTION_ACCESS_VIOLATION));
    EXPECT_EQ(record.targetAddress, 0x80000010u);
    EXPECT_EQ(record.sourcePosition, 0x00070039u);

#ifdef _WIN64
    // The record holds 32 bits: an x64 address keeps its low half.
    exception.ExceptionInformation[1] = 0x0000001280000010ull;
    EXPECT_EQ(DescribeFault(exception, 0).targetAddress, 0x80000010u);
#endif

    exception.NumberParameters = 1;
    EXPECT_EQ(DescribeFault(exception, 0).targetAddress, 0u) << "no address named";
    exception.NumberParameters = 0;
    EXPECT_EQ(DescribeFault(exception, 0).targetAddress, 0u);

    // Other faults carry parameters too, even in the same places: none is an address to show.
    exception.NumberParameters = 3;
    for (DWORD code : {static_cast<DWORD>(EXCEPTION_IN_PAGE_ERROR), static_cast<DWORD>(0xE0001234),
                       static_cast<DWORD>(EXCEPTION_BREAKPOINT)}) {
        exception.ExceptionCode = code;
        record = DescribeFault(exception, 5);
        EXPECT_EQ(record.targetAddress, 0u) << std::hex << code;
        EXPECT_EQ(record.exceptionCode, code);
    }
}

TEST(SourcePositionTest, MarkedHostCodeStoresItsFileAndLineOnWhicheverThreadRunsIt) {
    SourcePosition.store(0);
    EXPECT_EQ(ReaperPeriod(3), 128u);
    uint32_t position = SourcePosition.load();
    EXPECT_EQ(SourceFileNameOf(position), "reaper.cpp");
    EXPECT_NE(HostSourceLine("ui/reaper.cpp", SourceLineOf(position))
                  .find("LN return static_cast<UINT>(FullPassMilliseconds /"),
              std::string::npos)
        << HostSourceLine("ui/reaper.cpp", SourceLineOf(position));

    // Last writer wins, whatever the thread.
    std::thread([] { SetDaemonRequest(nullptr, 0); }).join();
    position = SourcePosition.load();
    EXPECT_EQ(SourceFileNameOf(position), "lifecycle.cpp");
    EXPECT_NE(HostSourceLine("core/lifecycle.cpp", SourceLineOf(position)).find("LN if (daemon) daemon->request"),
              std::string::npos)
        << HostSourceLine("core/lifecycle.cpp", SourceLineOf(position));
}

// Owners (headers) and the report run unmarked: a fault under library.reset(), in a daemon's
// detach code, shows the line that freed the library, and the report shows what was reached.
TEST(SourcePositionTest, OwnersAndTheReportLeaveThePositionWhereTheirCallerPutIt) {
    const uint32_t caller = PackSourcePosition("src/core/loader.cpp", 117);
    SourcePosition.store(caller);
    {
        ModuleOwner library(LoadLibraryW(L"version.dll"));
        ASSERT_TRUE(library);
        HandleOwner event(CreateEventW(nullptr, TRUE, FALSE, nullptr));
        HandleOwner moved(std::move(event));
        ASSERT_NE(moved.get(), nullptr);
        library.reset();
    }
    EXPECT_EQ(SourcePosition.load(), caller);

    EXCEPTION_RECORD exception{};
    exception.ExceptionCode = EXCEPTION_INT_DIVIDE_BY_ZERO;
    EXPECT_EQ(BuildText(DescribeFault(exception, SourcePosition.load())),
              L"loader.cpp [117]\r\nDIVISION BY ZERO  [ 0x00000000 ]\r\n" + WideningLine);
    EXPECT_EQ(SourcePosition.load(), caller);
}

LONG WINAPI SentinelFilter(EXCEPTION_POINTERS*) {
    return EXCEPTION_CONTINUE_SEARCH;
}

TEST(FatalErrorInstallTest, InstallReplacesTheFilterAndRestorePutsThePreviousOneBack) {
    LPTOP_LEVEL_EXCEPTION_FILTER original = SetUnhandledExceptionFilter(SentinelFilter);
    InstallFatalErrorHandler();
    LPTOP_LEVEL_EXCEPTION_FILTER installed = SetUnhandledExceptionFilter(SentinelFilter);
    SetUnhandledExceptionFilter(installed);
    EXPECT_NE(installed, nullptr);
    EXPECT_NE(installed, &SentinelFilter);
    RestoreUnhandledExceptionFilter();
    EXPECT_EQ(SetUnhandledExceptionFilter(original), &SentinelFilter);
}

}  // namespace
}  // namespace kestrune
