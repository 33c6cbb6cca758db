#!/usr/bin/env python3
"""Lines of test code against lines of product code, as cloc counts them:
lines that are neither blank nor comment, in the files git tracks. Tests are
tests/; the product is src/, include/ and tools/. Preprocessor lines are code
in C and C++; '#' starts a comment only in shell, Python and CMake.

    python3 scripts/test-ratio.py          # prints both counts and the ratio
"""
import os
import subprocess
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
SLASH = (".c", ".cc", ".cpp", ".h", ".hpp", ".js", ".proto")
HASH = (".sh", ".py", ".cmake", "CMakeLists.txt")
LIMIT = 0.35


def code_lines(path):
    """Non-blank, non-comment lines of one file."""
    hash_comments = path.endswith(HASH)
    count, in_block = 0, False
    with open(os.path.join(ROOT, path), encoding="utf-8", errors="replace") as f:
        for line in f:
            s = line.strip()
            if not s:
                continue
            if hash_comments:
                count += not s.startswith("#")
                continue
            if in_block:
                in_block = "*/" not in s
                continue
            if s.startswith("/*"):
                in_block = "*/" not in s
                continue
            count += not s.startswith("//")
    return count


def count(folders):
    files = subprocess.run(["git", "ls-files", "--"] + folders, cwd=ROOT, check=True,
                           capture_output=True, text=True).stdout.split()
    return sum(code_lines(f) for f in files if f.endswith(SLASH + HASH))


def main():
    tests, product = count(["tests"]), count(["src", "include", "tools"])
    ratio = tests / product
    print("tests %d, product %d: %.3f (at most %.2f)" % (tests, product, ratio, LIMIT))
    return 0 if ratio <= LIMIT else 1


if __name__ == "__main__":
    sys.exit(main())
