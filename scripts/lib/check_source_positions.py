#!/usr/bin/env python3
"""Lists statements of the host's own code that lack the source-position marker LN.

Every statement of a function defined in a .cpp file under src/ starts with LN (see
src/fault/source_position.h), so that a fatal error report names the file and line the host
last reached. This script reads src/ (or the files given) and prints one line per finding:

    src/core/lifecycle.cpp:42: statement without LN
    src/ui/tray_icon.cpp:17: LN as the lone body of if/else/for/while/do guards only the store
    src/core/owner.h:28: LN in a header: its functions report their caller's line

Never marked:
  - functions defined in headers (.h): small inline helpers called from marked statements,
    so that a fault inside one reports the line of the call;
  - src/fault/fault_report.cpp, which runs once a fault has been caught and must not move
    the position it reports.
A marker in either is a finding. Not marked either, inside marked files:
  - break; and continue; (they evaluate nothing, and the next statement reached is marked),
  - static_assert, using and typedef, and constexpr or consteval functions (compile time only),
  - KESTRUNE_CHECK (nothing in what ships; a failed check names its own file and line),
  - the lone body of an if/else/for/while/do, on the header's line or on a line below it
    where clang-format wrapped it (the header's marker holds the statement's first line).
It also checks that file names in src/ differ: a report names a file without its folder
(SourceFileNames, which the build writes from the host's sources).

Layout is format.py's (clang-format with .clang-format at the root); the checker reads tokens,
not layout, and accepts clang-format's output of every file in src/ too.

Exit code 0 when nothing is found, 1 otherwise. --summary prints counts per file instead.
--fix puts LN before every statement that lacks it (the findings are still printed, as they
were before the fix) and formats the files it marked with format.py. The other kinds of finding
need a person.
"""
import argparse
import os
import re
import sys
from collections import Counter

from format import main as format_files

MARKER = "LN"
# Files whose functions are never marked, besides headers, and why.
UNMARKED_FILES = {
    "src/fault/fault_report.cpp": "the fault report: it must not move the position it reports",
}
HEADER_REASON = "a header: its functions report their caller's line"
EXEMPT_STATEMENTS = {"break", "continue", "static_assert", "using", "typedef", "KESTRUNE_CHECK"}
COMPILE_TIME = {"constexpr", "consteval"}
FUNCTION_QUALIFIERS = {"const", "noexcept", "override", "final", "mutable", "volatile", "&", "&&"}
CONTROL = {"if", "while", "for", "switch"}


class Token:
    __slots__ = ("text", "line", "offset")

    def __init__(self, text, line, offset):
        self.text = text
        self.line = line
        self.offset = offset

    def __repr__(self):
        return f"{self.text}@{self.line}"


TOKEN_PATTERN = re.compile(
    r"""
    (?P<newline>\n)
  | (?P<space>[ \t\r\f\v]+)
  | (?P<line_comment>//[^\n]*)
  | (?P<block_comment>/\*.*?\*/)
  | (?P<raw_string>(?:u8|u|U|L)?R"(?P<delim>[^(\s]*)\(.*?\)(?P=delim)")
  | (?P<string>(?:u8|u|U|L)?"(?:\\.|[^"\\\n])*")
  | (?P<char>(?:u8|u|U|L)?'(?:\\.|[^'\\\n])*')
  | (?P<number>\.?[0-9](?:[0-9a-zA-Z_.']|[eEpP][+-])*)
  | (?P<word>[A-Za-z_][A-Za-z0-9_]*)
  | (?P<punct>::|->|&&|\|\||<<=|>>=|[-+*/%&|^!=<>]=|\+\+|--|<<|\.\.\.|.)
    """,
    re.VERBOSE | re.DOTALL,
)


def tokenize(source):
    """Tokens of source without comments and preprocessor lines."""
    tokens = []
    line, position, at_line_start = 1, 0, True
    while position < len(source):
        if at_line_start:
            stripped = re.match(r"[ \t]*#", source[position:])
            if stripped:
                # A preprocessor line, with its backslash continuations.
                end = position
                while True:
                    newline = source.find("\n", end)
                    if newline == -1:
                        end = len(source)
                        break
                    if source[newline - 1] == "\\" or source[newline - 2:newline] == "\\\r":
                        line += 1
                        end = newline + 1
                        continue
                    end = newline
                    break
                position = end
                at_line_start = False
                continue
        match = TOKEN_PATTERN.match(source, position)
        kind, text = match.lastgroup, match.group()
        if kind == "delim":
            kind = "raw_string"
        if kind == "newline":
            line += 1
            at_line_start = True
        elif kind in ("line_comment", "block_comment"):
            line += text.count("\n")
        elif kind != "space":
            tokens.append(Token(text, line, position))
            line += text.count("\n")
            at_line_start = False
        position = match.end()
    tokens.append(Token("<end>", line, len(source)))
    return tokens


def unmarked_reason(path):
    """Why the functions of the file at path (relative to the root) are never marked, or None."""
    path = path.replace(os.sep, "/")
    if path.endswith(".h"):
        return HEADER_REASON
    return UNMARKED_FILES.get(path)


class Checker:
    def __init__(self, path, source):
        self.path = path
        self.tokens = tokenize(source)
        self.unmarked = unmarked_reason(path)
        self.findings = []
        self.missing = []  # source offsets of statements without a marker
        self.marked = 0

    def report(self, line, message):
        self.findings.append((self.path, line, message))

    def text(self, i):
        return self.tokens[i].text

    # ---- declarations at namespace and class scope ----

    def run(self):
        end = self.declarations(0)
        if self.text(end) != "<end>":
            self.report(self.tokens[end].line, "unbalanced braces")
        return self.findings

    def declarations(self, i):
        """Declarations until the closing brace of the scope (returns its index) or the end."""
        while self.text(i) not in ("}", "<end>"):
            i = self.declaration(i)
        return i

    def declaration(self, i):
        head = []
        while True:
            text = self.text(i)
            if text in ("public", "private", "protected") and self.text(i + 1) == ":" and not head:
                i += 2
                continue
            if text == "<end>" or text == "}":
                return i
            if text == ";":
                return i + 1
            if text == "(":
                i = self.skip_balanced(i, "(", ")")
                head.append("()")
                continue
            if text == "operator":
                # operator=, operator(), operator bool: one name, so "=" is not an initializer.
                name = "operator"
                i += 1
                if self.text(i) == "(" and self.text(i + 1) == ")":
                    name, i = "operator()", i + 2
                while self.text(i) not in ("(", "<end>"):
                    name += self.text(i)
                    i += 1
                head.append(name)
                continue
            if text == "template" and not head and self.text(i + 1) == "<":
                i = self.skip_angles(i + 1)
                continue
            if text == "{":
                return self.brace_in_declaration(i, head)
            head.append(text)
            i += 1

    def brace_in_declaration(self, i, head):
        if "namespace" in head or head[:2] == ["extern", '"C"']:
            return self.declarations(i + 1) + 1
        before_parens = head[: head.index("()")] if "()" in head else head
        if any(word in ("class", "struct", "union") for word in before_parens) and "=" not in head:
            close = self.declarations(i + 1)
            return self.finish_declaration(close + 1)
        if "enum" in before_parens or "=" in head or "()" not in head:
            # An enumeration or an initializer, possibly holding lambdas.
            close = self.expression_braces(i)
            return self.finish_declaration(close + 1)
        # A function. A constructor's member initializers may use braces of their own.
        after_parens = head[head.index("()") + 1:]
        if ":" in after_parens and head[-1] not in FUNCTION_QUALIFIERS and head[-1] not in (")", "()"):
            close = self.expression_braces(i)
            return self.declaration_continues(close + 1, head + ["{}"])
        if any(word in COMPILE_TIME for word in before_parens):
            close = self.skip_balanced(i, "{", "}") - 1
        else:
            close = self.block(i)
        return close + 1

    def declaration_continues(self, i, head):
        while self.text(i) not in ("{", ";", "<end>", "}"):
            if self.text(i) == "(":
                i = self.skip_balanced(i, "(", ")")
                continue
            head.append(self.text(i))
            i += 1
        if self.text(i) == "{":
            if self.tokens[i - 1].text in (")", "}"):
                head.append(")")
            return self.brace_in_declaration(i, head)
        return i + (self.text(i) == ";")

    def finish_declaration(self, i):
        # After a class body or an initializer: declarators up to the semicolon.
        while self.text(i) not in (";", "<end>", "}"):
            i += 1
        return i + (self.text(i) == ";")

    # ---- function bodies ----

    def block(self, i):
        """Statements of the block opening at i; returns the index of its closing brace."""
        i += 1
        while self.text(i) not in ("}", "<end>"):
            i = self.statement(i, "block")
        return i

    def statement(self, i, context):
        """context: "block" (the statement must be marked) or "sub" (the lone body of a
        control statement, which its header's marker covers)."""
        marked = False
        if self.text(i) == MARKER:
            marked = True
            self.marked += 1
            if self.unmarked:
                self.report(self.tokens[i].line, f"{MARKER} in {self.unmarked}")
            elif context == "sub":
                self.report(self.tokens[i].line,
                            f"{MARKER} as the lone body of if/else/for/while/do guards only the store")
            elif self.tokens[i + 1].line != self.tokens[i].line:
                self.report(self.tokens[i].line, f"{MARKER} on a line of its own marks the wrong line")
            i += 1
        text = self.text(i)
        line = self.tokens[i].line
        if text == "{":
            return self.block(i) + 1
        if text in ("case", "default") or (re.match(r"[A-Za-z_]\w*$", text) and self.text(i + 1) == ":"
                                           and text not in ("public", "private", "protected")):
            if marked:
                self.report(line, f"{MARKER} before a label belongs to the statement before it")
            while self.text(i) != ":":
                i += 1
            if self.text(i + 1) == "}":
                return i + 1
            return self.statement(i + 1, "block")
        if text == ";":
            return i + 1
        needs_marker = not self.unmarked and context != "sub" and text not in EXEMPT_STATEMENTS and not (
            text in COMPILE_TIME or (text == "static" and self.text(i + 1) in COMPILE_TIME))
        if needs_marker and not marked:
            self.report(line, f"statement without {MARKER}")
            self.missing.append(self.tokens[i].offset)
        if text in ("if", "while", "for", "switch"):
            i += 1
            if self.text(i) == "constexpr":
                i += 1
            close = self.expression_parens(i)
            i = self.substatement(close + 1)
            if text == "if" and self.text(i) == "else":
                i = self.substatement(i + 1)
            return i
        if text == "do":
            i = self.substatement(i + 1)
            if self.text(i) == "while":
                i = self.expression_parens(i + 1) + 1
            return i + (self.text(i) == ";")
        return self.expression_statement(i)

    def substatement(self, i):
        if self.text(i) == "{":
            return self.block(i) + 1
        # else if, or a lone body, on the header's line or wrapped below it: the header's
        # marker holds the statement's first line.
        return self.statement(i, "sub")

    def expression_statement(self, i):
        while self.text(i) not in (";", "<end>"):
            if self.text(i) == "}":
                self.report(self.tokens[i].line, "statement without a semicolon")
                return i
            i = self.expression_item(i)
        return i + 1

    def expression_item(self, i):
        text = self.text(i)
        if text == "(":
            return self.expression_parens(i) + 1
        if text == "[":
            return self.expression_brackets(i) + 1
        if text == "{":
            if self.is_lambda_body(i):
                return self.block(i) + 1
            return self.expression_braces(i) + 1
        return i + 1

    def expression_parens(self, i):
        """Index of the ) closing the ( at i; lambdas inside are checked."""
        return self.expression_group(i, ")")

    def expression_brackets(self, i):
        return self.expression_group(i, "]")

    def expression_braces(self, i):
        return self.expression_group(i, "}")

    def expression_group(self, i, closing):
        i += 1
        while self.text(i) not in (closing, "<end>"):
            if self.text(i) in (")", "]", "}"):
                self.report(self.tokens[i].line, f"unbalanced {self.text(i)}")
                return i
            i = self.expression_item(i)
        return i

    def is_lambda_body(self, i):
        previous = self.text(i - 1)
        if previous in (")", "]", "mutable", "noexcept"):
            return True
        # A trailing return type: [..](..) -> Type {
        j = i - 1
        while j > 0 and (re.match(r"\w+$", self.text(j)) or self.text(j) in ("::", "<", ">", "*", "&")):
            j -= 1
        return self.text(j) == "->"

    def skip_balanced(self, i, opening, closing):
        depth = 0
        while self.text(i) != "<end>":
            if self.text(i) == opening:
                depth += 1
            elif self.text(i) == closing:
                depth -= 1
                if depth == 0:
                    return i + 1
            i += 1
        return i

    def skip_angles(self, i):
        depth = 0
        while self.text(i) != "<end>":
            if self.text(i) == "<":
                depth += 1
            elif self.text(i) == ">":
                depth -= 1
                if depth == 0:
                    return i + 1
            elif self.text(i) == ">>":
                depth -= 2
                if depth <= 0:
                    return i + 1
            i += 1
        return i


def source_files(root):
    found = []
    for folder, _, names in os.walk(os.path.join(root, "src")):
        for name in sorted(names):
            if name.endswith((".cpp", ".h")):
                found.append(os.path.join(folder, name))
    return sorted(found)


def add_markers(source, offsets):
    """source with the marker put before the statement at each offset, and the marker's
    header included after the last include when it is not yet."""
    for offset in sorted(offsets, reverse=True):
        source = source[:offset] + MARKER + " " + source[offset:]
    if offsets and "source_position.h\"" not in source:
        includes = list(re.finditer(r"^#include [<\"].*\n", source, re.MULTILINE))
        at = includes[-1].end() if includes else 0
        source = source[:at] + '#include "fault/source_position.h"\n' + source[at:]
    return source


def check(paths, root, fix=False):
    """Findings for the files at paths, and with fix the files it marked."""
    findings, fixed = [], []
    for path in paths:
        with open(path, encoding="utf-8") as file:
            source = file.read()
        relative = os.path.relpath(path, root)
        checker = Checker(relative, source)
        findings += checker.run()
        if fix and checker.missing:
            with open(path, "w", encoding="utf-8") as file:
                file.write(add_markers(source, checker.missing))
            fixed.append(path)
    counts = Counter(os.path.basename(path) for path in source_files(root))
    for name, count in sorted(counts.items()):
        if count > 1:
            findings.append(("src", 1, f"{count} files are called {name}: a report could not tell them apart"))
    return findings, fixed


def main(arguments):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("files", nargs="*", help="files to check (default: every .cpp and .h under src/)")
    parser.add_argument("--root", default=os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", ".."))
    parser.add_argument("--summary", action="store_true", help="print the number of findings per file")
    parser.add_argument("--fix", action="store_true",
                        help="put the marker before every statement that lacks one and format the files so "
                        "marked (other findings stay for a person)")
    options = parser.parse_args(arguments)
    root = os.path.abspath(options.root)
    paths = [os.path.abspath(path) for path in options.files] or source_files(root)
    findings, fixed = check(paths, root, options.fix)
    if options.summary:
        for path, count in sorted(Counter(path for path, _, _ in findings).items()):
            print(f"{count:5d}  {path}")
    else:
        for path, line, message in findings:
            print(f"{path}:{line}: {message}")
    print(f"{len(findings)} finding(s) in {len(paths)} file(s)", file=sys.stderr)
    # A marker moves its statement three columns on: its continuation lines follow it.
    if fixed and format_files(fixed) != 0:
        print("the files marked could not be formatted", file=sys.stderr)
        return 1
    return 1 if findings else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
