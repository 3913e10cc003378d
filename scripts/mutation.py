#!/usr/bin/env python3
"""Mutation check of the test suite (not part of CI).

Applies one small fault at a time to the shipped .cpp sources, the module's (base/ time/
geodesy/ orbit/ output/ position/ job/ input/ plugin/) and the outer layers' (dataset/ rinex/
qc/ cli/), rebuilds the gtest binary (and the program it runs) incrementally and runs it; a
fault the suite does not notice survives. The report gives the kill rate per folder. Faults:
  compare   < <=, > >=, == != (each way)
  arith     + -, * / and their compound assignments (binary operators only)
  const     an integer literal +1 or -1
  negate    if (x) -> if (!(x))
  delete    a one-line expression statement (assignment, call, break, continue) removed

The faults are applied to a private copy of the source tree (BUILD_DIR/src), never to the
worktree, so an interrupted run leaves the sources untouched; the copy's file is restored after
every mutant and the copy is re-synchronised at the start of every run. A mutant is killed when
the suite fails, crashes or times out, survives when it passes, and is left out of the rate
when it does not compile.

Sampling is deterministic: every candidate site gets a key from its file, the text of its
line, its position in that line and the fault, and the COUNT module sites and OUTER_COUNT
outer-layer sites whose hash of (seed, key) is lowest are taken. Runs with the same seed
therefore test the same faults, an edit in one place changes the sample only where sites
appear or disappear, and the module's sample is the one it was before the outer layers were
added (so its rate compares with earlier reports of the same seed and count).
"""

import argparse
import hashlib
import os
import re
import shutil
import signal
import subprocess
import sys
import time

MODULE_DIRS = ["base", "time", "geodesy", "orbit", "output", "position", "job", "input", "plugin"]
OUTER_DIRS = ["dataset", "rinex", "qc", "cli"]
# Top-level entries of the worktree the build needs; everything else (build directories,
# .git, bench, fuzz) stays out of the copy.
COPIED_ENTRIES = MODULE_DIRS + ["CMakeLists.txt", "cmake", "dataset", "rinex", "qc", "cli", "testkit", "tests", "samples"]

DEFAULT_SEED = 17
DEFAULT_COUNT = 150
DEFAULT_OUTER_COUNT = 100

PUNCTUATORS = sorted([
    ">>=", "<<=", "...", "->*", "<=>", "::", "->", "++", "--", "<<", ">>", "<=", ">=", "==",
    "!=", "&&", "||", "+=", "-=", "*=", "/=", "%=", "&=", "|=", "^=", ".*",
], key=len, reverse=True)

KEYWORDS = {
    "alignas", "alignof", "auto", "bool", "break", "case", "catch", "char", "class", "const",
    "constexpr", "continue", "default", "delete", "do", "double", "else", "enum", "explicit",
    "extern", "false", "float", "for", "goto", "if", "inline", "int", "long", "namespace", "new",
    "noexcept", "nullptr", "operator", "private", "protected", "public", "return", "short",
    "signed", "sizeof", "static", "static_assert", "static_cast", "struct", "switch", "template",
    "this", "throw", "true", "try", "typedef", "typename", "union", "unsigned", "using",
    "virtual", "void", "volatile", "while", "reinterpret_cast", "const_cast", "dynamic_cast",
    "decltype", "constexpr", "thread_local", "mutable", "friend",
}
TYPE_WORDS = {"char", "int", "double", "float", "void", "bool", "auto", "unsigned", "signed",
              "long", "short", "const", "size_t"}
# Identifiers whose following '<' opens a template argument list.
TEMPLATE_WORDS = {"static_cast", "reinterpret_cast", "const_cast", "dynamic_cast", "template",
                  "numeric_limits", "vector", "array", "unique_ptr", "pair", "min", "max",
                  "string_view", "optional", "is_same", "enable_if", "tuple", "clamp"}


class Token:
    __slots__ = ("kind", "text", "start", "end", "line")

    def __init__(self, kind, text, start, end, line):
        self.kind, self.text, self.start, self.end, self.line = kind, text, start, end, line


def tokenize(src):
    """C++ tokens with offsets; comments, preprocessor lines and literals' insides skipped."""
    tokens = []
    i, n, line = 0, len(src), 1
    at_line_start = True
    while i < n:
        c = src[i]
        if c == "\n":
            line += 1
            i += 1
            at_line_start = True
            continue
        if c in " \t\r\f\v":
            i += 1
            continue
        if at_line_start and c == "#":  # preprocessor line, with continuations
            while i < n and src[i] != "\n":
                if src[i] == "\\" and i + 1 < n and src[i + 1] == "\n":
                    line += 1
                    i += 1
                i += 1
            continue
        at_line_start = False
        if src.startswith("//", i):
            while i < n and src[i] != "\n":
                i += 1
            continue
        if src.startswith("/*", i):
            j = src.find("*/", i + 2)
            j = n if j < 0 else j + 2
            line += src.count("\n", i, j)
            i = j
            continue
        if c in "\"'":
            j = i + 1
            while j < n and src[j] != c:
                j += 2 if src[j] == "\\" else 1
            j += 1
            tokens.append(Token("string" if c == '"' else "char", src[i:j], i, j, line))
            i = j
            continue
        if c.isdigit() or (c == "." and i + 1 < n and src[i + 1].isdigit()):
            j = i + 1
            while j < n:
                d = src[j]
                if d.isalnum() or d in "._'":
                    j += 1
                elif d in "+-" and src[j - 1] in "eEpP" and not src[i:j].lower().startswith("0x"):
                    j += 1
                elif d in "+-" and src[j - 1] in "pP":
                    j += 1
                else:
                    break
            tokens.append(Token("number", src[i:j], i, j, line))
            i = j
            continue
        if c.isalpha() or c == "_":
            j = i + 1
            while j < n and (src[j].isalnum() or src[j] == "_"):
                j += 1
            tokens.append(Token("ident", src[i:j], i, j, line))
            i = j
            continue
        for p in PUNCTUATORS:
            if src.startswith(p, i):
                tokens.append(Token("punct", p, i, i + len(p), line))
                i += len(p)
                break
        else:
            tokens.append(Token("punct", c, i, i + 1, line))
            i += 1
    return tokens


def template_brackets(tokens):
    """Indices of '<' and '>' tokens that delimit template argument lists (heuristic)."""
    allowed = {"::", ",", "*", "&", "<", ">", ">>"}
    result = set()
    for i, t in enumerate(tokens):
        if t.text != "<" or i == 0:
            continue
        prev = tokens[i - 1]
        if prev.kind != "ident":
            continue
        depth, j = 1, i + 1
        closing = []
        while j < len(tokens) and j < i + 24:
            u = tokens[j]
            if u.kind not in ("ident", "number") and u.text not in allowed:
                break
            if u.text == "<":
                depth += 1
            elif u.text in (">", ">>"):
                closing.append(j)
                depth -= 1 if u.text == ">" else 2
                if depth <= 0:
                    break
            j += 1
        if (depth <= 0 and j < len(tokens)) or prev.text in TEMPLATE_WORDS:
            if depth <= 0:
                result.add(i)
                result.update(closing)
            else:
                result.add(i)
    return result


def is_integer_literal(text):
    t = text.replace("'", "")
    if re.fullmatch(r"0[xX][0-9a-fA-F]+[uUlL]*", t):
        return True
    return re.fullmatch(r"[0-9]+[uUlL]*", t) is not None


def off_by_one(text, delta):
    t = text.replace("'", "")
    m = re.fullmatch(r"(0[xX])([0-9a-fA-F]+)([uUlL]*)", t)
    if m:
        value = int(m.group(2), 16) + delta
        if value < 0:
            return None
        digits = format(value, "X" if m.group(2).isupper() else "x")
        return m.group(1) + digits.zfill(len(m.group(2))) + m.group(3)
    m = re.fullmatch(r"([0-9]+)([uUlL]*)", t)
    value = int(m.group(1), 10) + delta
    if value < 0:
        if m.group(2):
            return None  # an unsigned literal cannot go below zero
        return "(-1)"
    return str(value) + m.group(2)


def operand_end(tok):
    """True when the token can end an operand, so that a following + - * is binary."""
    if tok.kind in ("number", "string", "char"):
        return True
    if tok.kind == "ident":
        return tok.text not in KEYWORDS or tok.text in ("this", "true", "false", "nullptr")
    return tok.text in (")", "]")


def looks_like_type(tok):
    return tok.kind == "ident" and (tok.text in TYPE_WORDS or tok.text.endswith("_t")
                                    or tok.text[:1].isupper())


def matching(tokens, i, opening, closing):
    depth = 0
    for j in range(i, len(tokens)):
        if tokens[j].text == opening:
            depth += 1
        elif tokens[j].text == closing:
            depth -= 1
            if depth == 0:
                return j
    return None


def static_assert_spans(tokens):
    spans = []
    for i, t in enumerate(tokens):
        if t.text in ("static_assert", "alignas") and i + 1 < len(tokens) and tokens[i + 1].text == "(":
            j = matching(tokens, i + 1, "(", ")")
            if j is not None:
                spans.append((tokens[i].start, tokens[j].end))
    return spans


COMPARE = {"<": "<=", "<=": "<", ">": ">=", ">=": ">", "==": "!=", "!=": "=="}
ARITH = {"+": "-", "-": "+", "*": "/", "/": "*", "+=": "-=", "-=": "+=", "*=": "/=", "/=": "*="}
STATEMENT_FOLLOWERS = {"(", "=", "+=", "-=", "*=", "/=", "%=", "|=", "&=", "^=", "<<=", ">>=",
                       ".", "->", "[", "++", "--"}


def statement_sites(tokens, src):
    """(start, end) of one-line expression statements that can be deleted."""
    sites = []
    depth = 0
    depths = []
    for t in tokens:
        depths.append(depth)
        if t.text in ("(", "["):
            depth += 1
        elif t.text in (")", "]"):
            depth -= 1
    for i, t in enumerate(tokens):
        if i == 0 or depths[i] != 0 or tokens[i - 1].text not in (";", "{", "}"):
            continue
        if t.kind != "ident" and t.text not in ("++", "--"):
            continue
        # The statement must start its line.
        line_start = src.rfind("\n", 0, t.start) + 1
        if src[line_start:t.start].strip():
            continue
        end = None
        for j in range(i, len(tokens)):
            if tokens[j].line != t.line or tokens[j].text in ("{", "}"):
                break
            if tokens[j].text == ";" and depths[j] == 0:
                end = j
                break
        if end is None:
            continue
        if t.text in ("break", "continue"):
            if end == i + 1:
                sites.append((t.start, tokens[end].end))
            continue
        if t.text in KEYWORDS:
            continue
        if t.text in ("++", "--"):
            sites.append((t.start, tokens[end].end))
            continue
        k = i + 1
        while k + 1 < end and tokens[k].text == "::" and tokens[k + 1].kind == "ident":
            k += 2
        if k < end and tokens[k].text in STATEMENT_FOLLOWERS:
            sites.append((t.start, tokens[end].end))
    return sites


def enumerate_sites(path, src):
    """Every candidate mutation of one file: (start, end, original, replacement, operator)."""
    tokens = tokenize(src)
    templates = template_brackets(tokens)
    asserts = static_assert_spans(tokens)

    def in_assert(offset):
        return any(a <= offset < b for a, b in asserts)

    sites = []
    for i, t in enumerate(tokens):
        if in_assert(t.start):
            continue
        prev = tokens[i - 1] if i > 0 else None
        nxt = tokens[i + 1] if i + 1 < len(tokens) else None
        if t.kind == "punct" and t.text in COMPARE and i not in templates:
            if t.text in ("<", ">") and (prev is None or prev.text == "operator"):
                continue
            sites.append((t.start, t.end, t.text, COMPARE[t.text], "compare"))
        elif t.kind == "punct" and t.text in ARITH and prev is not None:
            if t.text in ("+", "-", "*") and not operand_end(prev):
                continue  # unary plus, minus or dereference
            if t.text in ("*", "*=") and looks_like_type(prev):
                continue  # a pointer declaration
            if t.text == "*" and nxt is not None and nxt.text in (")", ",", ">", "&", "*"):
                continue  # a pointer type in a cast or template argument
            if prev.text == "operator":
                continue
            sites.append((t.start, t.end, t.text, ARITH[t.text], "arith"))
        elif t.kind == "number" and is_integer_literal(t.text):
            if prev is not None and prev.text in ("[",) and nxt is not None and nxt.text == "]" \
                    and i >= 2 and tokens[i - 2].kind == "ident" and i >= 3 \
                    and looks_like_type(tokens[i - 3]):
                continue  # an array declaration's size
            for delta in (1, -1):
                mutated = off_by_one(t.text, delta)
                if mutated is not None:
                    sites.append((t.start, t.end, t.text, mutated, "const"))
        elif t.kind == "ident" and t.text == "if" and nxt is not None and nxt.text == "(":
            close = matching(tokens, i + 1, "(", ")")
            if close is None:
                continue
            start, end = nxt.start, tokens[close].end
            inner = src[nxt.end:tokens[close].start]
            if ";" in inner:
                continue  # an if with an initialiser
            sites.append((start, end, src[start:end], "(!(" + inner + "))", "negate"))
    for start, end in statement_sites(tokens, src):
        sites.append((start, end, src[start:end], ";", "delete"))
    sites.sort()
    result = []
    for start, end, original, mutated, op in sites:
        line_no = src.count("\n", 0, start) + 1
        line_start = src.rfind("\n", 0, start) + 1
        line_end = src.find("\n", start)
        line_end = len(src) if line_end < 0 else line_end
        result.append({
            "file": path, "start": start, "end": end, "original": original,
            "mutated": mutated, "operator": op, "line": line_no,
            "line_text": src[line_start:line_end], "column": start - line_start,
        })
    # Key each site by its line's text (not its number) so that unrelated edits elsewhere in
    # the file do not change which sites a seed picks.
    seen = {}
    for s in result:
        base = (s["file"], s["line_text"].strip(), s["column"], s["original"], s["mutated"])
        seen[base] = seen.get(base, 0) + 1
        s["key"] = "\x1f".join(map(str, base + (seen[base],)))
    return result


def shipped_sources(root, patterns, dirs):
    files = []
    for d in dirs:
        directory = os.path.join(root, d)
        if not os.path.isdir(directory):
            continue
        for name in sorted(os.listdir(directory)):
            if name.endswith(".cpp"):
                files.append(d + "/" + name)
    if patterns:
        import fnmatch
        files = [f for f in files if any(fnmatch.fnmatch(f, p) or f.startswith(p.rstrip("/") + "/")
                                         for p in patterns)]
    return files


def sample(sites, seed, count):
    def rank(s):
        return hashlib.sha256(("%d\x1e%s" % (seed, s["key"])).encode()).hexdigest()
    chosen = sorted(sites, key=rank)[:count]
    return sorted(chosen, key=lambda s: (s["file"], s["start"]))


def sync_tree(root, copy):
    """Makes COPY mirror the build inputs of ROOT. Changed files get a fresh time stamp so
    that make rebuilds them even when an interrupted run left a mutant's object behind."""
    wanted = set()
    for entry in COPIED_ENTRIES:
        source = os.path.join(root, entry)
        if os.path.isfile(source):
            wanted.add(entry)
        elif os.path.isdir(source):
            for dirpath, dirnames, filenames in os.walk(source):
                dirnames[:] = [d for d in dirnames if not d.startswith(".")]
                for f in filenames:
                    wanted.add(os.path.relpath(os.path.join(dirpath, f), root))
    for rel in sorted(wanted):
        source, target = os.path.join(root, rel), os.path.join(copy, rel)
        with open(source, "rb") as f:
            data = f.read()
        if os.path.isfile(target):
            with open(target, "rb") as f:
                if f.read() == data:
                    continue
        os.makedirs(os.path.dirname(target), exist_ok=True)
        with open(target, "wb") as f:
            f.write(data)
        shutil.copymode(source, target)
    for dirpath, dirnames, filenames in os.walk(copy, topdown=False):
        for f in filenames:
            rel = os.path.relpath(os.path.join(dirpath, f), copy)
            if rel not in wanted:
                os.remove(os.path.join(dirpath, f))
        if dirpath != copy and not os.listdir(dirpath):
            os.rmdir(dirpath)


class Interrupted(Exception):
    pass


def run_group(cmd, cwd, timeout, env=None):
    """Runs CMD in its own process group; returns (exit code or None on timeout, output)."""
    proc = subprocess.Popen(cmd, cwd=cwd, env=env, stdout=subprocess.PIPE,
                            stderr=subprocess.STDOUT, start_new_session=True)
    try:
        out, _ = proc.communicate(timeout=timeout)
        return proc.returncode, out.decode("utf-8", "replace")
    except subprocess.TimeoutExpired:
        os.killpg(proc.pid, signal.SIGKILL)
        out, _ = proc.communicate()
        return None, out.decode("utf-8", "replace")
    finally:
        if proc.poll() is None:
            os.killpg(proc.pid, signal.SIGKILL)
            proc.wait()


def build(build_dir, jobs):
    code, out = run_group(["cmake", "--build", os.path.join(build_dir, "build"), "-j%d" % jobs,
                           "--target", "talverin_tests"], build_dir, 1800)
    return code == 0, out


def run_tests(build_dir, root, timeout, fail_fast=True):
    env = dict(os.environ)
    # Real data sets are found beside the worktree, not beside the copy.
    env["TALVERIN_SOURCE_DIR"] = root
    cmd = [os.path.join(build_dir, "build", "talverin_tests"), "--gtest_brief=1"]
    if fail_fast:
        cmd.append("--gtest_fail_fast")
    started = time.monotonic()
    code, out = run_group(cmd, build_dir, timeout, env)
    return code, out, time.monotonic() - started


def first_failure(out):
    m = re.search(r"^\[  FAILED  \] (\S+)", out, re.M)
    return m.group(1) if m else ""


def git_state(root):
    try:
        head = subprocess.run(["git", "rev-parse", "--short", "HEAD"], cwd=root,
                              capture_output=True, text=True).stdout.strip()
        dirty = subprocess.run(["git", "status", "--porcelain", "--"] + MODULE_DIRS + OUTER_DIRS
                               + ["tests"],
                               cwd=root, capture_output=True, text=True).stdout.strip()
        return head + (" (with uncommitted changes)" if dirty else "")
    except OSError:
        return "unknown"


def one_line(text):
    return " ".join(text.split())


def fingerprint(results):
    return hashlib.sha256("\x1e".join(r["key"] for r in results).encode()).hexdigest()[:16]


def folder_table(results):
    """Kill rate per folder (mutants that compiled), the module's and the outer layers' sums."""
    rows = {}
    for r in results:
        if r["outcome"] == "no-compile":
            continue
        folder = r["file"].split("/")[0]
        mutants, killed = rows.get(folder, (0, 0))
        rows[folder] = (mutants + 1, killed + (r["outcome"] != "survived"))
    lines = ["Kill rate per folder:", "  %-10s %8s %7s %7s" % ("folder", "mutants", "killed", "rate")]

    def row(name, mutants, killed):
        rate = "%.1f %%" % (100.0 * killed / mutants) if mutants else "-"
        lines.append("  %-10s %8d %7d %7s" % (name, mutants, killed, rate))
    for group, dirs in (("module", MODULE_DIRS), ("outer", OUTER_DIRS)):
        for d in dirs:
            if d in rows:
                row(d, *rows[d])
        row("(" + group + ")", sum(rows.get(d, (0, 0))[0] for d in dirs),
            sum(rows.get(d, (0, 0))[1] for d in dirs))
    return lines


def format_report(args, root, sites_total, results, elapsed, complete, baseline_s, timeout):
    killed = [r for r in results if r["outcome"] in ("killed", "timeout", "crashed")]
    survived = [r for r in results if r["outcome"] == "survived"]
    broken = [r for r in results if r["outcome"] == "no-compile"]
    tested = len(killed) + len(survived)
    rate = 100.0 * len(killed) / tested if tested else 0.0
    by_op = {}
    for r in results:
        if r["outcome"] == "no-compile":
            continue
        k, s = by_op.get(r["operator"], (0, 0))
        by_op[r["operator"]] = (k + (r["outcome"] != "survived"), s + (r["outcome"] == "survived"))
    lines = [
        "Mutation check of talverin_tests",
        "commit: %s" % args.commit,
        "seed: %d  count: %d  outer count: %d  files: %s" % (args.seed, args.count, args.outer_count,
                                                     " ".join(args.files) or "all shipped sources"),
        # Equal fingerprints mean two runs tested the same faults.
        "sample fingerprint: %s  module: %s" % (fingerprint(results), fingerprint(
            [r for r in results if r["file"].split("/")[0] in MODULE_DIRS])),
        "candidate sites: %d  mutants run: %d%s" % (sites_total, len(results),
                                                   "" if complete else "  (INTERRUPTED)"),
        "unmutated suite: %.1f s  per-mutant timeout: %.0f s  duration: %.1f min"
        % (baseline_s, timeout, elapsed / 60.0),
        "killed: %d (timeouts %d, crashes %d)  survived: %d  did not compile: %d"
        % (len(killed), sum(r["outcome"] == "timeout" for r in results),
           sum(r["outcome"] == "crashed" for r in results), len(survived), len(broken)),
        "kill rate: %.1f %% (%d of %d compiled mutants)" % (rate, len(killed), tested),
        "by fault: " + ", ".join("%s %d/%d" % (op, k, k + s) for op, (k, s) in sorted(by_op.items())),
        "",
    ] + folder_table(results) + [
        "",
        "Survivors:",
    ]
    for r in survived:
        lines.append("  %s:%d  [%s]  %s  ->  %s" % (r["file"], r["line"], r["operator"],
                                                   one_line(r["original"]), one_line(r["mutated"])))
        lines.append("      %s" % r["line_text"].strip())
    if not survived:
        lines.append("  none")
    lines += ["", "Every mutant (outcome, site, fault, first failing test):"]
    for r in results:
        lines.append("  %-10s %s:%d  [%s]  %s -> %s  %s" % (
            r["outcome"], r["file"], r["line"], r["operator"], one_line(r["original"]),
            one_line(r["mutated"]), r.get("test", "")))
    return "\n".join(lines) + "\n", rate


def main():
    root = os.path.realpath(os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
    parser = argparse.ArgumentParser(
        description="Mutation check: small faults in the shipped sources, one at a time, "
                    "against the gtest suite. Not part of CI.")
    parser.add_argument("--seed", type=int, default=DEFAULT_SEED, help="sampling seed (default %(default)s)")
    parser.add_argument("--count", type=int, default=DEFAULT_COUNT,
                        help="mutants in the module's sources (default %(default)s: about 17 min on 2 busy "
                             "cores, plus 4 min for the first build)")
    parser.add_argument("--outer-count", type=int, default=DEFAULT_OUTER_COUNT,
                        help="mutants in the outer layers' sources, dataset rinex qc cli "
                             "(default %(default)s)")
    parser.add_argument("--files", nargs="*", default=[],
                        help="restrict to these sources (paths or globs relative to the worktree, "
                             "e.g. position/*.cpp or orbit or cli)")
    parser.add_argument("--build-dir", default=os.path.join(root, "build-mutation"),
                        help="private source copy and build directory (default %(default)s)")
    parser.add_argument("--report", default=None, help="report file (default BUILD_DIR/report.txt)")
    parser.add_argument("--timeout", type=float, default=None,
                        help="seconds per test run (default 5x the unmutated suite, at least 60)")
    parser.add_argument("--jobs", type=int, default=2, help="build jobs (default %(default)s)")
    parser.add_argument("--list", action="store_true", help="print the sampled faults and stop")
    args = parser.parse_args()

    sites = []
    chosen = []
    for dirs, count in ((MODULE_DIRS, args.count), (OUTER_DIRS, args.outer_count)):
        layer_sites = []
        for f in shipped_sources(root, args.files, dirs):
            with open(os.path.join(root, f), encoding="utf-8") as fh:
                layer_sites += enumerate_sites(f, fh.read())
        sites += layer_sites
        chosen += sample(layer_sites, args.seed, count)
    if not sites:
        sys.exit("mutation: no shipped sources match %s" % " ".join(args.files))
    if args.list:
        for s in chosen:
            print("%s:%d  [%s]  %s -> %s" % (s["file"], s["line"], s["operator"],
                                             one_line(s["original"]), one_line(s["mutated"])))
        print("%d of %d candidate sites" % (len(chosen), len(sites)))
        return 0

    build_dir = os.path.abspath(args.build_dir)
    copy = os.path.join(build_dir, "src")
    report_path = args.report or os.path.join(build_dir, "report.txt")
    os.makedirs(copy, exist_ok=True)

    def on_signal(signum, _frame):
        raise Interrupted("signal %d" % signum)
    for s in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP):
        signal.signal(s, on_signal)

    started = time.monotonic()
    results = []
    complete = False
    baseline_s, timeout = 0.0, 0.0
    # The commit the copy is taken from; the worktree may move on while the run lasts.
    args.commit = git_state(root)
    try:
        sync_tree(root, copy)
        if not os.path.isfile(os.path.join(build_dir, "build", "CMakeCache.txt")):
            print("mutation: configuring %s/build" % build_dir, flush=True)
        # Optimised like the release build, without debug information to keep links short.
        code, out = run_group(["cmake", "-S", copy, "-B", os.path.join(build_dir, "build"),
                               "-DCMAKE_BUILD_TYPE=RelWithDebInfo",
                               "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O2 -DNDEBUG",
                               "-DTALVERIN_BENCH=OFF"], build_dir, 600)
        if code != 0:
            sys.exit("mutation: cmake failed\n" + out)
        print("mutation: building the unmutated suite", flush=True)
        ok, out = build(build_dir, args.jobs)
        if not ok:
            sys.exit("mutation: the unmutated sources do not build\n" + out[-4000:])
        code, out, baseline_s = run_tests(build_dir, root, 1800, fail_fast=False)
        if code != 0:
            sys.exit("mutation: the unmutated suite fails; fix it first\n" + out[-4000:])
        timeout = args.timeout or max(60.0, 5.0 * baseline_s)
        print("mutation: %d of %d sites, seed %d; unmutated suite %.1f s, timeout %.0f s"
              % (len(chosen), len(sites), args.seed, baseline_s, timeout), flush=True)

        for n, s in enumerate(chosen, 1):
            path = os.path.join(copy, s["file"])
            with open(path, encoding="utf-8") as fh:
                original = fh.read()
            mutant_started = time.monotonic()
            try:
                assert original[s["start"]:s["end"]] == s["original"], s
                with open(path, "w", encoding="utf-8") as fh:
                    fh.write(original[:s["start"]] + s["mutated"] + original[s["end"]:])
                ok, _ = build(build_dir, args.jobs)
                result = dict(s)
                if not ok:
                    result["outcome"] = "no-compile"
                else:
                    code, out, _ = run_tests(build_dir, root, timeout)
                    if code is None:
                        result["outcome"] = "timeout"
                    elif code < 0:
                        result["outcome"] = "crashed"
                        result["test"] = "signal %d" % -code
                    elif code != 0:
                        result["outcome"] = "killed"
                        result["test"] = first_failure(out)
                    else:
                        result["outcome"] = "survived"
            finally:
                with open(path, "w", encoding="utf-8") as fh:
                    fh.write(original)
            results.append(result)
            print("[%3d/%d] %-10s %s:%d [%s] %s -> %s (%.0f s)" % (
                n, len(chosen), result["outcome"], s["file"], s["line"], s["operator"],
                one_line(s["original"]), one_line(s["mutated"]), time.monotonic() - mutant_started),
                flush=True)
        complete = True
    except (Interrupted, KeyboardInterrupt) as e:
        print("mutation: interrupted (%s); the copy is restored, partial report follows" % e,
              flush=True)
    finally:
        for s in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP):
            signal.signal(s, signal.SIG_DFL)
        if results or complete:
            text, _ = format_report(args, root, len(sites), results, time.monotonic() - started,
                                    complete, baseline_s, timeout)
            with open(report_path, "w", encoding="utf-8") as fh:
                fh.write(text)
            head, _, _ = text.partition("\nEvery mutant")
            print(head)
            print("report: %s" % report_path)
    return 0 if complete else 1


if __name__ == "__main__":
    sys.exit(main())
