"""Adds up the GoogleTest results that the CTest runs left as XML, per target."""
import pathlib
import sys
import xml.etree.ElementTree as ET


def summarize(folder: pathlib.Path) -> tuple[int, int, int]:
    tests = failures = skipped = 0
    for report in sorted(folder.glob("*.xml")):
        root = ET.parse(report).getroot()
        tests += int(root.get("tests", 0))
        failures += int(root.get("failures", 0)) + int(root.get("errors", 0))
        skipped += int(root.get("skipped", 0)) + int(root.get("disabled", 0))
    return tests, failures, skipped


def main() -> int:
    ok = True
    for name in sys.argv[1:]:
        folder = pathlib.Path(name)
        if not folder.is_dir():
            print(f"{name}: no results")
            ok = False
            continue
        tests, failures, skipped = summarize(folder)
        print(f"{folder.parent.name}: {tests} test cases, {failures} failed, {skipped} skipped")
        ok = ok and failures == 0 and tests > 0
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
