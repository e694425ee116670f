"""Adds up the GoogleTest results that the CTest runs left as XML, per target.

A test program that crashed may still end with exit code 0 under Wine; it leaves no XML
report, so every test CTest knows must have written its report, with at least one case.
"""
import json
import pathlib
import sys
import xml.etree.ElementTree as ET

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
            if not report.is_file():
                print(f"{target}: {name} left no report (it crashed or did not run)")
                ok = False
                continue
            root = ET.parse(report).getroot()
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
