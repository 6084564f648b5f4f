#!/usr/bin/env bash
# Soak test of the running screen saver against a sound server that keeps
# going away: `vexlor /s` full screen on an X server of its own (Xvfb) for
# N seconds (default 3600), recording from a PulseAudio server of its own
# whose null sink plays a music-like WAV in a loop and whose monitor is the
# default source. Every 30 s the server is killed (SIGKILL) and started
# again. --demo is not used: it plays a built-in signal without talking to
# the server at all, so the kills would test nothing.
# Prints the program's RSS and CPU share every minute, and at the end the
# RSS growth after the first minute. Not part of the test suite.
#   bench/soak.sh [N seconds, default 3600] [build dir, default build/release]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-3600}
build=${2:-build/release}
vexlor=$build/app/vexlor
[ -x "$vexlor" ] || { echo "soak: $vexlor is missing; build first" >&2; exit 1; }
for tool in Xvfb pulseaudio pactl paplay; do
    command -v "$tool" >/dev/null || { echo "soak: $tool is missing" >&2; exit 1; }
done

work=$(mktemp -d "${TMPDIR:-/tmp}/vexlor-soak.XXXXXX")
export HOME=$work/home XDG_RUNTIME_DIR=$work/run XDG_CONFIG_HOME=$work/config
mkdir -p "$HOME" "$XDG_RUNTIME_DIR" "$XDG_CONFIG_HOME"
chmod 700 "$XDG_RUNTIME_DIR"
unset PULSE_SERVER PULSE_SINK PULSE_SOURCE PULSE_RUNTIME_PATH PULSE_STATE_PATH PULSE_COOKIE
unset DBUS_SESSION_BUS_ADDRESS QT_QPA_PLATFORM

xvfb_pid= server_pid= player_pid= vexlor_pid=
stop_pid() {
    if [ -n "$1" ] && kill -0 "$1" 2>/dev/null; then
        kill "${2:--TERM}" "$1" 2>/dev/null || true
    fi
    if [ -n "$1" ]; then wait "$1" 2>/dev/null || true; fi
}
cleanup() {
    stop_pid "$vexlor_pid"
    stop_pid "$player_pid"
    stop_pid "$server_pid"
    stop_pid "$xvfb_pid"
    rm -rf "$work"
}
trap cleanup EXIT

# The music: the project's own demo writer when it was built, else a chord.
if [ -x "$build/bench/make_demo_wav" ]; then
    "$build/bench/make_demo_wav" "$work/music.wav" 20 44100 >/dev/null
else
    python3 - "$work/music.wav" <<'PY'
import math, struct, sys, wave
with wave.open(sys.argv[1], "wb") as w:
    w.setnchannels(2); w.setsampwidth(2); w.setframerate(44100)
    w.writeframes(b"".join(struct.pack("<hh", *(2 * [int(6000 * sum(math.sin(2 * math.pi * f * i / 44100)
                  for f in (220, 277, 330, 1760))) ])) for i in range(44100 * 10)))
PY
fi

display=
for n in $(seq 150 199); do
    if [ ! -e "/tmp/.X$n-lock" ] && [ ! -e "/tmp/.X11-unix/X$n" ]; then display=$n; break; fi
done
[ -n "$display" ] || { echo "soak: no free display number" >&2; exit 1; }
Xvfb ":$display" -screen 0 1280x720x24 -nolisten tcp -noreset >/dev/null 2>&1 &
xvfb_pid=$!
for _ in $(seq 1 100); do [ -e "/tmp/.X11-unix/X$display" ] && break; sleep 0.1; done
export DISPLAY=":$display"

# The server in the foreground of a background job, with the null sink, its
# monitor as the default source and the music looping into the sink.
start_server() {
    pulseaudio --daemonize=no --system=no --use-pid-file=no -n --exit-idle-time=-1 \
        --disallow-exit --realtime=no --high-priority=no --log-target=file:"$work/pulse.log" \
        --load="module-native-protocol-unix auth-anonymous=1" &
    server_pid=$!
    for _ in $(seq 1 100); do pactl info >/dev/null 2>&1 && break; sleep 0.1; done
    pactl load-module module-null-sink sink_name=soak rate=44100 channels=2 >/dev/null
    pactl set-default-source soak.monitor
    (
        trap 'kill "$child" 2>/dev/null; exit 0' TERM
        while :; do
            paplay -d soak "$work/music.wav" 2>/dev/null &
            child=$!
            wait "$child" || sleep 1
        done
    ) &
    player_pid=$!
}
kill_server() {
    stop_pid "$player_pid"
    stop_pid "$server_pid" -KILL
    player_pid= server_pid=
}

start_server
"$vexlor" /s 2>"$work/vexlor.log" &
vexlor_pid=$!

rss_kb() { awk '/^VmRSS:/ { print $2 }' "/proc/$vexlor_pid/status"; }
cpu_ticks() { awk '{ print $14 + $15 }' "/proc/$vexlor_pid/stat"; }
hz=$(getconf CLK_TCK)

echo "soak: vexlor /s (pid $vexlor_pid) for ${seconds}s, server killed every 30 s"
start=$SECONDS
last_ticks=$(cpu_ticks)
last_time=$start
rss_first=
kills=0
# Kills at 15 s, 45 s, ...: each report comes 15 s after one.
next_kill=$((start + 15))
next_report=$((start + 60))
while [ $((SECONDS - start)) -lt "$seconds" ]; do
    sleep 1
    kill -0 "$vexlor_pid" 2>/dev/null || { echo "soak: vexlor exited" >&2; cat "$work/vexlor.log" >&2; exit 1; }
    elapsed=$((SECONDS - start))
    if [ "$SECONDS" -ge "$next_kill" ]; then
        kill_server
        start_server
        kills=$((kills + 1))
        next_kill=$((next_kill + 30))
    fi
    if [ "$SECONDS" -ge "$next_report" ]; then
        next_report=$((next_report + 60))
        now_ticks=$(cpu_ticks)
        rss=$(rss_kb)
        # Whether the program is recording from the server started last.
        streams=$(pactl list short source-outputs 2>/dev/null | wc -l)
        [ -n "$rss_first" ] || rss_first=$rss
        awk -v t="$elapsed" -v r="$rss" -v d=$((now_ticks - last_ticks)) -v hz="$hz" \
            -v s=$((SECONDS - last_time)) -v k="$kills" -v n="$streams" \
            'BEGIN { printf "%5d s  RSS %7.1f MiB  CPU %5.1f %% of one core  %d server kills, %d recording stream(s)\n", t, r / 1024, 100 * d / hz / s, k, n }'
        last_ticks=$now_ticks
        last_time=$SECONDS
    fi
done
rss=$(rss_kb)
awk -v a="${rss_first:-$rss}" -v b="$rss" \
    'BEGIN { printf "RSS growth after the first minute: %+.1f MiB (%.1f -> %.1f MiB)\n", (b - a) / 1024, a / 1024, b / 1024 }'
echo "program messages: $(wc -l <"$work/vexlor.log") lines; last: $(tail -n 1 "$work/vexlor.log")"
