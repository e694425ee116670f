#!/usr/bin/env python3
"""Formats C and C++ files with clang-format, keeping the source-position marker's layout.

    format.py FILE...          formats the files in place
    format.py --check FILE...  shows what formatting would change; exit code 1 when anything
    format.py --check          the same for every tracked C and C++ file

clang-format 14 takes the marker LN for the start of a declaration in four places (19 does too):
it moves the else of a marked if and the while of a marked do loop to lines of their own, and
writes "LN* p" and "LN++ i". Everything else it lays out as .clang-format says. So the files go
through clang-format whole, and those four are put back as they were meant.
"""
import difflib
import pathlib
import re
import subprocess
import sys

ROOT = pathlib.Path(__file__).resolve().parents[2]
SUFFIXES = (".c", ".cpp", ".h")
CLANG_FORMAT = "clang-format"

# What clang-format makes of the marker, and what it was.
REPAIRS = [
    # "} else" split after the block of a marked if.
    (re.compile(r"^([ \t]*)\}\n[ \t]*else\b", re.M), r"\1} else"),
    # "} while (...);" of a marked do loop, split into a loop with an empty body.
    (re.compile(r"^([ \t]*)\}\n[ \t]*(while \(.*\))\n[ \t]*;$", re.M), r"\1} \2;"),
    # Unary operators after the marker, or after the condition of a marked if, taken for a
    # declarator's or for postfix ones: "LN* p", "LN++* p", "LN if (p)++* p".
    (re.compile(r"^([ \t]*LN(?: (?:if|while|for) \(.*\))?)((?:[*&]|\+\+|--)(?: ?(?:[*&]|\+\+|--))*) (?=[\w(])",
                re.M), lambda m: m.group(1) + " " + m.group(2).replace(" ", "")),
]


def formatted(path):
    """The file's text as it should be, or None when clang-format failed on it."""
    run = subprocess.run([CLANG_FORMAT, "--style=file", f"--assume-filename={path}"],
                         input=pathlib.Path(path).read_text(), capture_output=True, text=True, cwd=ROOT)
    if run.returncode != 0:
        sys.stderr.write(run.stderr)
        return None
    text = run.stdout
    for pattern, replacement in REPAIRS:
        text = pattern.sub(replacement, text)
    return text


def tracked_sources():
    listing = subprocess.run(["git", "ls-files"], capture_output=True, text=True, cwd=ROOT, check=True)
    return [ROOT / name for name in listing.stdout.splitlines() if name.endswith(SUFFIXES)]


def main(arguments):
    check = "--check" in arguments
    paths = [pathlib.Path(a) for a in arguments if a != "--check"] or tracked_sources()
    unformatted = 0
    for path in paths:
        text = path.read_text()
        wanted = formatted(path)
        if wanted is None:
            return 2
        if wanted == text:
            continue
        unformatted += 1
        if check:
            sys.stdout.writelines(difflib.unified_diff(text.splitlines(True), wanted.splitlines(True),
                                                       str(path), f"{path} (formatted)"))
        else:
            path.write_text(wanted)
    if check and unformatted:
        print(f"{unformatted} file(s) not formatted; scripts/lib/format.py FILE... formats them", file=sys.stderr)
    return 1 if check and unformatted else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
