#!/usr/bin/env bash
# The whole program's CPU cost: vexlor in a 1920 x 1080 window on the
# offscreen platform, fed a 30-second music-like WAV file. Prints two
# figures as shares of one core:
#  - steady: the CPU time (utime + stime from /proc) spent between 5 s after
#    the start and 5 + N s, i.e. frame ticks, copies to the screen, the event
#    loop and the WAV source, without start-up;
#  - whole run: everything from exec to exit over N + 10 s, including
#    start-up (fonts, layout) and the PNG encoding of the final --snapshot.
#   bench/program_cpu.sh [build dir, default build/release] [N seconds, default 30]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/release}
seconds=${2:-30}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

"$build/bench/make_demo_wav" "$work/music.wav" 30 44100
export QT_QPA_PLATFORM=offscreen XDG_CONFIG_HOME=$work/config
/usr/bin/time -f "%U %S %e" -o "$work/time" "$build/app/vexlor" --window 1920x1080 \
    --input "$work/music.wav" --snapshot "$work/last.png" --after "$((seconds + 10))" &
timer=$!
ticks() { awk '{ print $14 + $15 }' "/proc/$1/stat"; }
sleep 1
pid=$(pgrep -P "$timer" -n)
sleep 4
start=$(ticks "$pid")
sleep "$seconds"
end=$(ticks "$pid")
wait "$timer"
awk -v a="$start" -v b="$end" -v hz="$(getconf CLK_TCK)" -v n="$seconds" \
    'BEGIN { printf "steady: cpu %.2f s in %d s: %.2f %% of one core\n", (b - a) / hz, n, 100 * (b - a) / hz / n }'
read -r user sys wall < "$work/time"
awk -v u="$user" -v s="$sys" -v w="$wall" \
    'BEGIN { printf "whole run: cpu %.2f s (user %.2f, sys %.2f) in %.1f s wall: %.2f %% of one core\n", u + s, u, s, w, 100 * (u + s) / w }'
