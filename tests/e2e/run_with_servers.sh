#!/usr/bin/env bash
# run_with_servers.sh [--two-monitors] [--no-shm] [--sound pulseaudio|pipewire] <binary> [arguments...]:
# runs the binary with servers of its own, stopped by their process ids on exit; works as root.
# X: Xvfb 1024 x 768; with --two-monitors one 2304 x 800 screen split into two RandR monitors,
# 1280 x 800 at (0, 0) and 1024 x 768 at (1280, 0) (Xorg's dummy driver as root, else Xvfb;
# the kind in VEXLOR_X_SERVER); with --no-shm an Xvfb without shared memory for its clients, as
# a remote display has none (VEXLOR_X_WITHOUT_SHM=1). --sound: a server (fresh HOME and XDG_RUNTIME_DIR) with null
# sinks "speakers" (the default) and "phones" and a null source "mic" (the default source);
# nothing plays. pipewire runs headless; VEXLOR_E2E_SKIP says why when it cannot start here.
set -u
monitors=1 sound= shm=+
while [ $# -gt 0 ]; do
    case $1 in --two-monitors) monitors=2 && shift ;; --no-shm) shm=- && shift ;; --sound) sound=${2:-}; shift; shift ;; *) break ;; esac
done
work=$(mktemp -d "${TMPDIR:-/tmp}/vexlor-e2e.XXXXXX")
pids=()
trap 'for p in "${pids[@]}"; do kill "$p"; wait "$p"; done 2>/dev/null; rm -rf "$work"' EXIT
fail() {
    echo "run_with_servers: $*" >&2
    for log in "$work"/*.log; do [ -s "$log" ] && { echo "--- $log ---"; tail -n 30 "$log"; } >&2; done
    exit 1
}
# Waits until "$@" succeeds; false when the newest server ended or 10 s passed.
answers() {
    for _ in $(seq 1 100); do
        "$@" >/dev/null 2>&1 && return 0
        kill -0 "${pids[-1]}" 2>/dev/null || return 1
        sleep 0.1
    done
    return 1
}
for tool in Xvfb xrandr ${sound:+pactl}; do
    command -v "$tool" >/dev/null || fail "$tool is missing (scripts/setup.sh installs it)"
done

skip=
# Only servers started here may answer.
unset DISPLAY PULSE_SERVER PULSE_SINK PULSE_SOURCE PULSE_RUNTIME_PATH PULSE_STATE_PATH PULSE_COOKIE
unset DBUS_SESSION_BUS_ADDRESS PIPEWIRE_REMOTE PIPEWIRE_RUNTIME_DIR
if [ -n "$sound" ]; then
    export HOME=$work/home XDG_RUNTIME_DIR=$work/run XDG_CONFIG_HOME=$work/home/.config
    export XDG_STATE_HOME=$work/home/.local/state XDG_DATA_HOME=$work/home/.local/share
    mkdir -p "$HOME" "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
    mic=(module-null-source source_name=mic)
    case $sound in
    pulseaudio)
        # In the foreground of a background job: a daemon leaves a zombie in a container.
        pulseaudio --daemonize=no --system=no --use-pid-file=no -n --exit-idle-time=-1 \
            --disallow-exit --realtime=no --high-priority=no --log-target=file:"$work/pulseaudio.log" \
            --load="module-native-protocol-unix auth-anonymous=1" &
        pids+=($!)
        answers pactl info || fail "pulseaudio did not answer within 10 s"
        ;;
    pipewire)
        for tool in pipewire pipewire-pulse wireplumber dbus-daemon; do
            command -v $tool >/dev/null || fail "$tool is missing (scripts/setup.sh installs it)"
        done
        # WirePlumber ends without a session bus: a private one, then the three daemons,
        # headless (the null devices below are all there is).
        export DBUS_SESSION_BUS_ADDRESS=unix:path=$XDG_RUNTIME_DIR/bus
        dbus-daemon --session --nofork --nopidfile --address="$DBUS_SESSION_BUS_ADDRESS" \
            >"$work/dbus.log" 2>&1 &
        pids+=($!)
        answers test -S "$XDG_RUNTIME_DIR/bus"
        pipewire >"$work/pipewire.log" 2>&1 &
        pids+=($!)
        sleep 0.5
        wireplumber >"$work/wireplumber.log" 2>&1 &
        pids+=($!)
        pipewire-pulse >"$work/pipewire-pulse.log" 2>&1 &
        pids+=($!)
        answers pactl info ||
            skip="PipeWire's PulseAudio service did not start here: $(tail -q -n 2 "$work"/*.log | tr '\n' ' ')"
        mic=(module-null-sink sink_name=mic media.class=Audio/Source/Virtual)
        ;;
    *) fail "unknown sound server $sound" ;;
    esac
    if [ -z "$skip" ]; then
        { pactl load-module module-null-sink sink_name=speakers rate=44100 channels=2 &&
            pactl load-module module-null-sink sink_name=phones rate=44100 channels=2 &&
            pactl load-module "${mic[@]}" rate=44100 channels=2; } >/dev/null ||
            fail "cannot make the sinks and the source"
        # Under PipeWire the defaults belong to WirePlumber, which may still be
        # starting when its PulseAudio service answers ("Not supported").
        answers sh -c 'pactl set-default-sink speakers && pactl set-default-source mic' ||
            fail "cannot make speakers and mic the defaults"
        # The server takes a moment to publish the new defaults.
        answers sh -c 'pactl info | grep -q "Default Sink: speakers" && pactl info | grep -q "Default Source: mic"' ||
            fail "speakers and mic are not the defaults"
    fi
fi

# Tests run side by side (ctest -j): a display number is chosen and its
# server started under one lock, so that two runs never share a display.
exec 8>/tmp/vexlor-e2e-display.lock
flock 8
for n in $(seq 90 199) none; do
    [ ! -e "/tmp/.X$n-lock" ] && [ ! -e "/tmp/.X11-unix/X$n" ] && break
done
[ "$n" != none ] || fail "no free display number"
export DISPLAY=:$n
kind= size=1024x768
if [ "$monitors" = 2 ]; then
    size=2304x800
    cat >"$work/xorg.conf" <<'CONF'
Section "ServerFlags"
    Option "AutoAddDevices" "false"
    Option "AutoAddGPU" "false"
EndSection
Section "Device"
    Identifier "card"
    Driver "dummy"
    VideoRam 65536
EndSection
Section "Monitor"
    Identifier "monitor"
    HorizSync 5.0-1000.0
    VertRefresh 5.0-200.0
    Modeline "2304x800" 150.00 2304 2336 2400 2432 800 803 813 825
EndSection
Section "Screen"
    Identifier "screen"
    Device "card"
    Monitor "monitor"
    DefaultDepth 24
    SubSection "Display"
        Depth 24
        Modes "2304x800"
        Virtual 2304 800
    EndSubSection
EndSection
CONF
    # VEXLOR_TWO_MONITORS_XVFB=1 goes straight to Xvfb.
    if command -v Xorg >/dev/null && [ "$(id -u)" -eq 0 ] && [ "${VEXLOR_TWO_MONITORS_XVFB:-}" != 1 ] &&
        [ "$shm" = + ]; then
        Xorg "$DISPLAY" -config "$work/xorg.conf" -logfile "$work/xorg.out" -nolisten tcp -noreset \
            >/dev/null 2>&1 8>&- &
        pids+=($!)
        if answers xrandr; then
            kind=xorg
        else
            echo "run_with_servers: Xorg with the dummy driver did not start; using Xvfb" >&2
            kill "${pids[-1]}" 2>/dev/null && wait "${pids[-1]}" 2>/dev/null
            unset 'pids[-1]'
        fi
    fi
fi
if [ -z "$kind" ]; then
    Xvfb "$DISPLAY" -screen 0 "${size}x24" +extension RANDR "${shm}extension" MIT-SHM -nolisten tcp \
        -noreset >/dev/null 2>&1 8>&- &
    pids+=($!)
    answers xrandr || fail "Xvfb did not start"
    kind=xvfb
fi
exec 8>&- # the server holds its display now
[ "$shm" = + ] || export VEXLOR_X_WITHOUT_SHM=1
if [ "$monitors" = 2 ]; then
    output=$(xrandr | awk '/ connected/ { print $1; exit }')
    { xrandr --setmonitor vexlor-left 1280/338x800/211+0+0 "${output:-none}" &&
        xrandr --setmonitor vexlor-right 1024/270x768/203+1280+0 none; } >/dev/null ||
        fail "xrandr --setmonitor failed on $kind"
    echo "run_with_servers: $kind on $DISPLAY: $(xrandr --listmonitors | tr '\n' ' ')" >&2
    export VEXLOR_X_SERVER=$kind
fi
VEXLOR_E2E_SKIP=$skip VEXLOR_E2E_SERVER=$sound "$@" || fail "$* failed"
