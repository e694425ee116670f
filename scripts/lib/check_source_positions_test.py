#!/usr/bin/env python3
"""Cases for check_source_positions.py: python3 scripts/lib/check_source_positions_test.py"""
import os
import shutil
import subprocess
import sys
import tempfile
import textwrap
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from check_source_positions import Checker, add_markers, check, source_files  # noqa: E402

ROOT = os.path.abspath(os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", ".."))


def findings(source, path="sample.cpp"):
    checker = Checker(path, textwrap.dedent(source).lstrip("\n"))
    return [(line, message) for _, line, message in checker.run()]


def lines(source, path="sample.cpp"):
    return [line for line, _ in findings(source, path)]


class StatementsTest(unittest.TestCase):
    def test_every_statement_of_a_body_needs_its_own_marker(self):
        self.assertEqual(lines("""
            namespace kestrune {
            int Twice(int x) {
                int y = x;
                LN y += x;
                return y;
            }
            }  // namespace kestrune
            """), [3, 5])

    def test_nested_blocks_labels_and_jumps(self):
        self.assertEqual(lines("""
            void Tick(int request) {
                LN switch (request) {
                case 1:
                    LN Stop();
                    break;
                case 2: LN Pause(); break;
                case 3: Resume();
                default:
                    for (int i = 0; i < 3; ++i) {
                        LN if (i == 1) continue;
                    }
                }
                LN if (request) {
                    Refresh();
                } else if (request > 2) {
                    LN Refresh();
                } else {
                    LN Quit();
                }
            }
            """), [7, 9, 14])

    def test_markers_that_would_change_what_runs(self):
        result = findings("""
            void Stop(Daemon* daemon) {
                LN if (!daemon) LN return;
                LN if (daemon->paused)
                    LN Resume(daemon);
                LN while (Busy()) LN Sleep(1);
                LN switch (daemon->request) {
                LN case 1:
                    LN break;
                }
                LN
                Finish();
            }
            """)
        expected = [(2, "guards only the store"), (4, "guards only the store"), (5, "guards only the store"),
                    (7, "before a label"), (10, "line of its own marks the wrong line")]
        self.assertEqual([line for line, _ in result], [line for line, _ in expected])
        for (line, message), (_, part) in zip(result, expected):
            self.assertIn(part, message, f"line {line}")

    def test_lambda_bodies_are_host_code_and_initializers_are_not(self):
        self.assertEqual(lines("""
            void Each() {
                LN Visit([&](int x) {
                    LN Use(x);
                    Use(x + 1);
                });
                LN RECT area{0, 0, Width(), Height()};
                LN EnumWindows([](HWND w, LPARAM p) -> BOOL { return TRUE; }, 0);
                LN auto later = [] {
                    Sleep(1);
                };
            }
            """), [4, 7, 9])


class DeclarationsTest(unittest.TestCase):
    def test_member_functions_constructors_and_operators_are_checked(self):
        self.assertEqual(lines("""
            template <class Traits>
            class Owner {
            public:
                Owner() noexcept = default;
                explicit Owner(Handle handle) noexcept : handle_(handle), count_{0} { Count(); }
                ~Owner() { LN reset(); }
                Owner& operator=(Owner&& other) noexcept {
                    LN if (this != &other) reset(other.release());
                    return *this;
                }
                explicit operator bool() const noexcept { return handle_ != nullptr; }
            private:
                Handle handle_ = Traits::Empty();
                int count_{0};
            };
            """), [5, 9, 11])

    def test_compile_time_code_and_tables_need_no_marker(self):
        self.assertEqual(lines("""
            constexpr DWORD Period = 512;
            inline constexpr std::string_view Names[] = {"a.cpp", "b.cpp"};
            enum class Result { Idle, Kept };
            struct Entry {
                DWORD code;
                const wchar_t* text;
            };
            constexpr Entry Entries[] = {{1, L"one"}, {2, L"two"}};
            consteval uint32_t Number(std::string_view path) {
                for (uint32_t i = 0; i < 2; ++i) {
                    if (Names[i] == path) return i;
                }
                return 0;
            }
            void Marked() {
                static_assert(sizeof(int) == 4);
                KESTRUNE_CHECK(Limit > 0);
                using Clock = int;
                static constexpr int Limit = 3;
                Run();
            }
            """), [20])

    def test_comments_strings_and_preprocessor_lines_are_not_statements(self):
        self.assertEqual(lines("""
            #define TWICE(x) \\
                ((x) + (x))
            void Text() {
                // Show(";");
                /* Show("}"); */
                LN Show("{ ; }");
                LN Show('}');
            #ifdef _WIN64
                LN Wide();
            #else
                Narrow();
            #endif
            }
            """), [11])


class UnmarkedFilesTest(unittest.TestCase):
    def test_headers_and_the_fault_report_hold_no_marker(self):
        source = """
            inline bool IsMenuCommand(WPARAM wParam, LPARAM lParam) {
                return lParam == 0 && HIWORD(wParam) == 0;
            }
            struct Daemon {
                bool Has(DaemonFlag flag) const { LN return (flags & flag) != 0; }
            };
            """
        for path, reason in (("src/core/daemon_record.h", "LN in a header"),
                             ("src/fault/fault_report.cpp", "LN in the fault report")):
            result = findings(source, path)
            self.assertEqual([line for line, _ in result], [5], path)
            self.assertIn(reason, result[0][1])
        self.assertEqual(lines(source, "src/fault/fatal_error.cpp"), [2])


class ClangFormatTest(unittest.TestCase):
    def test_clang_format_layouts_of_marked_statements_are_accepted(self):
        # What clang-format 14 makes of the marker: else and a do loop's while on lines of
        # their own, the marker taken for a type, a lone body wrapped below its header.
        self.assertEqual(lines("""
            void Encode(char* end, int c) {
                LN if (c < 0x80) {
                    LN* end++ = static_cast<char>(c);
                }
                else {
                    LN++ c;
                }
                LN do {
                    LN-- c;
                }
                while (c > 0)
                    ;
                LN for (size_t i = 0; i < topLevel; ++i)
                    EnumChildWindows(windows[i], CollectWindow, reinterpret_cast<LPARAM>(&windows));
                LN int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr,
                                                  0, nullptr, nullptr);
            }
            """), [])

    @unittest.skipUnless(shutil.which("clang-format"), "clang-format is not installed")
    def test_checker_accepts_clang_formats_output_of_every_source_file(self):
        with tempfile.TemporaryDirectory() as copy:
            shutil.copytree(os.path.join(ROOT, "src"), os.path.join(copy, "src"))
            shutil.copy(os.path.join(ROOT, ".clang-format"), copy)
            subprocess.run(["clang-format", "-i"] + source_files(copy), check=True)
            self.assertEqual(check(source_files(copy), copy)[0], [])


class FixTest(unittest.TestCase):
    def test_fix_marks_every_statement_and_leaves_nothing_to_find(self):
        source = textwrap.dedent("""
            #include "lifecycle.h"

            bool Tick(Daemon* daemon) {
                bool keep = true;
                switch (daemon->request) {
                case 1: keep = Stop(daemon); break;
                default:
                    if (Ready(daemon) &&
                        Due(daemon)) Refresh(daemon);
                }
                Visit([&](int x) { Use(x); });
                Notify(daemon, keep,
                       Now());
                return keep;
            }
            """).lstrip("\n")
        checker = Checker("sample.cpp", source)
        checker.run()
        fixed = add_markers(source, checker.missing)
        self.assertEqual(fixed, textwrap.dedent("""
            #include "lifecycle.h"
            #include "fault/source_position.h"

            bool Tick(Daemon* daemon) {
                LN bool keep = true;
                LN switch (daemon->request) {
                case 1: LN keep = Stop(daemon); break;
                default:
                    LN if (Ready(daemon) &&
                        Due(daemon)) Refresh(daemon);
                }
                LN Visit([&](int x) { LN Use(x); });
                LN Notify(daemon, keep,
                       Now());
                LN return keep;
            }
            """).lstrip("\n"))
        self.assertEqual(Checker("sample.cpp", fixed).run(), [])


if __name__ == "__main__":
    unittest.main()
