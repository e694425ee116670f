// The place the host's own code last reached, for the fatal error report.
//
// Statements of the host's own code start with the marker LN:
//
//     LN daemon->request = request;
//     LN if (IsThreadAlive(daemon->thread.get())) daemon->flags |= FlagStarted;
//
// LN stores one compile-time constant, the number of the file and the line of the
// statement, into SourcePosition: one plain 32-bit store, on whatever thread runs it.
//
// LN ends in its own semicolon, so it is a statement of its own. Put it only where a
// statement stands in a braced block or after a case label, never as the lone body of
// an if, else, for, while or do: "if (x) LN return;" would guard only the store.
//
// Marked: every statement of every function defined in a .cpp file under src/, except in
// fault_report.cpp, which runs once a fault has been caught: a marker there would move the
// position it reports. Functions defined in headers are never marked. They are small inline
// helpers (an owner's get, reset and release, its traits' Empty and Release, a flag test)
// called from marked statements, so a fault inside one is reported at its caller's line: a
// daemon's detach code that faults under library.reset() shows the line that freed the
// library, not a line of owner.h.
// scripts/lib/check_source_positions.py lists statements without a marker, markers in
// the wrong places, and file names in src/ that a report could not tell apart.
//
// scripts/lib/format.py lays LN out as an attribute of its statement (clang-format alone
// gets four layouts wrong after it).
#pragma once

#include <atomic>
#include <cstdint>
#include <string_view>

#include "source_files.h"

namespace kestrune {

// High 16 bits: the file's number in SourceFileNames; low 16 bits: the line.
// 0 until the first marked statement runs. Relaxed atomic stores compile to a
// plain move, last writer wins, and the compiler keeps every one of them in
// place instead of merging neighbours as it may with an ordinary variable.
extern std::atomic<uint32_t> SourcePosition;

consteval uint32_t PackSourcePosition(std::string_view path, uint32_t line) {
    if (line > 0xFFFF) SourceLineBeyondPositionRange();
    return SourceFileNumber(path) << 16 | line;
}

constexpr uint32_t SourceLineOf(uint32_t position) {
    return position & 0xFFFF;
}

// The name of the file that holds the position's line; the main file for 0.
constexpr std::string_view SourceFileNameOf(uint32_t position) {
    const uint32_t number = position >> 16;
    return number < SourceFileCount ? SourceFileNames[number] : SourceFileNames[0];
}

}  // namespace kestrune

#define LN \
    ::kestrune::SourcePosition.store(::kestrune::PackSourcePosition(__FILE__, __LINE__), std::memory_order_relaxed);
