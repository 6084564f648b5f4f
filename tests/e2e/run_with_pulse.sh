#!/usr/bin/env bash
# run_with_pulse.sh <e2e_capture>: runs the capture test against a PulseAudio
# server of its own (fresh HOME and XDG_RUNTIME_DIR) whose sine module plays
# 1 kHz at half full scale into a null sink, the monitor of which is the default
# source. Suites in order: WithServer; ServerLoss, which kills the server (its
# id in VEXLOR_E2E_PULSE_PID); WithoutServer. Stops the server by its process
# id on exit. Works as root.
set -u
capture=${1:?usage: run_with_pulse.sh <e2e_capture>}
command -v pulseaudio >/dev/null && command -v pactl >/dev/null ||
    { echo "run_with_pulse: needs the packages pulseaudio, pulseaudio-utils" >&2; exit 1; }

work=$(mktemp -d "${TMPDIR:-/tmp}/vexlor-e2e.XXXXXX")
export HOME=$work/home XDG_RUNTIME_DIR=$work/run
mkdir -p "$HOME" "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
# Only the server started here may answer.
unset PULSE_SERVER PULSE_SINK PULSE_SOURCE PULSE_RUNTIME_PATH PULSE_STATE_PATH PULSE_COOKIE
unset DBUS_SESSION_BUS_ADDRESS DISPLAY
server_pid= server_log=$work/pulseaudio.log
stop_server() {
    [ -n "$server_pid" ] && { kill "$server_pid"; wait "$server_pid"; } 2>/dev/null
    server_pid=
}
trap 'stop_server; rm -rf "$work"' EXIT
fail() {
    echo "run_with_pulse: $*" >&2
    [ -s "$server_log" ] && { echo "--- pulseaudio log ---"; tail -n 40 "$server_log"; } >&2
    exit 1
}

# In the foreground of a background job (a daemon leaves a zombie in a
# container); -n: no default script. As root it only warns.
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
{ pactl load-module module-null-sink sink_name=vexlor_null rate=44100 channels=2 &&
    pactl set-default-sink vexlor_null && pactl set-default-source vexlor_null.monitor &&
    pactl load-module module-sine sink=vexlor_null frequency=1000; } >/dev/null ||
    fail "cannot set up the null sink and its tone"

export VEXLOR_E2E_PULSE_PID=$server_pid
status=0
"$capture" --gtest_filter='WithServer.*' || status=1
"$capture" --gtest_filter='ServerLoss.*' || status=1
stop_server # ServerLoss killed it; make sure of it
"$capture" --gtest_filter='WithoutServer.*' || status=1
[ "$status" = 0 ] || fail "some end-to-end cases failed"
