// The host's source files by number. A source position carries the number of the
// file that holds its line, so that a fatal error report names that file and not
// only a line number that could belong to any of them.
#pragma once

#include <cstdint>
#include <iterator>
#include <string_view>

namespace kestrune {

// Names without any folder part. Number 0 is the main file: a position stored
// there equals the bare line number, and a position of 0 (nothing reached yet)
// names it too. Exactly the files whose statements are marked are listed: a
// marker in a file missing here does not compile, and headers and the fault
// report are never marked (see source_position.h), so they are not listed.
// scripts/lib/check_source_positions.py checks the list both ways.
inline constexpr std::string_view SourceFileNames[] = {
    "kestrune.cpp",
    // core/
    "address_check.cpp",
    "application.cpp",
    "case_fold.cpp",
    "clock.cpp",
    "code_in_use.cpp",
    "code_quarantine.cpp",
    "commands.cpp",
    "daemon_table.cpp",
    "daemon_windows.cpp",
    "discovery.cpp",
    "dll_search.cpp",
    "file_info.cpp",
    "image_range.cpp",
    "library_release.cpp",
    "lifecycle.cpp",
    "loader.cpp",
    "loader_lock.cpp",
    "priority.cpp",
    "program_path.cpp",
    "return_address.cpp",
    "safe_point.cpp",
    "thread_end_watch.cpp",
    "thread_time.cpp",
    "utf8.cpp",
    // ui/
    "about_window.cpp",
    "close_sequence.cpp",
    "context_menu.cpp",
    "daemon_commands.cpp",
    "daemon_list.cpp",
    "daemon_menus.cpp",
    "daemon_rows.cpp",
    "dpi.cpp",
    "host_events.cpp",
    "main_window.cpp",
    "menu_builder.cpp",
    "reaper.cpp",
    "selected_row.cpp",
    "tray_icon.cpp",
    "tray_menu.cpp",
    "ui_state.cpp",
    // fault/
    "fatal_error.cpp",
};

inline constexpr uint32_t SourceFileCount = static_cast<uint32_t>(std::size(SourceFileNames));

// Declared, never defined and not constexpr: a compile-time lookup that reaches
// one of these stops the build with the function's name as the message.
void SourceFileMissingFromTable();
void SourceLineBeyondPositionRange();

consteval std::string_view FilePartOfSourcePath(std::string_view path) {
    const size_t separator = path.find_last_of("/\\");
    return separator == std::string_view::npos ? path : path.substr(separator + 1);
}

consteval uint32_t SourceFileNumber(std::string_view path) {
    const std::string_view name = FilePartOfSourcePath(path);
    for (uint32_t number = 0; number < SourceFileCount; ++number) {
        if (SourceFileNames[number] == name) return number;
    }
    SourceFileMissingFromTable();
    return 0;
}

consteval bool SourceFileNamesDiffer() {
    for (uint32_t first = 0; first < SourceFileCount; ++first) {
        for (uint32_t second = first + 1; second < SourceFileCount; ++second) {
            if (SourceFileNames[first] == SourceFileNames[second]) return false;
        }
    }
    return true;
}
static_assert(SourceFileNamesDiffer(), "a report names a file without its folder, so names must differ");

}  // namespace kestrune
