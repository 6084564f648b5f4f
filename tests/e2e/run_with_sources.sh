#!/usr/bin/env bash
# run_with_sources.sh pulseaudio|pipewire <binary> [arguments...]: runs the
# binary (under run_with_xvfb.sh) against a sound server of its own, fresh
# HOME and XDG_RUNTIME_DIR, that has the outputs and inputs of a desktop with a
# microphone: null sinks "speakers" (the default sink) and "phones", and a null
# source "mic" (the default source). Nothing plays yet; the test plays its
# tones. pipewire: pipewire, wireplumber and pipewire-pulse, headless; the
# binary is run with VEXLOR_E2E_SKIP set to the reason when they cannot start
# here. Stops the servers by their process ids on exit. Works as root.
set -u
kind=${1:?usage: run_with_sources.sh pulseaudio|pipewire <binary> [arguments...]}
shift
here=$(cd "$(dirname "$0")" && pwd)
command -v pactl >/dev/null || { echo "run_with_sources: pactl is missing (pulseaudio-utils)" >&2; exit 1; }

work=$(mktemp -d "${TMPDIR:-/tmp}/vexlor-sources.XXXXXX")
export HOME=$work/home XDG_RUNTIME_DIR=$work/run XDG_CONFIG_HOME=$work/home/.config
export XDG_STATE_HOME=$work/home/.local/state XDG_DATA_HOME=$work/home/.local/share
mkdir -p "$HOME" "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
unset PULSE_SERVER PULSE_SINK PULSE_SOURCE PULSE_RUNTIME_PATH PULSE_STATE_PATH PULSE_COOKIE
unset DBUS_SESSION_BUS_ADDRESS DISPLAY PIPEWIRE_REMOTE PIPEWIRE_RUNTIME_DIR
pids=()
stop_servers() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; done
    for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null; done
    pids=()
}
trap 'stop_servers; rm -rf "$work"' EXIT
fail() {
    echo "run_with_sources: $*" >&2
    for log in "$work"/*.log; do
        [ -s "$log" ] && { echo "--- $log ---"; tail -n 30 "$log"; } >&2
    done
    exit 1
}
answers() {
    for _ in $(seq 1 100); do
        pactl info >/dev/null 2>&1 && return 0
        for pid in "${pids[@]}"; do kill -0 "$pid" 2>/dev/null || return 1; done
        sleep 0.1
    done
    return 1
}

skip=
case $kind in
pulseaudio)
    command -v pulseaudio >/dev/null || fail "pulseaudio is missing"
    pulseaudio --daemonize=no --system=no --use-pid-file=no -n \
        --exit-idle-time=-1 --disallow-exit --realtime=no --high-priority=no \
        --log-target=file:"$work/pulseaudio.log" \
        --load="module-native-protocol-unix auth-anonymous=1" &
    pids+=($!)
    answers || fail "pulseaudio did not answer within 10 s"
    { pactl load-module module-null-sink sink_name=speakers rate=44100 channels=2 &&
        pactl load-module module-null-sink sink_name=phones rate=44100 channels=2 &&
        pactl load-module module-null-source source_name=mic rate=44100 channels=2; } >/dev/null ||
        fail "cannot make the sinks and the source"
    ;;
pipewire)
    for tool in pipewire pipewire-pulse wireplumber; do
        command -v $tool >/dev/null || fail "$tool is missing (scripts/setup.sh installs it)"
    done
    command -v dbus-daemon >/dev/null || fail "dbus-daemon is missing (package dbus-daemon)"
    # WirePlumber ends without a session bus: a private one, then the three
    # daemons, headless (no hardware: the null devices below are all there is).
    dbus-daemon --session --nofork --nopidfile --address="unix:path=$XDG_RUNTIME_DIR/bus" \
        >"$work/dbus.log" 2>&1 &
    pids+=($!)
    export DBUS_SESSION_BUS_ADDRESS=unix:path=$XDG_RUNTIME_DIR/bus
    for _ in $(seq 1 50); do [ -S "$XDG_RUNTIME_DIR/bus" ] && break; sleep 0.1; done
    pipewire >"$work/pipewire.log" 2>&1 &
    pids+=($!)
    sleep 0.5
    wireplumber >"$work/wireplumber.log" 2>&1 &
    pids+=($!)
    pipewire-pulse >"$work/pipewire-pulse.log" 2>&1 &
    pids+=($!)
    if ! answers; then
        skip="PipeWire's PulseAudio service did not start here: $(tail -q -n 2 "$work"/*.log | tr '\n' ' ')"
    elif ! { pactl load-module module-null-sink sink_name=speakers rate=44100 channels=2 &&
        pactl load-module module-null-sink sink_name=phones rate=44100 channels=2 &&
        pactl load-module module-null-sink sink_name=mic rate=44100 channels=2 \
            media.class=Audio/Source/Virtual; } >/dev/null; then
        fail "cannot make the sinks and the source under PipeWire"
    fi
    ;;
*) fail "unknown server $kind" ;;
esac
if [ -z "$skip" ]; then
    { pactl set-default-sink speakers && pactl set-default-source mic; } >/dev/null ||
        fail "cannot choose the default sink and source"
    # The server takes a moment to publish the new defaults.
    for _ in $(seq 1 50); do
        pactl info | grep -q "Default Sink: speakers" && pactl info | grep -q "Default Source: mic" && break
        sleep 0.1
    done
    pactl info | grep -q "Default Sink: speakers" || fail "speakers is not the default sink"
fi

export VEXLOR_E2E_SKIP=$skip VEXLOR_E2E_SERVER=$kind
bash "$here/run_with_xvfb.sh" "$@"
status=$?
[ "$status" = 0 ] || fail "some end-to-end cases failed"
