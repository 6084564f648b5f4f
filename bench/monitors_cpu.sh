#!/usr/bin/env bash
# The saver's CPU cost with two 1920 x 1080 monitors against one: `vexlor /s`
# on an Xvfb of its own, 1920 x 1080, or 3840 x 1080 split into two RandR
# monitors side by side with xrandr --setmonitor (one window per monitor, one
# engine for both), fed a 30-second music-like WAV file; with the default
# graph (545 x 151) and with one that fills the monitor (1890 x 1050). For
# each, the program's CPU time (utime + stime from /proc) between 5 s after
# the start and 5 + N s, as a share of one core; the median of three runs,
# and the ratio of two monitors to one (the aim: below 1.5).
#   bench/monitors_cpu.sh [build dir, default build/release] [N seconds, default 30]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/release}
seconds=${2:-30}
work=$(mktemp -d)
server=
cleanup() {
    [ -n "$server" ] && kill "$server" 2>/dev/null && wait "$server" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT
for tool in Xvfb xrandr; do
    command -v "$tool" >/dev/null || { echo "$tool is missing (scripts/setup.sh installs it)" >&2; exit 1; }
done
for n in $(seq 200 249) none; do
    [ ! -e "/tmp/.X$n-lock" ] && [ ! -e "/tmp/.X11-unix/X$n" ] && break
done
[ "$n" != none ] || { echo "no free display number" >&2; exit 1; }
export DISPLAY=":$n" QT_QPA_PLATFORM=xcb XDG_CONFIG_HOME=$work/config HOME=$work
"$build/bench/make_demo_wav" "$work/music.wav" 30 44100

# start_server WIDTH: an Xvfb WIDTH x 1080; 3840 is split into two monitors.
start_server() {
    Xvfb "$DISPLAY" -screen 0 "$1x1080x24" +extension RANDR -nolisten tcp -noreset \
        >/dev/null 2>&1 &
    server=$!
    for _ in $(seq 1 100); do
        xrandr >/dev/null 2>&1 && break
        sleep 0.1
    done
    if [ "$1" = 3840 ]; then
        xrandr --setmonitor bench-left 1920/508x1080/286+0+0 screen >/dev/null
        xrandr --setmonitor bench-right 1920/508x1080/286+1920+0 none >/dev/null
    fi
}
stop_server() {
    kill "$server" 2>/dev/null
    wait "$server" 2>/dev/null || true
    server=
}
ticks() { awk '{ print $14 + $15 }' "/proc/$1/stat"; }
# One run: the share of one core, in per cent.
run_once() {
    "$build/app/vexlor" /s --input "$work/music.wav" >/dev/null 2>&1 &
    local pid=$!
    sleep 5
    local start end
    start=$(ticks "$pid")
    sleep "$seconds"
    end=$(ticks "$pid")
    kill "$pid"
    wait "$pid" 2>/dev/null || true
    awk -v a="$start" -v b="$end" -v hz="$(getconf CLK_TCK)" -v n="$seconds" \
        'BEGIN { printf "%.2f\n", 100 * (b - a) / hz / n }'
}
median_of_three() {
    local runs=()
    for _ in 1 2 3; do runs+=("$(run_once)"); done
    echo "   runs: ${runs[*]} % of one core" >&2
    printf '%s\n' "${runs[@]}" | sort -g | sed -n 2p
}

# compare GRAPH_WIDTH GRAPH_HEIGHT: one monitor against two with that graph.
compare() {
    mkdir -p "$work/config/tanuwel"
    printf '[Config]\nVersion=1\nSaverSizeX=%s\nSaverSizeY=%s\n' "$1" "$2" \
        >"$work/config/tanuwel/vexlor.conf"
    echo "graph $1 x $2:" >&2
    start_server 1920
    echo " one monitor (1920 x 1080):" >&2
    local one two
    one=$(median_of_three)
    stop_server
    start_server 3840
    echo " two monitors (2 x 1920 x 1080): $(xrandr --listmonitors | head -1)" >&2
    two=$(median_of_three)
    stop_server
    awk -v a="$one" -v b="$two" -v w="$1" -v h="$2" 'BEGIN {
        printf "graph %s x %s: one monitor %.2f %%, two monitors %.2f %% of one core (medians of 3): %.2f times\n", w, h, a, b, b / a }'
}
compare 545 151
compare 1890 1050
