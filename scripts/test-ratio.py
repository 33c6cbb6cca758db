#!/usr/bin/env python3
"""Lines of test code against lines of product code, as the project counts
them: lines that are neither blank nor start a comment ('//' or '#', in every
kind of file, so C and C++ preprocessor lines count as neither), in the files
git tracks. Tests are tests/; the product is src/, include/ and tools/.

    python3 scripts/test-ratio.py          # prints both counts and the ratio
"""
import os
import subprocess
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
SOURCES = (".c", ".cc", ".cpp", ".h", ".hpp", ".js", ".sh", ".py")
LIMIT = 0.35


def code_lines(path):
    """Non-blank, non-comment lines of one file."""
    with open(os.path.join(ROOT, path), encoding="utf-8", errors="replace") as f:
        return sum(1 for line in f if line.strip() and not line.lstrip().startswith(("//", "#")))


def count(folders):
    files = subprocess.run(["git", "ls-files", "--"] + folders, cwd=ROOT, check=True,
                           capture_output=True, text=True).stdout.split()
    return sum(code_lines(f) for f in files if f.endswith(SOURCES))


def main():
    tests, product = count(["tests"]), count(["src", "include", "tools"])
    ratio = tests / product
    print("tests %d, product %d: %.4f (at most %.2f)" % (tests, product, ratio, LIMIT))
    return 0 if ratio <= LIMIT else 1


if __name__ == "__main__":
    sys.exit(main())
