#!/usr/bin/env bash
# Runs the end-to-end capture test against a PulseAudio server of its own.
#
#   run_with_pulse.sh <e2e_capture binary> <e2e_tone binary>
#
# In a fresh temporary HOME and XDG_RUNTIME_DIR it starts a PulseAudio server
# in the foreground of a background job (no daemonizing: that leaves a zombie
# in a container), with a null sink whose monitor becomes the default source,
# loops a stereo 1 kHz tone into the sink, and runs the test suites in order:
#   WithServer     the tone through libpulse, CWave, CWaveDevice and CFFT
#   ServerLoss     the test kills the server mid-run (its id in VEXLOR_E2E_PULSE_PID)
#   WithoutServer  opening fails cleanly once the server is gone
# Everything started here is stopped by its process id on exit. Works as root.
set -u

capture=${1:?usage: run_with_pulse.sh <e2e_capture> <e2e_tone>}
tone_tool=${2:?usage: run_with_pulse.sh <e2e_capture> <e2e_tone>}

for tool in pulseaudio pactl paplay; do
    if ! command -v "$tool" >/dev/null; then
        echo "run_with_pulse: $tool is missing (packages pulseaudio, pulseaudio-utils)" >&2
        exit 1
    fi
done

work=$(mktemp -d "${TMPDIR:-/tmp}/vexlor-e2e.XXXXXX")
export HOME=$work/home
export XDG_RUNTIME_DIR=$work/run
mkdir -p "$HOME" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"
# Only the server started here may answer.
unset PULSE_SERVER PULSE_SINK PULSE_SOURCE PULSE_RUNTIME_PATH PULSE_STATE_PATH PULSE_COOKIE
unset DBUS_SESSION_BUS_ADDRESS DISPLAY

server_pid=
player_pid=
server_log=$work/pulseaudio.log

stop_pid() {
    if [ -n "$1" ] && kill -0 "$1" 2>/dev/null; then
        kill "$1" 2>/dev/null
    fi
    [ -n "$1" ] && wait "$1" 2>/dev/null
    return 0
}

cleanup() {
    stop_pid "$player_pid"
    stop_pid "$server_pid"
    rm -rf "$work"
}
trap cleanup EXIT

fail() {
    echo "run_with_pulse: $*" >&2
    if [ -s "$server_log" ]; then
        echo "--- pulseaudio log ---" >&2
        tail -n 40 "$server_log" >&2
    fi
    exit 1
}

# -n: no default script; the native protocol is the only module loaded at
# start. As root the server warns that it is not meant to run as root; that
# is harmless here.
pulseaudio --daemonize=no --system=no --use-pid-file=no -n \
    --exit-idle-time=-1 --disallow-exit --realtime=no --high-priority=no \
    --log-target=file:"$server_log" \
    --load="module-native-protocol-unix auth-anonymous=1" &
server_pid=$!

ready=0
for _ in $(seq 1 100); do
    if pactl info >/dev/null 2>&1; then
        ready=1
        break
    fi
    kill -0 "$server_pid" 2>/dev/null || fail "pulseaudio exited at start"
    sleep 0.1
done
[ "$ready" = 1 ] || fail "pulseaudio did not answer within 10 s"

pactl load-module module-null-sink sink_name=vexlor_null rate=44100 channels=2 >/dev/null ||
    fail "cannot load module-null-sink"
pactl set-default-sink vexlor_null || fail "cannot set the default sink"
pactl set-default-source vexlor_null.monitor || fail "cannot set the default source"

# 60 s of tone; a whole number of periods, so the loop has no click.
"$tone_tool" "$work/tone.wav" 60 44100 1000 0.5 || fail "cannot write the tone"

# The player starts before any capture: its first data can take a second or
# two to reach the monitor. The loop's own trap stops the current paplay.
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

# The server is gone by now (ServerLoss killed it); make sure of it.
stop_pid "$server_pid"
server_pid=
stop_pid "$player_pid"
player_pid=
"$capture" --gtest_filter='WithoutServer.*' || status=1

if [ "$status" != 0 ]; then
    fail "some end-to-end cases failed"
fi
exit 0
