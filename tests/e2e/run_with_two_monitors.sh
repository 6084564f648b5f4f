#!/usr/bin/env bash
# run_with_two_monitors.sh <binary> [arguments...]: runs the binary with an X
# server of its own whose one 2304 x 800 screen is split into two RandR
# monitors side by side, 1280 x 800 at (0, 0) and 1024 x 768 at (1280, 0),
# as Qt and XScreenSaver see a desktop of two monitors. The server is Xorg
# with the dummy video driver (started as root, as CI runs the tests); where
# Xorg cannot start, Xvfb with RandR, which takes the same split. The binary
# finds the server's kind (xorg or xvfb) in VEXLOR_X_SERVER. Stopped by its process id.
set -u
here=$(mktemp -d)
server_pid=
cleanup() {
    [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null && wait "$server_pid" 2>/dev/null
    rm -rf "$here"
}
trap cleanup EXIT
for tool in xrandr Xvfb; do
    command -v "$tool" >/dev/null ||
        { echo "run_with_two_monitors: $tool is missing (scripts/setup.sh installs it)" >&2; exit 1; }
done
for n in $(seq 150 199) none; do
    [ ! -e "/tmp/.X$n-lock" ] && [ ! -e "/tmp/.X11-unix/X$n" ] && break
done
[ "$n" != none ] || { echo "run_with_two_monitors: no free display number" >&2; exit 1; }

cat >"$here/xorg.conf" <<'CONF'
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

# Waits for the server on :$n; false when it ended or did not answer in 10 s.
wait_for_server() {
    for _ in $(seq 1 100); do
        kill -0 "$server_pid" 2>/dev/null || return 1
        DISPLAY=":$n" xrandr >/dev/null 2>&1 && return 0
        sleep 0.1
    done
    return 1
}

kind=none
# VEXLOR_TWO_MONITORS_XVFB=1 goes straight to Xvfb.
if command -v Xorg >/dev/null && [ "$(id -u)" -eq 0 ] && [ "${VEXLOR_TWO_MONITORS_XVFB:-}" != 1 ]; then
    Xorg ":$n" -config "$here/xorg.conf" -logfile "$here/xorg.log" -nolisten tcp -noreset \
        >/dev/null 2>&1 &
    server_pid=$!
    if wait_for_server; then
        kind=xorg
    else
        echo "run_with_two_monitors: Xorg with the dummy driver did not start; using Xvfb" >&2
        kill "$server_pid" 2>/dev/null
        wait "$server_pid" 2>/dev/null
        server_pid=
    fi
fi
if [ "$kind" = none ]; then
    Xvfb ":$n" -screen 0 2304x800x24 +extension RANDR -nolisten tcp -noreset >/dev/null 2>&1 &
    server_pid=$!
    wait_for_server || { echo "run_with_two_monitors: Xvfb did not start" >&2; exit 1; }
    kind=xvfb
fi

export DISPLAY=":$n"
output=$(xrandr | awk '/ connected/ { print $1; exit }')
xrandr --setmonitor vexlor-left 1280/338x800/211+0+0 "${output:-none}" >/dev/null &&
    xrandr --setmonitor vexlor-right 1024/270x768/203+1280+0 none >/dev/null ||
    { echo "run_with_two_monitors: xrandr --setmonitor failed on $kind" >&2; exit 1; }
echo "run_with_two_monitors: $kind on $DISPLAY: $(xrandr --listmonitors | tr '\n' ' ')" >&2
VEXLOR_X_SERVER=$kind "$@"
