#!/usr/bin/env python3
"""Mutation testing for the driver library and the tools.

Makes one small change at a time to the product code (src/, include/ and the
tools' folders), rebuilds, and runs the fast tests that can see that code. A
mutant that makes a test fail (or hang) is killed; one that passes every test
survived, and marks a fault the tests would miss.

The product files are never edited in place: the tool keeps a copy of the
source tree in its build folder (default build/mutate/tree), builds it in
build/mutate/build, and changes only the copy. Each mutated file is restored
in the copy after its mutant, on Ctrl-C and on any error, and a fresh run
re-syncs the copy from the working tree first, so even a killed run leaves
nothing behind.

    python3 scripts/mutate.py --seed 1 --count 300 --report docs/mutation/before.md
    python3 scripts/mutate.py --list --files 'src/core/*'      # candidates only
    python3 scripts/mutate.py --seed 1 --ids 12,40 --all        # every test that kills 12 and 40
    python3 scripts/mutate.py --fast --files 'tools/marovin-host/*'   # the host, fast tests only

Mutants: a comparison flipped (< to >=, == to != ...), a bound moved (< to
<=, an integer literal in a comparison +1/-1), a statement dropped (an
expression statement removed, a return value forced to its type's empty
value, or true/false swapped), a branch condition negated, and an integer
constant changed (k to k+1, 0, 1). Comments, strings, preprocessor lines and
static_asserts are left alone.

Which tests run: for a mutant in src/ or include/, the GoogleTest executables
that include library headers (and the plain reload test); for a tool folder,
the executables that include that folder's headers, then the shell tests of
tests/scripts (line_soak_test.sh excluded: it is long). Each test runs with a
timeout derived from its time on the unmutated build; the first failing test
kills the mutant (all of them with --all). A failing test is run once more to
confirm, so a test that fails by chance on a loaded machine kills nothing.
"""

import argparse
import datetime
import fcntl
import fnmatch
import hashlib
import json
import os
import random
import re
import shutil
import signal
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))

PRODUCT_DIRS = ["src", "include", "tools/device", "tools/port", "tools/marovin-host", "tools/marovin-sim"]
SOURCE_EXTS = (".cpp", ".h")
SLOW_SCRIPTS = {"line_soak_test.sh"}
# Include search paths for finding which product folders a test can see.
INCLUDE_PATHS = ["tests/support", "include", "src", "src/core", "tools/device", "tools/port",
                 "tools/marovin-host", "tools/marovin-sim"]

# ---------------------------------------------------------------- where the sources come from

SOURCE = {"rev": None, "files": None}  # files: {path: (bytes, executable)} of a revision, when one is given


def use_revision(rev):
    """Takes every file from git revision `rev` instead of the working tree."""
    import io
    import tarfile
    data = subprocess.run(["git", "archive", "--format=tar", rev], cwd=ROOT, check=True, capture_output=True).stdout
    files = {}
    with tarfile.open(fileobj=io.BytesIO(data)) as tar:
        for m in tar.getmembers():
            if m.isfile():
                files[m.name] = (tar.extractfile(m).read(), bool(m.mode & 0o111))
    SOURCE["rev"], SOURCE["files"] = rev, files


def source_files():
    """Paths of the source tree (working tree or revision), build folders left out."""
    if SOURCE["files"] is not None:
        files = list(SOURCE["files"])
    else:
        try:
            out = subprocess.run(["git", "ls-files", "-co", "--exclude-standard", "-z"], cwd=ROOT,
                                 check=True, capture_output=True).stdout.decode()
            files = [f for f in out.split("\0") if f]
        except (OSError, subprocess.CalledProcessError):
            files = []
            for base, dirs, names in os.walk(ROOT):
                dirs[:] = [d for d in dirs if d != ".git" and not d.startswith("build")]
                files.extend(os.path.relpath(os.path.join(base, n), ROOT) for n in names)
        files = [f for f in files if os.path.isfile(os.path.join(ROOT, f))]
    return sorted(f for f in files if not f.startswith("build"))


def source_read(rel):
    """(bytes, executable) of a source file."""
    if SOURCE["files"] is not None:
        return SOURCE["files"][rel]
    path = os.path.join(ROOT, rel)
    with open(path, "rb") as f:
        return f.read(), os.access(path, os.X_OK)

# ---------------------------------------------------------------- scanning C++


def mask_code(text):
    """Text of the same length with comments, string and character literals blanked."""
    out = list(text)
    i, n = 0, len(text)

    def blank(a, b):
        for k in range(a, b):
            if out[k] != "\n":
                out[k] = " "

    while i < n:
        c = text[i]
        if text.startswith("//", i):
            j = text.find("\n", i)
            j = n if j < 0 else j
            blank(i, j)
            i = j
        elif text.startswith("/*", i):
            j = text.find("*/", i + 2)
            j = n if j < 0 else j + 2
            blank(i, j)
            i = j
        elif c == "R" and text.startswith('R"', i) and (i == 0 or not (text[i - 1].isalnum() or text[i - 1] == "_")):
            m = re.match(r'R"([^()\\ ]{0,16})\(', text[i:])
            if not m:
                i += 1
                continue
            end = text.find(")" + m.group(1) + '"', i)
            j = n if end < 0 else end + len(m.group(1)) + 2
            blank(i, j)
            i = j
        elif c == '"' or (c == "'" and not (i > 0 and text[i - 1].isalnum() and i + 1 < n and text[i + 1].isalnum())):
            j = i + 1
            while j < n and text[j] != c and text[j] != "\n":
                j += 2 if text[j] == "\\" else 1
            j = min(j + 1, n)
            blank(i, j)
            i = j
        else:
            i += 1
    return "".join(out)


def skipped_lines(lines, masked_lines):
    """Line numbers (0-based) not to mutate: preprocessor lines and static_asserts."""
    skip = set()
    cont = False
    for k, line in enumerate(lines):
        if cont or masked_lines[k].lstrip().startswith("#"):
            skip.add(k)
            cont = line.rstrip().endswith("\\")
    in_assert = False
    for k, m in enumerate(masked_lines):
        if "static_assert" in m:
            in_assert = True
        if in_assert:
            skip.add(k)
            if ";" in m:
                in_assert = False
    return skip


NOT_MEANINGFUL = re.compile(r"\b(static_assert|Q_UNUSED|Q_ASSERT|assert|alignas|reserve|sizeof|template|namespace)\b")
LITERAL = re.compile(r"(?<![\w.'])(0[xX][0-9a-fA-F]+|\d+)([uUlL]*)(?![\w.'])")
COMPARISON = re.compile(r" (<=|>=|==|!=|<|>) ")
ASSIGNMENT = re.compile(r" (=|\+=|-=|\*=|/=|%=|&=|\|=|\^=|<<=|>>=) ")
FLIP = {"<": ">=", ">=": "<", ">": "<=", "<=": ">", "==": "!=", "!=": "=="}
BOUND = {"<": "<=", "<=": "<", ">": ">=", ">=": ">"}
KEYWORDS = {"return", "break", "continue", "goto", "case", "default", "if", "for", "while", "do", "else",
            "switch", "typedef", "using", "namespace", "struct", "class", "enum", "template", "static",
            "const", "constexpr", "auto", "public", "private", "protected", "delete", "throw", "extern",
            "inline", "virtual", "friend", "unsigned", "signed", "int", "char", "bool", "void", "long",
            "short", "double", "float", "emit", "try", "catch", "operator", "new"}


def literal_value(tok):
    return int(tok, 16) if tok[:2].lower() == "0x" else int(tok, 10)


def literal_text(value, like):
    if value < 0:
        return "-" + literal_text(-value, like)
    if like[:2].lower() == "0x":
        digits = "%X" % value if any(ch in "ABCDEF" for ch in like) else "%x" % value
        return like[:2] + digits.rjust(len(like) - 2, "0")
    return str(value)


def depth0_has_space(s):
    """True when s holds whitespace outside brackets (a declaration's 'Type name')."""
    depth = 0
    for ch in s.strip():
        if ch in "([{<":
            depth += 1
        elif ch in ")]}>":
            depth -= 1
        elif ch.isspace() and depth == 0:
            return True
    return False


def balanced(s):
    depth = 0
    for ch in s:
        if ch == "(":
            depth += 1
        elif ch == ")":
            depth -= 1
            if depth < 0:
                return False
    return depth == 0


def matching_paren(s, open_at):
    depth = 0
    for k in range(open_at, len(s)):
        if s[k] == "(":
            depth += 1
        elif s[k] == ")":
            depth -= 1
            if depth == 0:
                return k
    return -1


def statement_starts(masked_lines, k):
    """True when line k starts a statement (the code before it ends one)."""
    for j in range(k - 1, -1, -1):
        prev = masked_lines[j].strip()
        if not prev:
            continue
        if prev.startswith("#"):
            return True
        return prev[-1] in ";{}:)" or prev.endswith("else")
    return True


class Mutant:
    __slots__ = ("path", "line", "col", "kind", "before", "after", "new_line", "old_line", "ident")

    def __init__(self, path, line, col, kind, before, after, old_line, new_line):
        self.path, self.line, self.col, self.kind = path, line, col, kind
        self.before, self.after = before, after
        self.old_line, self.new_line = old_line, new_line
        self.ident = 0

    def where(self):
        return "%s:%d" % (self.path, self.line)

    def key(self):
        return (self.path, self.line, self.col, self.kind, self.new_line)


def line_mutants(path, k, line, m):
    """Every mutant of one code line; m is the line with comments and strings blanked."""
    found = []

    def add(col, kind, before, after, start, end, replacement):
        new = line[:start] + replacement + line[end:]
        if new != line:
            found.append(Mutant(path, k + 1, col, kind, before, after, line, new))

    comparisons = list(COMPARISON.finditer(m))
    for c in comparisons:
        op = c.group(1)
        a, b = c.start(1), c.end(1)
        add(a, "comparison", op, FLIP[op], a, b, FLIP[op])
        if op in BOUND:
            add(a, "bound", op, BOUND[op], a, b, BOUND[op])
        # An integer literal right beside the operator: moved by one.
        for lit in LITERAL.finditer(m):
            if lit.start() == c.end() or lit.end() == c.start():
                tok, suffix = lit.group(1), lit.group(2)
                v = literal_value(tok)
                for delta in (1, -1):
                    new_tok = literal_text(v + delta, tok) + suffix
                    add(lit.start(), "bound", tok + suffix, new_tok, lit.start(), lit.end(), new_tok)

    for cond in re.finditer(r"\b(if|while)\s*\(", m):
        if re.match(r"\s*constexpr", m[cond.end():]):
            continue
        open_at = cond.end() - 1
        close_at = matching_paren(m, open_at)
        if close_at < 0:
            continue
        inner = line[open_at + 1:close_at]
        add(open_at, "negate", "(" + inner.strip() + ")", "(!(" + inner.strip() + "))",
            open_at + 1, close_at, "!(" + inner + ")")

    stripped = m.strip()
    indent = len(line) - len(line.lstrip())
    if (stripped.endswith(";") and stripped.count(";") == 1 and balanced(stripped)
            and not stripped.startswith(("}", "{", "(", "*", "&", "<", "-", "+", "!", "~", "["))):
        body = stripped[:-1].strip()
        first = re.match(r"[A-Za-z_]\w*", body)
        word = first.group(0) if first else ""
        original = line[indent:m.rindex(";") + 1]
        if word == "return":
            expr = body[len("return"):].strip()
            orig_expr = original[len("return"):].rstrip(";").strip()
            if expr in ("true", "false"):
                swapped = "false" if expr == "true" else "true"
                add(indent, "return", orig_expr, swapped, indent, len(line), "return %s;" % swapped)
            elif expr and expr not in ("0", "nullptr", "NULL", "{}", "-1", "1") and not LITERAL.fullmatch(expr):
                add(indent, "return", orig_expr, "{}", indent, len(line), "return {};")
        elif word and word not in KEYWORDS:
            assign = ASSIGNMENT.search(body)
            is_stmt = False
            if re.fullmatch(r"(\+\+|--)[\w.\->\[\]]+|[\w.\->\[\]]+(\+\+|--)", body):
                is_stmt = True
            elif assign and not depth0_has_space(body[:assign.start()]):
                is_stmt = True
            elif not assign and body.endswith(")"):
                paren = body.find("(")
                is_stmt = paren > 0 and not depth0_has_space(body[:paren])
            if is_stmt and not re.search(r"=\s*(default|delete)$|\)\s*(const\s*)?(override\s*)?=\s*0$", body):
                add(indent, "drop", original, "(removed)", indent, len(line), ";")

    if not NOT_MEANINGFUL.search(m) and not re.search(r"\w+\s+\w+\s*\[", m):
        for lit in LITERAL.finditer(m):
            tok, suffix = lit.group(1), lit.group(2)
            v = literal_value(tok)
            for nv in (v + 1, 0, 1):
                if nv == v:
                    continue
                new_tok = literal_text(nv, tok) + suffix
                add(lit.start(), "constant", tok + suffix, new_tok, lit.start(), lit.end(), new_tok)
    return found


def file_mutants(path):
    text = source_read(path)[0].decode("utf-8")
    lines = text.split("\n")
    masked_lines = mask_code(text).split("\n")
    skip = skipped_lines(lines, masked_lines)
    out = []
    for k, line in enumerate(lines):
        if k in skip or not masked_lines[k].strip():
            continue
        if re.search(r'\bextern\s+"C"|__attribute__', line):
            continue
        for mu in line_mutants(path, k, line, masked_lines[k]):
            # A literal in a call continued from an earlier line, e.g. an argument list, is fine;
            # a dropped statement is only valid where a statement starts.
            if mu.kind in ("drop", "return") and not statement_starts(masked_lines, k):
                continue
            out.append(mu)
    unique = {}
    for mu in out:
        unique.setdefault((mu.line, mu.new_line), mu)
    return sorted(unique.values(), key=Mutant.key)


def product_files(patterns):
    return [f for f in source_files()
            if f.endswith(SOURCE_EXTS) and any(f.startswith(d + "/") for d in PRODUCT_DIRS)
            and (not patterns or any(fnmatch.fnmatch(f, p) for p in patterns))]


def choose_mutants(seed, count, patterns):
    candidates = []
    for path in product_files(patterns):
        candidates.extend(file_mutants(path))
    picked = random.Random(seed).sample(range(len(candidates)), min(count, len(candidates)))
    chosen = sorted((candidates[i] for i in picked), key=Mutant.key)
    for n, mu in enumerate(chosen, 1):
        mu.ident = n
    return chosen, len(candidates)


def group_of(path):
    """The product folder whose tests see a file: src (with include), or a tool folder."""
    if path.startswith(("src/", "include/")):
        return "src"
    return "/".join(path.split("/")[:2])

# ---------------------------------------------------------------- the tree copy and the build


class Workspace:
    def __init__(self, work, jobs):
        self.work = work
        self.tree = os.path.join(work, "tree")
        self.build = os.path.join(work, "build")
        self.jobs = jobs
        self.pending = None  # (path, pristine bytes) while a mutant is in the copy

    def sync(self):
        """Makes the copy equal the source tree; unchanged files keep their times (incremental builds)."""
        os.makedirs(self.tree, exist_ok=True)
        wanted = set(source_files())
        for rel in wanted:
            data, executable = source_read(rel)
            dst = os.path.join(self.tree, rel)
            if os.path.exists(dst):
                with open(dst, "rb") as f:
                    if f.read() == data:
                        continue
            os.makedirs(os.path.dirname(dst), exist_ok=True)
            with open(dst, "wb") as f:
                f.write(data)
            os.chmod(dst, 0o755 if executable else 0o644)
        for base, dirs, names in os.walk(self.tree, topdown=False):
            for n in names:
                rel = os.path.relpath(os.path.join(base, n), self.tree)
                if rel not in wanted:
                    os.remove(os.path.join(base, n))
            if base != self.tree and not os.listdir(base):
                os.rmdir(base)

    def configure(self):
        gen = ["-G", "Ninja"] if shutil.which("ninja") else ["-G", "Unix Makefiles"]
        if os.path.exists(os.path.join(self.build, "CMakeCache.txt")):
            gen = []
        cmd = ["cmake", "-S", self.tree, "-B", self.build] + gen + [
            "-DCMAKE_BUILD_TYPE=Mutate", "-DCMAKE_CXX_FLAGS_MUTATE=-O1 -DNDEBUG", "-DCMAKE_C_FLAGS_MUTATE=-O1 -DNDEBUG",
            "-DMAROVIN_WERROR=OFF", "-DMAROVIN_BUILD_BENCH=OFF", "-DMAROVIN_BUILD_FUZZ=OFF",
            # help2man runs the tools: a mutant that no longer stops at --help would hang the build.
            "-DMAROVIN_BUILD_MANPAGES=OFF",
            "-DCMAKE_LINK_DEPENDS_NO_SHARED=ON"]
        r = subprocess.run(cmd, capture_output=True, text=True)
        if r.returncode != 0:
            sys.exit("configure failed:\n" + r.stdout[-3000:] + r.stderr[-3000:])

    def make(self):
        r = subprocess.run(["cmake", "--build", self.build, "-j", str(self.jobs)], capture_output=True, text=True)
        return r.returncode == 0, r.stdout[-4000:] + r.stderr[-4000:]

    def apply(self, mu):
        dst = os.path.join(self.tree, mu.path)
        with open(dst, "rb") as f:
            pristine = f.read()
        lines = pristine.decode("utf-8").split("\n")
        if lines[mu.line - 1] != mu.old_line:
            raise RuntimeError("%s changed since the mutants were chosen" % mu.where())
        lines[mu.line - 1] = mu.new_line
        self.pending = (dst, pristine)
        self.write(dst, "\n".join(lines).encode("utf-8"))

    def restore(self):
        if self.pending:
            dst, pristine = self.pending
            self.write(dst, pristine)
            self.pending = None

    @staticmethod
    def write(path, data):
        """Writes a file and moves its time forward, so a build in the same instant still sees it."""
        before = os.stat(path).st_mtime_ns
        with open(path, "wb") as f:
            f.write(data)
        now = max(time.time_ns(), before + 1_000_000)
        os.utime(path, ns=(now, now))

    def objects_of(self, path):
        """Object files built from one product .cpp (e.g. src/CMakeFiles/Marovin.dir/core/DataCom.cpp.o)."""
        if not path.endswith(".cpp"):
            return []
        found = []
        for base, dirs, names in os.walk(self.build):
            for n in names:
                if n == os.path.basename(path) + ".o":
                    rel = os.path.relpath(os.path.join(base, n), self.build)
                    m = re.match(r"(.*?)/?CMakeFiles/[^/]+\.dir/(.*)\.o$", rel)
                    if m and os.path.normpath(os.path.join(m.group(1), m.group(2))) == path:
                        found.append(os.path.join(base, n))
        return sorted(found)


def digest(paths):
    h = hashlib.sha256()
    for p in paths:
        with open(p, "rb") as f:
            h.update(f.read())
    return h.hexdigest()

# ---------------------------------------------------------------- tests


def quoted_includes(path):
    try:
        with open(path, encoding="utf-8", errors="replace") as f:
            return re.findall(r'^\s*#\s*include\s+"([^"]+)"', f.read(), re.M)
    except OSError:
        return []


def folders_seen(source, tree):
    """Product groups whose headers a test source includes, directly or through other headers."""
    seen, groups, todo = set(), set(), [source]
    while todo:
        cur = todo.pop()
        if cur in seen:
            continue
        seen.add(cur)
        rel = os.path.relpath(cur, tree)
        if rel.startswith(("src/", "include/", "tools/")):
            groups.add(group_of(rel))
        for inc in quoted_includes(cur):
            for d in [os.path.dirname(cur)] + [os.path.join(tree, p) for p in INCLUDE_PATHS]:
                cand = os.path.normpath(os.path.join(d, inc))
                if os.path.isfile(cand):
                    todo.append(cand)
                    break
    return groups


class Test:
    def __init__(self, name, cmd, groups, gtest):
        self.name, self.cmd, self.groups, self.gtest = name, cmd, groups, gtest
        self.seconds = 0.0

    def timeout(self):
        # Generous: the machine may be far busier than when the time was taken.
        return max(30.0, 5 * self.seconds + 20)


def find_tests(ws, fast=False):
    tests = []
    tests_dir = os.path.join(ws.tree, "tests")
    for name in sorted(os.listdir(tests_dir)):
        if name.endswith("_test.cpp"):
            exe = os.path.join(ws.build, "tests", name[:-4])
            groups = folders_seen(os.path.join(tests_dir, name), ws.tree)
            tests.append(Test(name[:-4], [exe, "--gtest_brief=1"], groups, True))
    reload_main = os.path.join(tests_dir, "reload", "dlreload_main.cpp")
    if os.path.exists(reload_main):
        tests.append(Test("dlreload_test", [os.path.join(ws.build, "tests", "dlreload_test")],
                          folders_seen(reload_main, ws.tree), False))
    scripts = os.path.join(tests_dir, "scripts")
    for name in sorted(os.listdir(scripts)) if not fast else []:
        if name.endswith("_test.sh") and name not in SLOW_SCRIPTS:
            tests.append(Test(name[:-3], ["bash", os.path.join(scripts, name), ws.build],
                              {"tools/device", "tools/port", "tools/marovin-host", "tools/marovin-sim"}, False))
    return tests


RUNNING = {}  # pid -> Popen of every test running now, for Ctrl-C


def kill_group(proc):
    try:
        os.killpg(proc.pid, signal.SIGKILL)
    except (ProcessLookupError, PermissionError):
        pass
    proc.wait()
    RUNNING.pop(proc.pid, None)


class Running:
    """One test process, in its own process group, its output in a log file."""

    def __init__(self, test, ws, timeout):
        self.test = test
        self.log = os.path.join(ws.work, "logs", test.name + ".log")
        os.makedirs(os.path.dirname(self.log), exist_ok=True)
        self.out = open(self.log, "wb")
        self.start = time.monotonic()
        self.deadline = self.start + timeout
        self.proc = subprocess.Popen(test.cmd, cwd=os.path.join(ws.build, "tests"), stdout=self.out,
                                     stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL, start_new_session=True)
        RUNNING[self.proc.pid] = self.proc

    def poll(self):
        """None while running, else ('pass'|'fail'|'timeout', detail)."""
        rc = self.proc.poll()
        if rc is None and time.monotonic() < self.deadline:
            return None
        if rc is None:
            self.stop()
            return "timeout", "timeout after %.0f s" % (self.deadline - self.start)
        RUNNING.pop(self.proc.pid, None)
        self.out.close()
        if rc == 0:
            return "pass", ""
        return "fail", failure_detail(self.log, rc)

    def stop(self):
        kill_group(self.proc)
        self.out.close()

    def seconds(self):
        return time.monotonic() - self.start


def failure_detail(log, rc):
    """The failing test cases (or first failing check) named in a test's output."""
    with open(log, encoding="utf-8", errors="replace") as f:
        text = f.read()
    cases = sorted(set(re.findall(r"^\[  FAILED  \] ([\w/.]+)", text, re.M)))
    if cases:
        return ", ".join(cases)
    for pattern in (r"^FAIL: (.*)$", r"^(round \d+: .*)$", r"^(watchdog: .*)$"):
        found = re.search(pattern, text, re.M)
        if found:
            return found.group(1)[:160]
    return "exit %d" % rc if rc >= 0 else "signal %d" % -rc


def run_one(test, ws, timeout):
    """Runs one test alone: (verdict, seconds, detail)."""
    r = Running(test, ws, timeout)
    while True:
        got = r.poll()
        if got:
            return got[0], r.seconds(), got[1]
        time.sleep(0.02)


def run_tests(tests, ws, stop_first, jobs):
    """Runs tests, up to `jobs` at once, in order; returns (verdict, [(test, detail)...]).

    A failing test is run again alone, and counts only if it fails again: a
    test that fails by chance on a loaded machine kills nothing."""
    queue = list(tests)
    running = []
    killers = []
    verdict = "survived"
    try:
        while queue or running:
            while queue and len(running) < jobs:
                t = queue.pop(0)
                running.append(Running(t, ws, t.timeout()))
            finished = None
            for r in running:
                got = r.poll()
                if got:
                    finished = (r, got)
                    break
            if not finished:
                time.sleep(0.02)
                continue
            r, (v, detail) = finished
            running.remove(r)
            if v == "fail":
                # Stop the others (they go back to the queue) and confirm alone.
                for other in running:
                    other.stop()
                queue = [o.test for o in running] + queue
                running = []
                v2, _, detail2 = run_one(r.test, ws, r.test.timeout())
                if v2 == "pass":
                    continue
                v, detail = v2, detail2 if v2 == "timeout" else detail
            if v == "pass":
                continue
            if verdict == "survived":
                verdict = "killed" if v == "fail" else "timeout"
            killers.append((r.test.name, detail))
            if stop_first:
                return verdict, killers
    finally:
        for r in running:
            r.stop()
    return verdict, killers

# ---------------------------------------------------------------- report


def md_cell(s):
    return s.replace("|", "\\|").replace("`", "'")


def write_report(path, args, mutants, results, meta):
    counts = {k: 0 for k in ("killed", "timeout", "survived", "not compiled", "equivalent")}
    for r in results.values():
        counts[r["verdict"]] += 1
    scored = counts["killed"] + counts["timeout"] + counts["survived"]
    score = 100.0 * (counts["killed"] + counts["timeout"]) / scored if scored else 0.0
    lines = ["# Mutation report", ""]
    lines.append("- command: `python3 scripts/mutate.py %s`" % " ".join(meta["argv"]))
    lines.append("- seed %d, %d mutants chosen from %d candidates; %d run" % (
        args.seed, len(mutants), meta["candidates"], len(results)))
    lines.append("- product code: %s" % meta["revision"])
    lines.append("- started %s, wall time %s; load average %s at the start, %s at the end (2 cores)" % (
        meta["started"], meta["wall"], meta["load_start"], meta["load_end"]))
    if meta.get("resumed_seconds"):
        lines.append("- resumed: the wall time adds the mutants' own times of the earlier, interrupted part "
                     "(%d s), not its start-up build" % meta["resumed_seconds"])
    lines.append("- build: %s" % meta["build"])
    if meta.get("interrupted"):
        lines.append("- **interrupted**: the results below are partial")
    lines += ["", "| killed | timeout | survived | not compiled | equivalent | score |",
              "| ---: | ---: | ---: | ---: | ---: | ---: |",
              "| %d | %d | %d | %d | %d | %.1f %% (%d/%d) |" % (
                  counts["killed"], counts["timeout"], counts["survived"], counts["not compiled"],
                  counts["equivalent"], score, counts["killed"] + counts["timeout"], scored), ""]
    lines.append("Score: killed and timed-out mutants over all that compiled and were not equivalent "
                 "(equivalent: the compiler produced the same object code as for the unmutated file).")
    lines += ["", "## By folder", "", "| folder | killed+timeout | survived | not compiled | equivalent |",
              "| --- | ---: | ---: | ---: | ---: |"]
    by = {}
    for mu in mutants:
        r = results.get(mu.ident)
        if not r:
            continue
        row = by.setdefault(group_of(mu.path), [0, 0, 0, 0])
        row[{"killed": 0, "timeout": 0, "survived": 1, "not compiled": 2, "equivalent": 3}[r["verdict"]]] += 1
    for g in sorted(by):
        lines.append("| %s | %d | %d | %d | %d |" % ((g,) + tuple(by[g])))
    lines += ["", "## Survivors", ""]
    any_survivor = False
    for mu in mutants:
        r = results.get(mu.ident)
        if r and r["verdict"] == "survived":
            any_survivor = True
            lines.append("- #%d `%s` %s: `%s` → `%s`  " % (mu.ident, mu.where(), mu.kind, md_cell(mu.before),
                                                          md_cell(mu.after)))
            lines.append("  line: `%s`" % md_cell(mu.old_line.strip()))
    if not any_survivor:
        lines.append("(none)")
    lines += ["", "## Every mutant", "", "| # | where | kind | before → after | result | by |",
              "| ---: | --- | --- | --- | --- | --- |"]
    for mu in mutants:
        r = results.get(mu.ident)
        if not r:
            continue
        by_text = "; ".join("%s (%s)" % (name, detail[:100] + ("..." if len(detail) > 100 else ""))
                            if detail else name for name, detail in r["killers"])
        lines.append("| %d | %s | %s | `%s` → `%s` | %s | %s |" % (
            mu.ident, mu.where(), mu.kind, md_cell(mu.before), md_cell(mu.after), r["verdict"], md_cell(by_text)))
    os.makedirs(os.path.dirname(os.path.abspath(path)), exist_ok=True)
    with open(path, "w", encoding="utf-8") as f:
        f.write("\n".join(lines) + "\n")
    # The same results for scripts: next to the report, .json instead of .md.
    rows = [{"id": mu.ident, "where": mu.where(), "kind": mu.kind, "before": mu.before, "after": mu.after,
             "verdict": results[mu.ident]["verdict"], "killers": results[mu.ident]["killers"]}
            for mu in mutants if mu.ident in results]
    with open(os.path.splitext(path)[0] + ".json", "w", encoding="utf-8") as f:
        json.dump({"seed": args.seed, "count": args.count, "wall": meta["wall"], "mutants": rows}, f, indent=1)
    return counts, score

# ---------------------------------------------------------------- main


def git_status():
    try:
        return subprocess.run(["git", "status", "--porcelain", "--", "src", "include", "tools"], cwd=ROOT,
                              capture_output=True, text=True).stdout
    except OSError:
        return ""


def revision():
    try:
        rev = subprocess.run(["git", "log", "-1", "--format=%h %s", "--", "src", "include", "tools"], cwd=ROOT,
                             capture_output=True, text=True).stdout.strip()
        return "last change to src/include/tools: " + rev if rev else "unknown"
    except OSError:
        return "unknown"


def on_signal(signum, frame):
    raise KeyboardInterrupt()


def parse_ids(text):
    ids = set()
    for part in text.split(","):
        part = part.strip()
        if "-" in part:
            a, b = part.split("-", 1)
            ids.update(range(int(a), int(b) + 1))
        elif part:
            ids.add(int(part))
    return ids


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0],
                                 formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--seed", type=int, default=1, help="picks the mutants (default 1)")
    ap.add_argument("--count", type=int, default=300, help="how many mutants (default 300)")
    ap.add_argument("--files", nargs="+", metavar="GLOB", help="only these product files, e.g. 'src/core/*'")
    ap.add_argument("--report", default="build/mutate/report.md", help="markdown report (default build/mutate/report.md)")
    ap.add_argument("--work", default=os.path.join(ROOT, "build", "mutate"), help="tree copy and build folder")
    ap.add_argument("--jobs", type=int, default=2, help="build jobs (default 2)")
    ap.add_argument("--test-jobs", type=int, default=4, help="tests run at once (default 4)")
    ap.add_argument("--ids", help="run only these of the chosen mutants, e.g. 3,7,20-25")
    ap.add_argument("--all", action="store_true", help="run every test of the folder, not only up to the first failure")
    ap.add_argument("--list", action="store_true", help="print the chosen mutants and exit")
    ap.add_argument("--rev", help="take the sources (tests included) from this git revision, not the working tree")
    ap.add_argument("--gtest-filter", help="passed to every GoogleTest executable, e.g. -*GrowsLinearly")
    ap.add_argument("--fast", action="store_true", help="GoogleTest executables only, no shell tests")
    ap.add_argument("--resume", action="store_true",
                    help="keep the results already saved next to the report (REPORT.jsonl) and run the rest")
    args = ap.parse_args()
    if args.rev:
        use_revision(args.rev)

    mutants, candidates = choose_mutants(args.seed, args.count, args.files)
    if args.list:
        for mu in mutants:
            print("%4d %s %-10s %s  ->  %s" % (mu.ident, mu.where(), mu.kind, mu.before, mu.after))
        print("%d of %d candidates" % (len(mutants), candidates))
        return 0
    selected = [mu for mu in mutants if not args.ids or mu.ident in parse_ids(args.ids)]

    os.makedirs(args.work, exist_ok=True)
    lock = open(os.path.join(args.work, "lock"), "w")
    try:
        fcntl.flock(lock, fcntl.LOCK_EX | fcntl.LOCK_NB)
    except OSError:
        sys.exit("another mutation run uses %s" % args.work)

    for s in (signal.SIGTERM, signal.SIGHUP):
        signal.signal(s, on_signal)
    status_before = git_status()
    started = time.monotonic()
    meta = {"argv": sys.argv[1:], "candidates": candidates, "revision": revision(),
            "started": datetime.datetime.now().strftime("%Y-%m-%d %H:%M"),
            "load_start": "%.1f" % os.getloadavg()[0],
            "build": "CMake %s, -O1 -DNDEBUG, no debug info, warnings not errors, %d jobs" % (
                "Ninja" if shutil.which("ninja") else "Makefiles", args.jobs)}
    ws = Workspace(os.path.abspath(args.work), args.jobs)
    results = {}
    report = os.path.join(ROOT, args.report) if not os.path.isabs(args.report) else args.report
    # Each result is saved as it comes, so that an interrupted run can be resumed.
    saved = os.path.splitext(report)[0] + ".jsonl"
    os.makedirs(os.path.dirname(report), exist_ok=True)
    if args.resume and os.path.exists(saved):
        with open(saved, encoding="utf-8") as f:
            for line in f:
                r = json.loads(line)
                results[r["id"]] = {"verdict": r["verdict"], "killers": [tuple(k) for k in r["killers"]]}
                meta["resumed_seconds"] = meta.get("resumed_seconds", 0) + r.get("seconds", 0)
        print("resuming: %d results kept from %s" % (len(results), saved), flush=True)
    elif os.path.exists(saved):
        os.remove(saved)
    if args.rev:
        meta["revision"] += "; sources (tests included) of revision %s" % args.rev
    try:
        print("syncing the tree copy in %s" % ws.tree, flush=True)
        ws.sync()
        ws.configure()
        print("building the unmutated tree", flush=True)
        ok, log = ws.make()
        if not ok:
            sys.exit("the unmutated tree does not build:\n" + log)
        tests = find_tests(ws, args.fast)
        if args.fast:
            meta["build"] += "; GoogleTest executables only (--fast)"
        if args.gtest_filter:
            for t in tests:
                if t.gtest:
                    t.cmd.append("--gtest_filter=" + args.gtest_filter)
            meta["build"] += "; GoogleTest filter %s" % args.gtest_filter
        for t in tests:
            needed = any(group_of(mu.path) in t.groups for mu in selected)
            if not needed:
                continue
            v, secs, detail = run_one(t, ws, 600)
            t.seconds = secs
            print("  %-28s %-4s %6.1f s" % (t.name, v, secs), flush=True)
            if v != "pass":
                sys.exit("%s fails without a mutant (%s): fix that first" % (t.name, detail))
        pristine = {}
        for i, mu in enumerate(selected, 1):
            if mu.ident in results:
                continue
            if mu.path not in pristine:
                objs = ws.objects_of(mu.path)
                pristine[mu.path] = (objs, digest(objs) if objs else None)
            t0 = time.monotonic()
            ws.apply(mu)
            try:
                ok, _ = ws.make()
                if not ok:
                    verdict, killers = "not compiled", []
                elif pristine[mu.path][1] and digest(pristine[mu.path][0]) == pristine[mu.path][1]:
                    verdict, killers = "equivalent", []
                else:
                    group = group_of(mu.path)
                    verdict, killers = run_tests([t for t in tests if group in t.groups], ws, not args.all,
                                                 args.test_jobs)
            finally:
                ws.restore()
            results[mu.ident] = {"verdict": verdict, "killers": killers}
            with open(saved, "a", encoding="utf-8") as f:
                f.write(json.dumps({"id": mu.ident, "verdict": verdict, "killers": killers,
                                    "seconds": round(time.monotonic() - t0, 1)}) + "\n")
            print("[%d/%d] #%d %s %s: %s -> %s: %s%s (%.0f s)" % (
                i, len(selected), mu.ident, mu.where(), mu.kind, mu.before, mu.after, verdict,
                " by " + killers[0][0] if killers else "", time.monotonic() - t0), flush=True)
    except KeyboardInterrupt:
        meta["interrupted"] = True
        for proc in list(RUNNING.values()):
            kill_group(proc)
        print("interrupted", flush=True)
    finally:
        ws.restore()
    # Leave the build matching the unmutated tree for the next run.
    ws.make()
    wall = int(time.monotonic() - started + meta.get("resumed_seconds", 0))
    meta["wall"] = "%d:%02d:%02d" % (wall // 3600, wall % 3600 // 60, wall % 60)
    meta["load_end"] = "%.1f" % os.getloadavg()[0]
    counts, score = write_report(report, args, selected, results, meta)
    print("report: %s" % report)
    print("killed %d, timeout %d, survived %d, not compiled %d, equivalent %d; score %.1f %%; wall %s" % (
        counts["killed"], counts["timeout"], counts["survived"], counts["not compiled"], counts["equivalent"],
        score, meta["wall"]))
    if git_status() != status_before:
        print("WARNING: git status of src/include/tools changed during the run", file=sys.stderr)
        return 1
    print("source tree unchanged (git status of src, include, tools as before)")
    return 0 if not meta.get("interrupted") else 130


if __name__ == "__main__":
    sys.exit(main())
