#!/usr/bin/env python3
"""Cases for test_summary.py and gtest_outcome.py: python3 scripts/lib/test_summary_test.py"""
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


LOG_OF_A_CRASH = """[ RUN      ] LifecycleTest.ForceStopTerminatesAndUnloads
[       OK ] LifecycleTest.ForceStopTerminatesAndUnloads (210 ms)
[ RUN      ] LifecycleTest.GraceOfExactly30000MillisecondsStillCountsAsStopping
wine: Unhandled illegal instruction at address 656D5350 (thread 0628), starting debugger...
"""


def judge_run(report_text, log_text, exit_code, folder, run=1):
    """Records one run of a test program as wine-exec does and gives gtest_outcome's exit code."""
    report = pathlib.Path(folder, "t.xml")
    report.unlink(missing_ok=True)
    if report_text is not None:
        report.write_text(report_text)
    log = pathlib.Path(folder, f"t.run{run}.log")
    log.write_text(log_text)
    run = subprocess.run([sys.executable, os.path.join(HERE, "gtest_outcome.py"), str(report), str(log),
                          str(exit_code)], capture_output=True, text=True)
    return run.returncode, run.stdout


class OutcomeTest(unittest.TestCase):
    def test_only_a_whole_report_with_exit_code_0_passes(self):
        with tempfile.TemporaryDirectory() as folder:
            self.assertEqual(judge_run(REPORT.format(failures=0), "", 0, folder)[0], 0)
            code, out = judge_run(None, LOG_OF_A_CRASH, 0, folder)
            self.assertEqual(code, 1, "a crash that Wine ended with code 0 is a failure")
            self.assertIn("t ended before GoogleTest finished (exit code 0), in "
                          "LifecycleTest.GraceOfExactly30000MillisecondsStillCountsAsStopping", out)
            code, out = judge_run(REPORT.format(failures=0)[:90], LOG_OF_A_CRASH, 0, folder)
            self.assertEqual(code, 1, "a partial report is no report")
            code, out = judge_run(REPORT.format(failures=0), "[ RUN      ] A.B\n[       OK ] A.B (1 ms)\n", 3,
                                  folder)
            self.assertEqual(code, 1)
            self.assertIn("wrote its report but ended with exit code 3, after A.B", out)
            self.assertEqual(judge_run(REPORT.format(failures=1), "", 1, folder)[0], 1)


class SummaryTest(unittest.TestCase):
    def summarise(self, reports, runs=None):
        """Runs the summary over one target whose CTest tests write the given reports
        (None: the test left no report); runs[i], when given, lists the (report, log, exit code)
        of each run of test i, recorded as wine-exec records them (exit code None: ended from
        outside, with its log and no outcome)."""
        with tempfile.TemporaryDirectory() as root:
            target = pathlib.Path(root, "x86_64")
            target.mkdir()
            tests = []
            for index, text in enumerate(reports):
                path = target / f"report{index}.xml"
                for number, (report_text, log_text, exit_code) in enumerate((runs or {}).get(index, []), 1):
                    log = target / f"report{index}.run{number}.log"
                    log.write_text(log_text)
                    path.unlink(missing_ok=True)
                    if report_text is not None:
                        path.write_text(report_text)
                    if exit_code is None:
                        continue
                    subprocess.run([sys.executable, os.path.join(HERE, "gtest_outcome.py"), str(path), str(log),
                                    str(exit_code)], capture_output=True)
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

    def test_a_crash_is_named_with_its_last_case_and_a_second_run_pass_stays_visible(self):
        passed = REPORT.format(failures=0)
        code, out = self.summarise([None], runs={0: [(None, LOG_OF_A_CRASH, 0)]})
        self.assertEqual(code, 1)
        self.assertIn("t0 ended before GoogleTest finished (exit code 0), in LifecycleTest.Grace", out)
        code, out = self.summarise([passed], runs={0: [(None, LOG_OF_A_CRASH, 0), (passed, "", 0)]})
        self.assertEqual(code, 0)
        self.assertRegex(out, r"t0 passed only at run 2; the first ended before GoogleTest finished .*"
                              r"output kept in .*report0\.run1\.log")

    def test_a_run_ended_on_its_time_out_counts_as_a_run(self):
        passed = REPORT.format(failures=0)
        code, out = self.summarise([passed], runs={0: [(None, LOG_OF_A_CRASH, None), (passed, "", 0)]})
        self.assertEqual(code, 0)
        self.assertRegex(out, r"t0 passed only at run 2; the first was ended on its time-out, in LifecycleTest\.Grace")
        code, out = self.summarise([None], runs={0: [(None, "", None)]})
        self.assertEqual(code, 1)
        self.assertIn("t0 was ended on its time-out, before any case started", out)


if __name__ == "__main__":
    unittest.main()
