#!/usr/bin/env bash
# vexlor beside cava on the same signal, at the same time: a 44.1 kHz stereo
# music-like WAV that vexlor plays itself (--input, in real time) while a
# PulseAudio server of this script's own plays it into a null sink whose
# monitor cava records. Each run measures N seconds (processor time from
# /proc) after 5 seconds of start-up, for vexlor, cava and, under Xvfb, the
# X server, plus each one's VmRSS at the end; the median of RUNS runs is
# printed with the ratios to cava.
#   bench/vs_cava.sh [build dir, default build/release] [N seconds, default 30] [RUNS, default 3]
# Environment: VEXLOR=<binary> measures another build of the program;
# CASES="offscreen:1920x1080 xvfb:1920x1080 offscreen:3840x2160" (the default)
# chooses the platforms and window sizes. vexlor shows display type 1 with
# 80 columns; cava draws 80 bars at 20 frames a second as raw output to
# /dev/null. cava comes from Debian: this benchmark installs it on its first
# run (root, or sudo), the test command never runs it.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/release}
seconds=${2:-30}
runs=${3:-3}
vexlor=${VEXLOR:-$build/app/vexlor}
cases=${CASES:-offscreen:1920x1080 xvfb:1920x1080 offscreen:3840x2160}

if ! command -v cava > /dev/null; then
    sudo=""
    [ "$(id -u)" -eq 0 ] || sudo=sudo
    $sudo apt-get install -y cava > /dev/null
fi
for tool in pulseaudio pactl paplay Xvfb; do
    command -v "$tool" > /dev/null || { echo "vs_cava.sh: needs $tool" >&2; exit 2; }
done

work=$(mktemp -d)
pids=()
cleanup() {
    for p in "${pids[@]}"; do kill "$p" 2> /dev/null || true; done
    wait 2> /dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

"$build/bench/make_demo_wav" "$work/music.wav" "$((seconds + 15))" 44100

# vexlor's settings: type 1, 80 columns.
mkdir -p "$work/config/tanuwel"
printf '[Config]\nVersion=1\nType=1\nFdiv=80\n' > "$work/config/tanuwel/vexlor.conf"

# cava's: 80 bars, 20 frames a second, raw bytes thrown away.
cat > "$work/cava.conf" << 'EOF'
[general]
framerate = 20
bars = 80
[input]
method = pulse
source = vscava.monitor
[output]
method = raw
raw_target = /dev/null
data_format = binary
EOF

# A sound server of our own, with one null sink for cava to record.
export XDG_RUNTIME_DIR=$work/run PULSE_RUNTIME_PATH=$work/run/pulse HOME=$work
mkdir -p "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
pulseaudio -n --daemonize=no --exit-idle-time=-1 --system=false --disallow-exit \
    -L "module-null-sink sink_name=vscava rate=44100" \
    -L "module-native-protocol-unix" > "$work/pulse.log" 2>&1 &
pids+=($!)
for _ in $(seq 50); do pactl info > /dev/null 2>&1 && break; sleep 0.1; done
pactl set-default-sink vscava

# Time spent on a processor by all of a process's threads, in nanoseconds
# (the scheduler's own sum): utime and stime in /proc/PID/stat come in
# 10 ms ticks, and 30 s of 0.7 % of a core is only 21 of them.
cpu_ns() {
    local t n s=0
    for t in /proc/"$1"/task/*/schedstat; do
        read -r n _ < "$t" && s=$((s + n))
    done
    echo "$s"
}
rss_kb() { awk '/^VmRSS:/ { print $2 }' "/proc/$1/status"; }

# One run: prints "vexlor_cpu cava_cpu x_cpu vexlor_rss_kb cava_rss_kb x_rss_kb"
# (CPU as % of one core; 0 for the X server when offscreen).
run_once() {
    local platform=$1 size=$2 xpid=0 display=""
    if [ "$platform" = xvfb ]; then
        # Xvfb takes a display number nobody uses and writes it to the file.
        : > "$work/display"
        Xvfb -displayfd 3 -screen 0 "${size}x24" -nolisten tcp 3> "$work/display" \
            > "$work/xvfb.log" 2>&1 &
        xpid=$!
        pids+=("$xpid")
        for _ in $(seq 50); do [ -s "$work/display" ] && break; sleep 0.1; done
        display=":$(head -n 1 "$work/display")"
        [ "$display" != ":" ] || { echo "vs_cava.sh: Xvfb did not start" >&2; exit 1; }
    fi
    paplay --device=vscava "$work/music.wav" &
    local play=$!
    cava -p "$work/cava.conf" > /dev/null 2>&1 &
    local cpid=$!
    if [ "$platform" = xvfb ]; then
        DISPLAY=$display QT_QPA_PLATFORM=xcb XDG_CONFIG_HOME=$work/config \
            "$vexlor" --window "$size" --input "$work/music.wav" > "$work/vexlor.log" 2>&1 &
    else
        QT_QPA_PLATFORM=offscreen XDG_CONFIG_HOME=$work/config \
            "$vexlor" --window "$size" --input "$work/music.wav" > "$work/vexlor.log" 2>&1 &
    fi
    local vpid=$!
    pids+=("$play" "$cpid" "$vpid")
    sleep 5
    local v0 c0 x0=0 v1 c1 x1=0
    v0=$(cpu_ns "$vpid")
    c0=$(cpu_ns "$cpid")
    [ "$xpid" = 0 ] || x0=$(cpu_ns "$xpid")
    sleep "$seconds"
    v1=$(cpu_ns "$vpid")
    c1=$(cpu_ns "$cpid")
    [ "$xpid" = 0 ] || x1=$(cpu_ns "$xpid")
    local vr cr xr=0
    vr=$(rss_kb "$vpid")
    cr=$(rss_kb "$cpid")
    [ "$xpid" = 0 ] || xr=$(rss_kb "$xpid")
    kill "$vpid" "$cpid" "$play" 2> /dev/null || true
    wait "$vpid" "$cpid" "$play" 2> /dev/null || true
    if [ "$xpid" != 0 ]; then
        kill "$xpid" 2> /dev/null || true
        wait "$xpid" 2> /dev/null || true
    fi
    awk -v n="$seconds" -v v="$((v1 - v0))" -v c="$((c1 - c0))" -v x="$((x1 - x0))" \
        -v vr="$vr" -v cr="$cr" -v xr="$xr" \
        'BEGIN { printf "%.3f %.3f %.3f %d %d %d\n", v/n/1e7, c/n/1e7, x/n/1e7, vr, cr, xr }'
}

median() { sort -g | awk '{ a[NR] = $1 } END { print a[int((NR + 1) / 2)] }'; }

for c in $cases; do
    platform=${c%%:*}
    size=${c#*:}
    : > "$work/runs"
    for r in $(seq "$runs"); do
        line=$(run_once "$platform" "$size")
        echo "$platform $size run $r: vexlor/cava/X cpu % and RSS kB: $line"
        echo "$line" >> "$work/runs"
    done
    v=$(awk '{ print $1 }' "$work/runs" | median)
    cv=$(awk '{ print $2 }' "$work/runs" | median)
    x=$(awk '{ print $3 }' "$work/runs" | median)
    vr=$(awk '{ print $4 }' "$work/runs" | median)
    cr=$(awk '{ print $5 }' "$work/runs" | median)
    xr=$(awk '{ print $6 }' "$work/runs" | median)
    awk -v p="$platform" -v s="$size" -v v="$v" -v c="$cv" -v x="$x" -v vr="$vr" -v cr="$cr" \
        -v xr="$xr" -v n="$runs" 'BEGIN {
        printf "%s %s (median of %d): vexlor %.2f %%, cava %.2f %%, vexlor/cava %.2f", p, s, n, v, c, (c > 0 ? v / c : 0)
        if (p == "xvfb") printf "; X server %.2f %%, vexlor + X %.2f %% (%.2f x cava)", x, v + x, (c > 0 ? (v + x) / c : 0)
        printf "; RSS vexlor %.1f MB, cava %.1f MB", vr / 1024, cr / 1024
        if (p == "xvfb") printf ", X server %.1f MB", xr / 1024
        printf "\n" }'
done
