#!/usr/bin/env bash
# run_with_pulse.sh <e2e_capture> <e2e_tone>: runs the capture test against a
# PulseAudio server of its own, in a fresh HOME and XDG_RUNTIME_DIR, whose null
# sink's monitor is the default source and into which a 1 kHz tone loops.
# Suites in order: WithServer; ServerLoss, which kills the server (its id in
# VEXLOR_E2E_PULSE_PID); WithoutServer. Everything started here is stopped by
# its process id on exit. Works as root (the server only warns).
set -u
capture=${1:?usage: run_with_pulse.sh <e2e_capture> <e2e_tone>}
tone_tool=${2:?usage: run_with_pulse.sh <e2e_capture> <e2e_tone>}
for tool in pulseaudio pactl paplay; do
    command -v "$tool" >/dev/null ||
        { echo "run_with_pulse: $tool is missing (packages pulseaudio, pulseaudio-utils)" >&2; exit 1; }
done

work=$(mktemp -d "${TMPDIR:-/tmp}/vexlor-e2e.XXXXXX")
export HOME=$work/home XDG_RUNTIME_DIR=$work/run
mkdir -p "$HOME" "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
# Only the server started here may answer.
unset PULSE_SERVER PULSE_SINK PULSE_SOURCE PULSE_RUNTIME_PATH PULSE_STATE_PATH PULSE_COOKIE
unset DBUS_SESSION_BUS_ADDRESS DISPLAY
server_pid= player_pid= server_log=$work/pulseaudio.log

stop_pid() {
    [ -n "$1" ] || return 0
    kill "$1" 2>/dev/null
    wait "$1" 2>/dev/null
    return 0
}
trap 'stop_pid "$player_pid"; stop_pid "$server_pid"; rm -rf "$work"' EXIT
fail() {
    echo "run_with_pulse: $*" >&2
    [ -s "$server_log" ] && { echo "--- pulseaudio log ---"; tail -n 40 "$server_log"; } >&2
    exit 1
}

# In the foreground of a background job (a daemon leaves a zombie in a
# container); -n: no default script, only the native protocol at start.
pulseaudio --daemonize=no --system=no --use-pid-file=no -n \
    --exit-idle-time=-1 --disallow-exit --realtime=no --high-priority=no \
    --log-target=file:"$server_log" \
    --load="module-native-protocol-unix auth-anonymous=1" &
server_pid=$!
for _ in $(seq 1 100); do
    pactl info >/dev/null 2>&1 && break
    kill -0 "$server_pid" 2>/dev/null || fail "pulseaudio exited at start"
    sleep 0.1
done
pactl info >/dev/null 2>&1 || fail "pulseaudio did not answer within 10 s"
pactl load-module module-null-sink sink_name=vexlor_null rate=44100 channels=2 >/dev/null &&
    pactl set-default-sink vexlor_null && pactl set-default-source vexlor_null.monitor ||
    fail "cannot set up the null sink"

# 60 s of tone, whole periods so the loop has no click; playing before any
# capture, as its first data takes a second or two to reach the monitor.
"$tone_tool" "$work/tone.wav" 60 44100 1000 0.5 || fail "cannot write the tone"
(
    trap 'kill "$child" 2>/dev/null; exit 0' TERM
    while :; do
        paplay --latency-msec=20 -d vexlor_null "$work/tone.wav" &
        child=$!
        wait "$child" || exit 1
    done
) &
player_pid=$!

export VEXLOR_E2E_PULSE_PID=$server_pid
status=0
"$capture" --gtest_filter='WithServer.*' || status=1
"$capture" --gtest_filter='ServerLoss.*' || status=1
# ServerLoss killed the server; make sure of it, and of the player.
stop_pid "$server_pid"
stop_pid "$player_pid"
server_pid= player_pid=
"$capture" --gtest_filter='WithoutServer.*' || status=1
[ "$status" = 0 ] || fail "some end-to-end cases failed"
