#!/usr/bin/env python3
"""Cases for test_summary.py: python3 scripts/lib/test_summary_test.py"""
import json
import os
import pathlib
import subprocess
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))

# As this GoogleTest writes it: "skipped" on the suite only.
REPORT = """<?xml version="1.0" encoding="UTF-8"?>
<testsuites tests="3" failures="{failures}" disabled="0" errors="0" name="AllTests">
  <testsuite name="LifecycleTest" tests="3" failures="{failures}" disabled="1" skipped="1" errors="0">
  </testsuite>
</testsuites>
"""


class SummaryTest(unittest.TestCase):
    def summarise(self, reports):
        """Runs the summary over one target whose CTest tests write the given reports
        (None: the test left no report)."""
        with tempfile.TemporaryDirectory() as root:
            target = pathlib.Path(root, "x86_64")
            target.mkdir()
            tests = []
            for index, text in enumerate(reports):
                path = target / f"report{index}.xml"
                if text is not None:
                    path.write_text(text)
                tests.append({"name": f"t{index}", "command": ["t.exe", f"--gtest_output=xml:Z:{path}"]})
            listing = target / "ctest-tests.json"
            listing.write_text(json.dumps({"tests": tests}))
            run = subprocess.run([sys.executable, os.path.join(HERE, "test_summary.py"), str(listing)],
                                 capture_output=True, text=True)
            return run.returncode, run.stdout

    def test_skipped_and_disabled_cases_are_counted_from_the_suites(self):
        code, out = self.summarise([REPORT.format(failures=0)] * 2)
        self.assertEqual(code, 0)
        self.assertIn("6 test cases, 0 failed, 4 skipped", out)

    def test_a_failure_or_a_missing_report_fails_the_summary(self):
        self.assertEqual(self.summarise([REPORT.format(failures=1)])[0], 1)
        code, out = self.summarise([REPORT.format(failures=0), None])
        self.assertEqual(code, 1)
        self.assertIn("t1 left no report", out)


if __name__ == "__main__":
    unittest.main()
