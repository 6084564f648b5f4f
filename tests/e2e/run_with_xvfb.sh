#!/usr/bin/env bash
# run_with_xvfb.sh <binary> [arguments...]: runs the binary with an X server of
# its own (Xvfb, 1024 x 768, on a free display number), stopped by its process id.
set -u
command -v Xvfb >/dev/null || { echo "run_with_xvfb: Xvfb is missing (package xvfb)" >&2; exit 1; }
for n in $(seq 90 140) none; do
    [ ! -e "/tmp/.X$n-lock" ] && [ ! -e "/tmp/.X11-unix/X$n" ] && break
done
[ "$n" != none ] || { echo "run_with_xvfb: no free display number" >&2; exit 1; }
Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp -noreset >/dev/null 2>&1 &
xvfb_pid=$!
trap 'kill "$xvfb_pid" 2>/dev/null; wait "$xvfb_pid" 2>/dev/null' EXIT
for _ in $(seq 1 100); do
    [ -e "/tmp/.X11-unix/X$n" ] && break
    kill -0 "$xvfb_pid" 2>/dev/null || { echo "run_with_xvfb: Xvfb exited at start" >&2; exit 1; }
    sleep 0.1
done
DISPLAY=":$n" "$@"
