"""Judges one run of a GoogleTest program under Wine and records it beside its report.

A run passes only when the program ended as GoogleTest ends: exit code 0 and a complete XML
report. A crash, an abort or a kill can still end with exit code 0 under Wine (the debugger or
the emulator decides the code), and it leaves no report or a partial one, so the exit code
alone proves nothing.

    gtest_outcome.py REPORT LOG EXIT_CODE

Writes REPORT's stem + ".runN.json" (N from LOG's name) and prints one line when the run
failed; exits 0 for a pass and 1 otherwise.
"""
import json
import pathlib
import re
import sys
import xml.etree.ElementTree as ET

RUN_LINE = re.compile(r"^\[ RUN      \] (\S+)")
END_LINE = re.compile(r"^\[ +(?:OK|FAILED|SKIPPED) +\] (\S+) \(")


def last_case_started(log_text: str) -> tuple[str | None, bool]:
    """The last case whose start the log shows, and whether its end was shown too."""
    last, ended = None, False
    for line in log_text.splitlines():
        match = RUN_LINE.match(line)
        if match:
            last, ended = match.group(1), False
            continue
        match = END_LINE.match(line)
        if match and match.group(1) == last:
            ended = True
    return last, ended


def read_report(report: pathlib.Path) -> ET.Element | None:
    """The report's root when GoogleTest finished writing it, else None."""
    try:
        root = ET.parse(report).getroot()
    except (OSError, ET.ParseError):
        return None
    return root if root.tag in ("testsuites", "testsuite") else None


def judge(report: pathlib.Path, log_text: str, exit_code: int) -> dict:
    root = read_report(report)
    last, ended = last_case_started(log_text)
    outcome = {"exit_code": exit_code, "last_case": last, "last_case_ended": ended}
    if root is None:
        outcome["status"] = "ended early"
    elif int(root.get("failures", 0)) + int(root.get("errors", 0)) > 0:
        outcome["status"] = "failed"
    elif exit_code != 0:
        # The report is whole, yet the process did not end with GoogleTest's code.
        outcome["status"] = "ended badly"
    elif int(root.get("tests", 0)) == 0:
        outcome["status"] = "ran nothing"
    else:
        outcome["status"] = "passed"
    return outcome


def describe(name: str, outcome: dict) -> str:
    status, code, last = outcome["status"], outcome["exit_code"], outcome["last_case"]
    if status == "ended early":
        where = "before any case started" if last is None else (
            f"in {last}" if not outcome["last_case_ended"] else f"after {last}")
        return f"{name} ended before GoogleTest finished (exit code {code}), {where}"
    if status == "ended badly":
        return f"{name} wrote its report but ended with exit code {code}, after {last}"
    if status == "ran nothing":
        return f"{name} ran no test case"
    if status == "ended on its time-out":
        return f"{name} was ended on its time-out, " + ("before any case started" if last is None else f"in {last}")
    return f"{name} {status}"


def main() -> int:
    report, log, exit_code = pathlib.Path(sys.argv[1]), pathlib.Path(sys.argv[2]), int(sys.argv[3])
    log_text = log.read_text(errors="replace") if log.is_file() else ""
    outcome = judge(report, log_text, exit_code)
    outcome["log"] = str(log)
    run = re.search(r"\.run(\d+)\.log$", log.name)
    outcome["run"] = int(run.group(1)) if run else 1
    log.with_suffix(".json").write_text(json.dumps(outcome))
    if outcome["status"] == "passed":
        return 0
    print(f"kestrune: {describe(report.stem, outcome)}")
    return 1


if __name__ == "__main__":
    sys.exit(main())
