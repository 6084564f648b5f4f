#!/usr/bin/env bash
# Mutation testing: how many small planted faults do the unit tests catch?
#   mutants.sh SEED COUNT [BUILD_DIR]
# Lists every site of the product sources (.cpp under the layer folders but
# main.cpp, in sorted file and line order) where one of these faults can be planted:
#   compare   a flipped comparison: < and >=, > and <=, == and != swapped
#   constant  an integer constant one larger or one smaller
#   operands  the operands of a binary - or / swapped
#   logic     && and || swapped
#   drop      a plain statement line (an assignment or a call, not a
#             declaration) removed
# and draws from them with Python's random.Random(SEED): a kind, then a site
# of that kind. The same SEED on the same product sources plants the same
# faults whatever the tests are. Each fault is planted in a private copy of
# the tree (BUILD_DIR/src, default BUILD_DIR build/mutants), built
# incrementally in BUILD_DIR/build (optimised as the release build, but
# without -Werror, debug info, benchmarks or end-to-end tests), and the unit
# test programs are run until the first that fails, the folder of the fault
# first; a program still running after its time limit (three times its
# unmutated time plus ten seconds) counts as catching the fault. A fault that
# does not compile is put back and another drawn, so COUNT faults are tested.
# One line a fault:
#   file:line  original → mutated  caught|missed
# then "caught N of COUNT (P %)". The worktree itself is never written;
# the copy's file is restored after each fault, on Ctrl-C too.
set -euo pipefail
cd "$(dirname "$0")/.."

if [ $# -lt 2 ]; then
    echo "usage: mutants.sh SEED COUNT [BUILD_DIR]" >&2
    exit 2
fi
[ -f /work/ccache.env ] && . /work/ccache.env
export QT_QPA_PLATFORM=offscreen

exec python3 - "$@" <<'PY'
import os
import re
import shutil
import signal
import subprocess
import sys
import time
import random

LAYERS = ["app", "dialogs", "display", "analysis", "audio", "graphics", "settings", "platform"]
seed, count = sys.argv[1], int(sys.argv[2])
root = os.getcwd()
base = os.path.abspath(sys.argv[3] if len(sys.argv) > 3 else "build/mutants")
src = os.path.join(base, "src")
build = os.path.join(base, "build")


def log(msg):
    print(msg, file=sys.stderr, flush=True)


# ---------------------------------------------------------------- the sites

def code_mask(lines):
    """Each line with comments, string and character literals blanked to '\\0',
    so that positions still match the line; preprocessor lines blanked whole."""
    out = []
    in_block = False
    for line in lines:
        chars = list(line)
        i = 0
        quote = None
        if not in_block and line.lstrip().startswith("#"):
            out.append("\0" * len(line))
            continue
        while i < len(chars):
            c = chars[i]
            nxt = chars[i + 1] if i + 1 < len(chars) else ""
            if in_block:
                if c == "*" and nxt == "/":
                    chars[i] = chars[i + 1] = "\0"
                    in_block = False
                    i += 2
                    continue
                chars[i] = "\0"
            elif quote:
                if c == "\\":
                    chars[i] = "\0"
                    if i + 1 < len(chars):
                        chars[i + 1] = "\0"
                    i += 2
                    continue
                if c == quote:
                    quote = None
                else:
                    chars[i] = "\0"
            elif c == "/" and nxt == "/":
                for j in range(i, len(chars)):
                    chars[j] = "\0"
                break
            elif c == "/" and nxt == "*":
                chars[i] = chars[i + 1] = "\0"
                in_block = True
                i += 2
                continue
            elif c in "\"'":
                # A digit separator (1'000) is not a quote.
                if not (c == "'" and i > 0 and chars[i - 1].isalnum() and nxt.isalnum()):
                    quote = c
            i += 1
        out.append("".join(chars))
    return out


FLIP = {"<": ">=", ">=": "<", ">": "<=", "<=": ">", "==": "!=", "!=": "=="}
COMPARE = re.compile(r"(?<= )(<=|>=|==|!=|<|>)(?= )")
LOGIC = re.compile(r"(?<= )(&&|\|\|)(?= )")
CONSTANT = re.compile(r"(?<![\w.'])(\d+)([uUlL]*)(?![\w.'])")
OPERAND = r"[A-Za-z_][\w.]*(?:(?:->|::)\w+)*(?:\[[^\[\]]*\]|\([^()]*\))?|\d+[uUlL]*"
SWAP = re.compile(r"(?<![\w.)\]>'\"])(" + OPERAND + r") ([-/]) (" + OPERAND + r")(?![\w(\[.'\"]|->)")
ASSIGN = r"(?:=|\+=|-=|\*=|/=|%=|\|=|&=|\^=|<<=|>>=)"
LVALUE = r"\*?[A-Za-z_][\w.]*(?:(?:->|::)\w+|\[[^\[\]]*\])*"
STATEMENT = re.compile(
    r"^(?:" + LVALUE + r" " + ASSIGN + r" .*"               # x = y;
    + r"|(?:\+\+|--)" + LVALUE + r"|" + LVALUE + r"(?:\+\+|--)"  # ++x; x--;
    + r"|" + LVALUE + r"(?:\.|->)?\w*\(.*\)"                # f(x); p->g(x);
    + r");$")
NOT_STATEMENT = re.compile(r"^(?:return|break|continue|goto|throw|case|default|delete|using|"
                           r"typedef|template|static_assert|Q_\w+|emit)\b")


def balanced(text):
    depth = 0
    for c in text:
        depth += {"(": 1, ")": -1}.get(c, 0)
        if depth < 0:
            return False
    return depth == 0


def sites_of(path, lines):
    masked = code_mask(lines)
    found = []
    prev_end = "{"
    for n, (line, code) in enumerate(zip(lines, masked), start=1):
        stripped = code.replace("\0", " ").rstrip()
        for m in COMPARE.finditer(code):
            op = m.group(1)
            found.append(("compare", n, m.start(), op, FLIP[op]))
        for m in LOGIC.finditer(code):
            op = m.group(1)
            found.append(("logic", n, m.start(), op, "||" if op == "&&" else "&&"))
        for m in CONSTANT.finditer(code):
            value, suffix = int(m.group(1)), m.group(2)
            for other in ([value + 1, value - 1] if value > 0 else [1]):
                found.append(("constant", n, m.start(), m.group(0), str(other) + suffix))
        for m in SWAP.finditer(code):
            a, op, b = m.group(1), m.group(2), m.group(3)
            before, after = code[:m.start()], code[m.end():].lstrip()
            # Only whole operands: not one factor of a product, nor the
            # second term of a - b - c (swapping it with the third changes nothing).
            if (a == b or "\0" in m.group(0) or before.rstrip().endswith(("*", "/", "%"))
                    or (op == "-" and before.endswith("- "))
                    or (after[:1] in ("*", "/", "%") and after[1:2] != "=")):
                continue
            if True:
                found.append(("operands", n, m.start(), m.group(0), "%s %s %s" % (b, op, a)))
        body = stripped.strip()
        # A whole statement on one line: the line before ended one.
        if (prev_end in ("{", "}", ";", ":", "") and STATEMENT.match(body)
                and not NOT_STATEMENT.match(body) and balanced(body) and line.strip() == body):
            indent = len(line) - len(line.lstrip())
            found.append(("drop", n, indent, body, ""))
        if stripped.strip():
            prev_end = stripped.strip()[-1]
            if prev_end not in "{};:":
                prev_end = "x"
    return found


def all_sites():
    sites = {}
    for layer in LAYERS:
        for dirpath, dirs, names in os.walk(layer):
            dirs.sort()
            for name in sorted(names):
                # main.cpp goes only into the program, which no unit test runs.
                if name.endswith(".cpp") and name != "main.cpp":
                    path = os.path.join(dirpath, name)
                    with open(path, encoding="utf-8") as f:
                        lines = f.read().split("\n")
                    for kind, n, col, old, new in sites_of(path, lines):
                        sites.setdefault(kind, []).append((path, n, col, old, new))
    return sites


def mutate(text, site):
    path, n, col, old, new = site
    lines = text.split("\n")
    line = lines[n - 1]
    assert line[col:col + len(old)] == old, (site, line)
    if new == "":  # dropped statement: the line is kept, empty, for the numbering
        lines[n - 1] = ""
    else:
        lines[n - 1] = line[:col] + new + line[col + len(old):]
    return "\n".join(lines)


# ------------------------------------------------------- the copy and builds

def sync_copy():
    """Makes src a copy of the worktree's sources; unchanged files keep their
    times, so the build after it is incremental."""
    skip_top = {"build", ".git"}
    wanted = set()
    for dirpath, dirs, names in os.walk(root):
        rel = os.path.relpath(dirpath, root)
        dirs[:] = sorted(d for d in dirs
                         if not (rel == "." and (d in skip_top or d.startswith("build-")))
                         and not (rel == "tests" and d == "e2e"))
        for name in names:
            rel_file = os.path.normpath(os.path.join(rel, name))
            wanted.add(rel_file)
            a, b = os.path.join(root, rel_file), os.path.join(src, rel_file)
            if os.path.isfile(b) and os.path.getsize(a) == os.path.getsize(b):
                with open(a, "rb") as fa, open(b, "rb") as fb:
                    if fa.read() == fb.read():
                        continue
            os.makedirs(os.path.dirname(b), exist_ok=True)
            shutil.copy2(a, b)
    for dirpath, dirs, names in os.walk(src):
        for name in names:
            rel_file = os.path.relpath(os.path.join(dirpath, name), src)
            if rel_file not in wanted:
                os.remove(os.path.join(dirpath, name))


def configure():
    if os.path.isfile(os.path.join(build, "build.ninja")):
        return
    subprocess.run(["cmake", "-S", src, "-B", build, "-G", "Ninja",
                    "-DCMAKE_BUILD_TYPE=RelWithDebInfo", "-DVEXLOR_WERROR=OFF",
                    "-DVEXLOR_BENCHMARKS=OFF", "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O2 -DNDEBUG"],
                   check=True, stdout=subprocess.DEVNULL)


def test_targets():
    out = subprocess.run(["ninja", "-C", build, "-t", "targets", "all"], check=True,
                         capture_output=True, text=True).stdout
    return sorted(set(re.findall(r"^(tests_[a-z]+):", out, re.M)))


def build_tests(targets):
    r = subprocess.run(["cmake", "--build", build, "-j", str(os.cpu_count() or 2), "--target"]
                       + targets, capture_output=True, text=True)
    return r.returncode == 0, r.stdout + r.stderr


def run_binary(target, limit):
    """True when the unit tests of target pass within limit seconds."""
    binary = os.path.join(build, "tests", target)
    try:
        r = subprocess.run([binary, "--gtest_brief=1"], cwd=os.path.join(build, "tests"),
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=limit,
                           start_new_session=True)
        return r.returncode == 0
    except subprocess.TimeoutExpired as e:
        return False


# ---------------------------------------------------------------- the run

def main():
    sites = all_sites()
    kinds = sorted(sites)
    total = sum(len(v) for v in sites.values())
    log("mutants: %d sites (%s)" % (total, ", ".join("%s %d" % (k, len(sites[k])) for k in kinds)))

    sync_copy()
    configure()
    targets = test_targets()
    started = time.time()
    ok, output = build_tests(targets)
    if not ok:
        print(output[-4000:])
        log("mutants: the unmutated copy does not build")
        return 2
    log("mutants: unmutated build %.0f s" % (time.time() - started))
    limits = {}
    for t in targets:
        t0 = time.time()
        if not run_binary(t, 600):
            log("mutants: %s fails without any fault; fix that first" % t)
            return 2
        limits[t] = 3 * (time.time() - t0) + 10
    log("mutants: unit tests %.0f s unmutated" % sum((v - 10) / 3 for v in limits.values()))

    rng = random.Random(seed)
    drawn = set()
    caught = tested = skipped = 0
    spent = 0.0
    while tested < count:
        if len(drawn) >= total:
            log("mutants: no sites left to draw")
            break
        kind = rng.choice(kinds)
        site = rng.choice(sites[kind])
        if site in drawn:
            continue
        drawn.add(site)
        path, n, col, old, new = site
        target_file = os.path.join(src, path)
        with open(target_file, encoding="utf-8") as f:
            original = f.read()
        t0 = time.time()
        try:
            with open(target_file, "w", encoding="utf-8") as f:
                f.write(mutate(original, site))
            ok, _ = build_tests(targets)
            if not ok:
                skipped += 1
                continue
            folder = path.split("/", 1)[0]
            order = sorted(targets, key=lambda t: (t != "tests_" + folder, t))
            killed = not all(run_binary(t, limits[t]) for t in order)
        finally:
            with open(target_file, "w", encoding="utf-8") as f:
                f.write(original)
        tested += 1
        caught += killed
        spent += time.time() - t0
        shown_new = new if new else "(line removed)"
        print("%s:%d  %s → %s  %s" % (path, n, old, shown_new, "caught" if killed else "missed"),
              flush=True)
    if tested:
        print("caught %d of %d (%.0f %%)" % (caught, tested, 100.0 * caught / tested))
        log("mutants: %.0f s a mutant on average; %d drawn did not compile" % (spent / tested, skipped))
    # Leaves the copy's build matching its sources for the next run.
    build_tests(targets)
    return 0


def interrupted(signum, frame):
    raise KeyboardInterrupt


signal.signal(signal.SIGTERM, interrupted)
try:
    sys.exit(main())
except KeyboardInterrupt:
    log("mutants: interrupted; the copy's sources are restored")
    sys.exit(130)
PY
