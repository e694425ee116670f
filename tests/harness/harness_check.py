"""Runs the probe program through CTest and wine-exec, as the suites run, once per way of ending,
and checks that CTest calls every end other than GoogleTest's own a failure, that the test
summary names the case that was running, and that no end waits for a debugger. One run leaves a
process of its own behind in the prefix and then hangs until its time-out: the next run must
still pass, the summary must name what was left, and nothing of it may run on.

    harness_check.py path/to/harness_probe.exe
"""
import os
import pathlib
import re
import shutil
import subprocess
import sys
import threading
import time

ROOT = pathlib.Path(__file__).resolve().parents[2]
LIB = ROOT / "scripts" / "lib"
# A crash that waits for a debugger would sit at this limit; one that ends at once takes seconds.
TEST_TIMEOUT = 120
ENDS = {"clean": None, "crash": "crash", "abort": "abort", "exit": "exit"}
# In this order: the run after the one that leaves a process behind must still pass.
LEAVES = {"leave": "leave", "after_leave": None}
LEAVE_TIMEOUT = 30


def write_ctest_project(folder: pathlib.Path, probe: pathlib.Path) -> None:
    lines = []
    for name, end in {**ENDS, **LEAVES}.items():
        report = f"Z:{folder}/results/probe.{name}.xml"
        lines.append(f'add_test(probe.{name} "{LIB / "wine-exec"}" "{probe}" "--gtest_output=xml:{report}")')
        properties = f"TIMEOUT {LEAVE_TIMEOUT if name == 'leave' else TEST_TIMEOUT}"
        if end:
            properties += f' ENVIRONMENT "KESTRUNE_PROBE_END={end}"'
        lines.append(f"set_tests_properties(probe.{name} PROPERTIES {properties})")
    (folder / "CTestTestfile.cmake").write_text("\n".join(lines) + "\n")


def watch_for_debuggers(seen: list, stop: threading.Event) -> None:
    """Collects Wine debugger processes of this prefix while the runs go on (Wine announces
    "starting debugger" whatever the prefix says, so only the process itself tells)."""
    prefix = os.environ.get("WINEPREFIX", str(ROOT / "build" / "wineprefix"))
    while not stop.wait(0.1):
        for proc in pathlib.Path("/proc").glob("[0-9]*"):
            try:
                if b"winedbg" in (proc / "cmdline").read_bytes() and \
                        f"WINEPREFIX={prefix}".encode() in (proc / "environ").read_bytes().split(b"\0"):
                    seen.append(proc.name)
            except OSError:
                pass


def check_leftovers(ctest_output: str, summary_output: str) -> list[str]:
    problems = []
    if not re.search(r"Test +#\d+: probe\.leave \.+\**Timeout", ctest_output):
        problems.append("probe.leave did not end on its time-out")
    if not re.search(r"Test +#\d+: probe\.after_leave \.+ +Passed", ctest_output):
        problems.append("probe.after_leave, the run after a process was left behind, did not pass")
    if not re.search(r"probe\.after_leave: was still running when it started \(left by the program before it\), "
                     r"at run1, ended by the harness: .*harness_probe\.exe", summary_output):
        problems.append("the summary does not name the process probe.leave left running")
    sys.path.insert(0, str(LIB))
    from prefix_processes import strangers  # noqa: E402
    still = [process for process in strangers() if process["name"] == "harness_probe.exe"]
    if still:
        problems.append(f"the process left behind still runs: {still}")
    return problems


def main() -> int:
    probe = pathlib.Path(sys.argv[1]).resolve()
    folder = probe.parent.parent / "harness-check"
    shutil.rmtree(folder, ignore_errors=True)
    folder.mkdir(parents=True)
    write_ctest_project(folder, probe)

    debuggers, stop = [], threading.Event()
    watcher = threading.Thread(target=watch_for_debuggers, args=(debuggers, stop))
    watcher.start()
    started = time.monotonic()
    ctest = subprocess.run(["ctest", "--test-dir", str(folder)], capture_output=True, text=True)
    elapsed = time.monotonic() - started
    stop.set()
    watcher.join()
    listing = folder / "ctest-tests.json"
    listing.write_text(subprocess.run(["ctest", "--test-dir", str(folder), "--show-only=json-v1"],
                                      capture_output=True, text=True).stdout)
    summary = subprocess.run([sys.executable, str(LIB / "test_summary.py"), str(listing)],
                             capture_output=True, text=True)
    print(ctest.stdout, summary.stdout, sep="\n")

    problems = []
    if ctest.returncode == 0:
        problems.append("ctest passed a run in which programs crashed")
    for name in ENDS:
        result = re.search(rf"Test +#\d+: probe\.{name} \.+\**\s*(\w[\w ]*?)\s+([\d.]+) sec", ctest.stdout)
        if not result:
            problems.append(f"probe.{name}: no result line")
            continue
        verdict, seconds = result.group(1), float(result.group(2))
        expected = "Passed" if name == "clean" else "Failed"
        if verdict != expected:
            problems.append(f"probe.{name}: {verdict}, expected {expected}")
        if seconds >= TEST_TIMEOUT / 2:
            problems.append(f"probe.{name} took {seconds:.0f} s: something waited for the crash")
        if name != "clean" and f"probe.{name} ended before GoogleTest finished" not in summary.stdout + ctest.stdout:
            problems.append(f"probe.{name}: not named as ended early")
        if name != "clean" and not re.search(rf"probe\.{name} ended before .*, in HarnessProbe\.EndsAsAsked",
                                             summary.stdout):
            problems.append(f"probe.{name}: the summary does not name the case that was running")
    if summary.returncode == 0:
        problems.append("the summary passed a run in which programs crashed")
    if debuggers:
        problems.append(f"a crash started Wine's debugger (process {debuggers[0]})")
    problems += check_leftovers(ctest.stdout, summary.stdout)
    for problem in problems:
        print("PROBLEM:", problem)
    print(f"harness check: {len(problems)} problems, {elapsed:.1f} s for {len(ENDS)} runs")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
