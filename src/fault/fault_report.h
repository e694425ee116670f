// What runs once a fault that nobody handled has been caught: the fault's record, the
// report's text, the box, the end of the process. The report shows the position the host's
// own code had reached, so nothing here is marked; a fault may have left the heap unusable,
// so nothing here allocates.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>

namespace kestrune {

struct FaultRecord {
    uint32_t exceptionCode;
    // The address whose access failed, for an access violation that names one;
    // its low 32 bits on x64. 0 for every other fault.
    uint32_t targetAddress;
    // SourcePosition when the fault was caught.
    uint32_t sourcePosition;
};

// Filled by the filter on the faulting thread just before FatalErrorHandler runs.
// Process-wide and unlocked: a second fault overwrites it.
extern FaultRecord faultRecord;

FaultRecord DescribeFault(const EXCEPTION_RECORD& exception, uint32_t sourcePosition);

// The error text of an exception code; "Unknown error code" outside the table.
const wchar_t* ErrorTextOf(uint32_t exceptionCode);

// The report's text in a buffer of its own.
struct FatalErrorText {
    static constexpr size_t Capacity = 384;
    wchar_t characters[Capacity];  // null-terminated
    size_t length;
};

// Three lines: "<file> [<line>]", the upper-cased error text with the target
// address as " [ 0x%08X ]", and 64 blanks that only widen the box.
void BuildFatalErrorText(const FaultRecord& record, FatalErrorText& text);

// Shows the report built from faultRecord and returns when the user has closed it.
void FatalErrorHandler();

// The host's unhandled-exception filter: fills faultRecord, runs FatalErrorHandler on the
// faulting thread (on a thread of its own for a stack overflow) and ends the process with
// exit code 0.
LONG WINAPI HostExceptionFilter(EXCEPTION_POINTERS* pointers);

}  // namespace kestrune
