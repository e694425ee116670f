#!/usr/bin/env python3
"""Cases for format.py, the format gate of scripts/test: python3 scripts/lib/format_test.py"""
import os
import pathlib
import shutil
import subprocess
import sys
import tempfile
import textwrap
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))

# Each layout clang-format 14 gets wrong after the marker, as it is meant.
MARKED = textwrap.dedent("""\
    #include "core/encode.h"

    #include <string>

    #include "fault/source_position.h"

    void Encode(char* end, int c, int* count) {
        LN if (c < 0x80) {
            LN *end++ = static_cast<char>(c);
        } else if (c < 0x800) {
            LN ++c;
        } else {
            LN --c;
        }
        LN do {
            LN c >>= 6;
        } while (c > 0);
        LN if (count) ++*count;
        LN if (count) *count = 0;
    }
    """)


def gate(folder, *files):
    return subprocess.run([sys.executable, os.path.join(HERE, "format.py"), "--check", *files],
                          capture_output=True, text=True, cwd=folder)


@unittest.skipUnless(shutil.which("clang-format"), "clang-format is not installed")
class FormatTest(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.TemporaryDirectory()
        shutil.copy(os.path.join(ROOT, ".clang-format"), self.folder.name)
        self.path = pathlib.Path(self.folder.name, "encode.cpp")

    def tearDown(self):
        self.folder.cleanup()

    def test_marked_statements_pass_the_gate_as_written(self):
        self.path.write_text(MARKED)
        result = gate(self.folder.name, str(self.path))
        self.assertEqual(result.returncode, 0, result.stdout)

    def test_a_misformatted_change_fails_the_gate_until_formatted(self):
        changed = MARKED.replace("        LN c >>= 6;", "        LN c>>=6;  ").replace(
            '#include <string>\n', '#include <string>\n#include <algorithm>\n')
        self.path.write_text(changed)
        result = gate(self.folder.name, str(self.path))
        self.assertEqual(result.returncode, 1)
        self.assertIn("+        LN c >>= 6;", result.stdout)
        self.assertIn("+#include <algorithm>\n #include <string>", result.stdout, "includes are sorted")

        subprocess.run([sys.executable, os.path.join(HERE, "format.py"), str(self.path)], check=True)
        self.assertEqual(self.path.read_text(), MARKED.replace('#include <string>\n',
                                                               '#include <algorithm>\n#include <string>\n'))
        self.assertEqual(gate(self.folder.name, str(self.path)).returncode, 0)


if __name__ == "__main__":
    unittest.main()
