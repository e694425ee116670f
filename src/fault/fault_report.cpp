// Unmarked as a whole (scripts/lib/check_source_positions.py exempts this file): every line
// here runs after the fault was caught, and a marker would move the position being reported.
#include "fault/fault_report.h"

#include <string_view>

#include "core/owner.h"

#include "fault/source_position.h"

namespace kestrune {

FaultRecord faultRecord{};

namespace {

struct ErrorTextEntry {
    DWORD code;
    const wchar_t* text;
};

// Searched in this order; the first match wins.
constexpr ErrorTextEntry ErrorTexts[] = {
    {EXCEPTION_ACCESS_VIOLATION, L"Invalid memory access"},
    {EXCEPTION_ARRAY_BOUNDS_EXCEEDED, L"Array bounds exceeded"},
    {EXCEPTION_BREAKPOINT, L"Debugger breakpoint reached"},
    {EXCEPTION_DATATYPE_MISALIGNMENT, L"Misaligned data access"},
    {EXCEPTION_FLT_DENORMAL_OPERAND, L"Denormal floating-point operand"},
    {EXCEPTION_FLT_DIVIDE_BY_ZERO, L"Division by zero (floating-point)"},
    {EXCEPTION_FLT_INEXACT_RESULT, L"Inexact floating-point result"},
    {EXCEPTION_FLT_INVALID_OPERATION, L"Invalid floating-point operation"},
    // "to great" is kept on purpose: it is the report's fixed text, and reports are compared against it.
    {EXCEPTION_FLT_OVERFLOW, L"Floating-point overflow (exponent to great)"},
    {EXCEPTION_FLT_STACK_CHECK, L"Floating-point stack overflow or underflow"},
    {EXCEPTION_FLT_UNDERFLOW, L"Floating-point underflow (exponent too small)"},
    {EXCEPTION_ILLEGAL_INSTRUCTION, L"Illegal instruction"},
    {EXCEPTION_IN_PAGE_ERROR, L"Memory page error"},
    // The trailing blank is kept on purpose (two blanks before the address's bracket): it is the
    // report's fixed text, and reports are compared against it.
    {EXCEPTION_INT_DIVIDE_BY_ZERO, L"Division by zero "},
    {EXCEPTION_INT_OVERFLOW, L"Integer overflow"},
    {EXCEPTION_INVALID_DISPOSITION, L"Exception handler returned unknown value"},
    {EXCEPTION_NONCONTINUABLE_EXCEPTION, L"Exception handler tried to continue after non-continuable exception"},
    {EXCEPTION_PRIV_INSTRUCTION, L"Privileged instruction"},
    {EXCEPTION_SINGLE_STEP, L"Single step trap"},
    {EXCEPTION_STACK_OVERFLOW, L"Stack overflow"},
};

constexpr wchar_t UnknownErrorText[] = L"Unknown error code";
constexpr wchar_t FatalErrorTitle[] = L"FATAL ERROR";
constexpr size_t WideningBlanks = 64;

void AppendCharacter(FatalErrorText& text, wchar_t character) {
    if (text.length + 1 >= FatalErrorText::Capacity) return;
    text.characters[text.length++] = character;
    text.characters[text.length] = L'\0';
}

void Append(FatalErrorText& text, std::wstring_view piece) {
    for (wchar_t character : piece) AppendCharacter(text, character);
}

// File names are ASCII.
void AppendNarrow(FatalErrorText& text, std::string_view piece) {
    for (char character : piece) AppendCharacter(text, static_cast<wchar_t>(static_cast<unsigned char>(character)));
}

void AppendDecimal(FatalErrorText& text, uint32_t value) {
    wchar_t digits[10];
    size_t count = 0;
    do {
        digits[count++] = static_cast<wchar_t>(L'0' + value % 10);
        value /= 10;
    } while (value != 0);
    while (count > 0) AppendCharacter(text, digits[--count]);
}

void AppendHex8(FatalErrorText& text, uint32_t value) {
    static constexpr wchar_t HexDigits[] = L"0123456789ABCDEF";
    for (int shift = 28; shift >= 0; shift -= 4) AppendCharacter(text, HexDigits[(value >> shift) & 0xF]);
}

void AppendUpperCase(FatalErrorText& text, const wchar_t* piece) {
    wchar_t upper[128] = {};
    size_t length = std::wstring_view(piece).copy(upper, std::size(upper) - 1);
    upper[length] = L'\0';
    CharUpperW(upper);
    Append(text, std::wstring_view(upper, length));
}

DWORD WINAPI ReportOnFreshStack(LPVOID) {
    FatalErrorHandler();
    return 0;
}

}  // namespace

LONG WINAPI HostExceptionFilter(EXCEPTION_POINTERS* pointers) {
    const uint32_t position = SourcePosition.load(std::memory_order_relaxed);
    static constexpr EXCEPTION_RECORD NoRecord{};
    const EXCEPTION_RECORD* exception = pointers && pointers->ExceptionRecord ? pointers->ExceptionRecord : &NoRecord;
    faultRecord = DescribeFault(*exception, position);
    if (faultRecord.exceptionCode == EXCEPTION_STACK_OVERFLOW) {
        // The few pages left on an exhausted stack do not hold a message box: it would
        // fault again, and the system would end the thread silently while the host ran
        // on. The box is shown from a thread with a stack of its own while this one waits.
        HandleOwner reporter(CreateThread(nullptr, 0, ReportOnFreshStack, nullptr, 0, nullptr));
        if (reporter) WaitForSingleObject(reporter.get(), INFINITE);
    } else {
        FatalErrorHandler();
    }
    // Exit code 0, and nothing else runs: no daemon is asked to stop, no library is
    // freed, the tray icon stays, and no other filter or system report sees the fault.
    TerminateProcess(GetCurrentProcess(), 0);
    return EXCEPTION_EXECUTE_HANDLER;
}

FaultRecord DescribeFault(const EXCEPTION_RECORD& exception, uint32_t sourcePosition) {
    FaultRecord record{exception.ExceptionCode, 0, sourcePosition};
    if (exception.ExceptionCode == EXCEPTION_ACCESS_VIOLATION && exception.NumberParameters >= 2) {
        record.targetAddress = static_cast<uint32_t>(exception.ExceptionInformation[1]);
    }
    return record;
}

const wchar_t* ErrorTextOf(uint32_t exceptionCode) {
    for (const ErrorTextEntry& entry : ErrorTexts) {
        if (entry.code == exceptionCode) return entry.text;
    }
    return UnknownErrorText;
}

void BuildFatalErrorText(const FaultRecord& record, FatalErrorText& text) {
    text.length = 0;
    text.characters[0] = L'\0';
    AppendNarrow(text, SourceFileNameOf(record.sourcePosition));
    Append(text, L" [");
    AppendDecimal(text, SourceLineOf(record.sourcePosition));
    Append(text, L"]\r\n");
    AppendUpperCase(text, ErrorTextOf(record.exceptionCode));
    Append(text, L" [ 0x");
    AppendHex8(text, record.targetAddress);
    Append(text, L" ]\r\n");
    for (size_t blank = 0; blank < WideningBlanks; ++blank) AppendCharacter(text, L' ');
}

void FatalErrorHandler() {
    FatalErrorText text;
    BuildFatalErrorText(faultRecord, text);
    MessageBoxW(nullptr, text.characters, FatalErrorTitle, MB_OK | MB_ICONERROR);
}

}  // namespace kestrune
