#!/usr/bin/env bash
# Keeps the folders honest as layers. From the top down:
#   app > dialogs > display > analysis > audio (with audio/input) > graphics > settings > platform
# A source file may include headers of its own folder or of folders below it,
# never of a folder above. Also refused: files that include each other, directly
# or round a longer loop. Prints every offending line as
#   file: #include "x"
# and exits 1; exits 0 when the includes are clean. Only the product folders
# are looked at (not tests/, bench/ or fuzz/).
set -euo pipefail
cd "$(dirname "$0")/.."

exec python3 - "$@" <<'PY'
import os
import re
import sys

LAYERS = ["app", "dialogs", "display", "analysis", "audio", "graphics", "settings", "platform"]
RANK = {name: len(LAYERS) - i for i, name in enumerate(LAYERS)}  # higher is further up
INCLUDE = re.compile(r'^\s*#\s*include\s*"([^"]+)"')


def layer_of(path):
    """The layer a path (relative to the root) belongs to, or None."""
    top = path.split("/", 1)[0]
    return top if top in RANK else None


files = []
for layer in LAYERS:
    for root, dirs, names in os.walk(layer):
        dirs.sort()
        for name in sorted(names):
            if name.endswith((".h", ".cpp")):
                files.append(os.path.join(root, name))

bad = []
edges = {}  # file -> [(included file, line text)]
for path in files:
    with open(path, encoding="utf-8", errors="replace") as f:
        for line in f:
            m = INCLUDE.match(line)
            if not m:
                continue
            target = m.group(1)
            # "x.h" beside the file first, then from the root as the build does.
            beside = os.path.normpath(os.path.join(os.path.dirname(path), target))
            if os.path.isfile(beside):
                resolved = beside
            elif os.path.isfile(target):
                resolved = os.path.normpath(target)
            else:
                continue  # generated (ui_*.h) or not ours
            text = '#include "%s"' % target
            edges.setdefault(path, []).append((resolved, text))
            to = layer_of(resolved)
            if to is not None and RANK[to] > RANK[layer_of(path)]:
                bad.append("%s: %s   (%s above %s)" % (path, text, to, layer_of(path)))

# Include loops: a depth-first search that reports each back edge once.
WHITE, GREY, BLACK = 0, 1, 2
colour = {path: WHITE for path in files}
stack = []


def visit(node):
    colour[node] = GREY
    stack.append(node)
    for target, text in edges.get(node, []):
        state = colour.get(target, BLACK)
        if state == GREY:
            loop = stack[stack.index(target):] + [target]
            bad.append("%s: %s   (include loop: %s)" % (node, text, " -> ".join(loop)))
        elif state == WHITE:
            visit(target)
    stack.pop()
    colour[node] = BLACK


sys.setrecursionlimit(10000)
for path in files:
    if colour[path] == WHITE:
        visit(path)

for line in bad:
    print(line)
if bad:
    print("check_layers: %d offending include(s) in %d files" % (len(bad), len(files)),
          file=sys.stderr)
    sys.exit(1)
print("check_layers: %d files, includes point down the layers, no loops" % len(files))
PY
