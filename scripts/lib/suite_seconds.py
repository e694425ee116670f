"""Writes tests/suite_seconds.txt, how long each CTest test took, per target, from the CTest logs
of a passing run of scripts/test; cmake/googletest.cmake makes each test's time-out about three
times that. Run it after a change that makes a suite much longer or shorter:

    python3 scripts/lib/suite_seconds.py build/x86_64/ctest.log build/i686/ctest.log > tests/suite_seconds.txt
"""
import math
import pathlib
import re
import sys

RESULT = re.compile(r"Test +#\d+: (\S+) \.+ +Passed +([\d.]+) sec")
HEADER = """# Seconds each CTest test took in a passing run of scripts/test, per target: "target test seconds".
# Written by scripts/lib/suite_seconds.py; cmake/googletest.cmake sets each time-out from it."""


def main() -> int:
    lines = [HEADER]
    for log in sys.argv[1:]:
        target = pathlib.Path(log).parent.name
        for match in RESULT.finditer(pathlib.Path(log).read_text(errors="replace")):
            lines.append(f"{target} {match.group(1)} {math.ceil(float(match.group(2)))}")
    print("\n".join(lines))
    return 0


if __name__ == "__main__":
    sys.exit(main())
