#!/usr/bin/env bash
# Sets up a Debian 12 machine if needed, builds Vexlor and runs it.
#   run.sh                 the analyser in a window: on the sound server's
#                          default input, or on a built-in demo signal when no
#                          server answers; with no display at all, a snapshot
#                          of the demo signal rendered headlessly
#   run.sh ARGS...         the program with these arguments (/s, /p <id>, /c,
#                          --window, --input, ...; see --help)
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/setup.sh
./scripts/build.sh release >&2
vexlor=build/release/app/vexlor

if [ $# -gt 0 ]; then
    exec "$vexlor" "$@"
fi
if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
    exec "$vexlor" --window
fi
out=$PWD/build/vexlor-demo.png
QT_QPA_PLATFORM=offscreen "$vexlor" --window 800x300 --demo --snapshot "$out" --after 3
echo "No display here: the analyser ran headlessly on its demo signal; its picture is $out"
