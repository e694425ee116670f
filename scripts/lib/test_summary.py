"""Adds up the GoogleTest results that the CTest runs left as XML, per target, and names every
test that ended early, failed, or passed only at a second run.

Each run of a test program leaves <report>.runN.log and <report>.runN.json (gtest_outcome.py,
called by wine-exec); the last run decides, the earlier ones stay readable. wine-exec also
leaves <report>.runN.before.json and .after.json, the processes of the prefix it ended before
the run and after it (prefix_processes.py): each one is named, with the test that left it.
"""
import json
import pathlib
import re
import sys
import xml.etree.ElementTree as ET

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent))
from gtest_outcome import describe, last_case_started, read_report  # noqa: E402

XML_PREFIX = "--gtest_output=xml:"


def expected_reports(ctest_listing: pathlib.Path) -> list[tuple[str, pathlib.Path]]:
    """(test name, report path) for each CTest test, from `ctest --show-only=json-v1`."""
    reports = []
    for test in json.loads(ctest_listing.read_text())["tests"]:
        for argument in test.get("command", []):
            if argument.startswith(XML_PREFIX):
                windows_path = argument[len(XML_PREFIX):]
                # Z: is the Linux root under Wine.
                reports.append((test["name"], pathlib.Path(windows_path[2:] if windows_path[:2].upper() == "Z:" else windows_path)))
    return reports


def runs_of(report: pathlib.Path) -> list[dict]:
    """The runs of one report, first run first, by the logs wine-exec starts them with. A run that
    CTest ended on its time-out left its log but no outcome, and counts as so ended."""
    runs = {}
    for log in report.parent.glob(f"{report.stem}.run*.log"):
        match = re.fullmatch(rf"{re.escape(report.stem)}\.run(\d+)\.log", log.name)
        if not match:
            continue
        number = int(match.group(1))
        outcome = log.with_suffix(".json")
        if outcome.is_file():
            runs[number] = json.loads(outcome.read_text())
            continue
        last, ended = last_case_started(log.read_text(errors="replace"))
        runs[number] = {"run": number, "status": "ended on its time-out", "exit_code": None, "last_case": last,
                        "last_case_ended": ended, "log": str(log)}
    return [runs[number] for number in sorted(runs)]


def left_running(report: pathlib.Path) -> list[str]:
    """What each run of one report found running in the prefix, as lines to print."""
    lines = []
    for when, text in (("before", "was still running when it started (left by the program before it)"),
                       ("after", "left running after it ended")):
        for path in sorted(report.parent.glob(f"{report.stem}.run*.{when}.json")):
            try:
                processes = json.loads(path.read_text())
            except (OSError, ValueError):
                continue
            if processes:
                names = ", ".join(f"{process['name']} (process {process['pid']})" for process in processes)
                run = path.name.removeprefix(report.stem + ".").split(".")[0]
                lines.append(f"{text}, at {run}, ended by the harness: {names}")
    return lines


def count_skipped(root: ET.Element) -> int:
    """Skipped and disabled cases. This GoogleTest writes "skipped" only on each suite, not on the
    top element, so the suites are added up."""
    suites = [root] if root.tag == "testsuite" else root.findall("testsuite")
    return sum(int(suite.get("skipped", 0)) + int(suite.get("disabled", 0)) for suite in suites)


def main() -> int:
    ok = True
    for listing_name in sys.argv[1:]:
        listing = pathlib.Path(listing_name)
        target = listing.parent.name
        tests = failures = skipped = 0
        for name, report in expected_reports(listing):
            for line in left_running(report):
                print(f"{target}: {name}: {line}")
            runs = runs_of(report)
            if runs and runs[-1]["status"] != "passed":
                print(f"{target}: {describe(name, runs[-1])}")
                ok = False
            elif len(runs) > 1:
                first = runs[0]
                print(f"{target}: {name} passed only at run {len(runs)}; "
                      f"the first {describe(name, first).removeprefix(name + ' ')}, output kept in {first['log']}")
            root = read_report(report)
            if root is None:
                if not runs:
                    print(f"{target}: {name} left no report (it did not run)")
                ok = False
                continue
            cases = int(root.get("tests", 0))
            if cases == 0:
                print(f"{target}: {name} ran no test case")
                ok = False
            tests += cases
            failures += int(root.get("failures", 0)) + int(root.get("errors", 0))
            skipped += count_skipped(root)
        print(f"{target}: {tests} test cases, {failures} failed, {skipped} skipped")
        ok = ok and failures == 0 and tests > 0
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
