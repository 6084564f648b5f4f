#!/usr/bin/env bash
# The whole program's CPU cost: vexlor in a 1920 x 1080 window on the
# offscreen platform, fed a 30-second music-like WAV file, for 30 seconds.
# Prints the CPU seconds used and the share of one core.
#   bench/program_cpu.sh [build dir, default build/release] [seconds, default 30]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/release}
seconds=${2:-30}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

"$build/bench/make_demo_wav" "$work/music.wav" 30 44100
export QT_QPA_PLATFORM=offscreen XDG_CONFIG_HOME=$work/config
/usr/bin/time -f "%U %S %e" -o "$work/time" "$build/app/vexlor" --window 1920x1080 \
    --input "$work/music.wav" --snapshot "$work/last.png" --after "$seconds"
read -r user sys wall < "$work/time"
awk -v u="$user" -v s="$sys" -v w="$wall" \
    'BEGIN { printf "cpu %.2f s (user %.2f, sys %.2f) in %.1f s wall: %.2f %% of one core\n", u + s, u, s, w, 100 * (u + s) / w }'
