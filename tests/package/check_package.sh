#!/usr/bin/env bash
# check_package.sh: builds Vexlor's Debian package, checks it with lintian,
# installs it with apt and checks what it installed (version, manual page,
# desktop entry, hack description, metainfo). Then runs the installed
# program under a Wayland compositor (Weston, headless) and as XScreenSaver's
# hack: an XScreenSaver daemon under Xvfb, run by a user who is not root
# (XScreenSaver refuses root; as root the script makes the user), with a
# PulseAudio of that user playing tones, is activated, shows the analyser,
# and a key ends it with no vexlor process left.
# Runs as root or as a user who may use sudo; pictures and logs go to build/package/check.
set -euo pipefail
cd "$(dirname "$0")/../.."
src=$PWD
out=$src/build/package/check
rm -rf "$out" && mkdir -p "$out"
# The test command draws offscreen; here the program shows on real servers.
unset QT_QPA_PLATFORM

sudo=()
[ "$(id -u)" -eq 0 ] || sudo=(sudo)
fail() { echo "check_package: FAILED: $*" >&2; exit 1; }
pids=()
cleanup() {
    local p
    for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
    for p in "${pids[@]}"; do wait "$p" 2>/dev/null || true; done
}
trap cleanup EXIT

# Pixels of the analyser's chips and labels in a picture: bright blue with
# little red or little green, as the level colours run from cyan to light
# violet; the frame (grey), the peaks (yellow) and black do not count.
analyser_pixels() {
    convert "$1" -alpha off -fx '(b>0.78 && (r<0.4 || g<0.78)) ? 1 : 0' \
        -format '%[fx:round(mean*w*h)]' info:
}

echo "== package"
deb=$(./scripts/package.sh)
version=$(dpkg-deb -f "$deb" Version)
echo "$deb (version $version)"

echo "== lintian (no errors)"
lintian --fail-on error --display-info "$deb" || fail "lintian reports errors"

echo "== apt install"
"${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "$deb" >/dev/null
[ "$(vexlor --version)" = "vexlor $version" ] || fail "vexlor --version: $(vexlor --version)"
if ! man -w vexlor; then
    grep -rs 'path-exclude.*man' /etc/dpkg/dpkg.cfg.d/ >&2 &&
        echo "check_package: dpkg is set to leave manual pages out (above)" >&2
    fail "no manual page"
fi
desktop-file-validate /usr/share/applications/vexlor.desktop || fail "desktop entry"
xmllint --noout --dtdvalid tests/package/xscreensaver-hack.dtd \
    /usr/share/xscreensaver/config/vexlor.xml || fail "hack description"
appstreamcli validate --no-net /usr/share/metainfo/*vexlor*.metainfo.xml || fail "metainfo"

echo "== Wayland (Weston, headless)"
command -v weston >/dev/null || fail "weston is missing (scripts/setup.sh installs it)"
wl=$(mktemp -d /tmp/vexlor-wayland.XXXXXX)
chmod 700 "$wl"
XDG_RUNTIME_DIR=$wl weston --backend=headless-backend.so --use-pixman --idle-time=0 \
    --socket=vexlor-check --width=1024 --height=768 >"$out/weston.log" 2>&1 &
pids+=($!)
for _ in $(seq 1 100); do [ -S "$wl/vexlor-check" ] && break; sleep 0.1; done
[ -S "$wl/vexlor-check" ] || fail "weston did not start (see $out/weston.log)"
wayland=(env -u DISPLAY XDG_RUNTIME_DIR="$wl" WAYLAND_DISPLAY=vexlor-check QT_QPA_PLATFORM=wayland)

"${wayland[@]}" vexlor --window 800x300 --demo --snapshot "$out/wayland-window.png" --after 2 ||
    fail "--window under Wayland"
n=$(analyser_pixels "$out/wayland-window.png")
echo "--window: $n analyser pixels"
[ "$n" -gt 2000 ] || fail "--window under Wayland shows no analyser"

"${wayland[@]}" vexlor /s --demo 2>"$out/wayland-saver.err" &
saver=$!
sleep 4
kill "$saver"; wait "$saver" || true
# The program's own lines (Qt may add diagnostics of its own).
lines=$(grep -c '^vexlor: ' "$out/wayland-saver.err" || true)
grep -q '^vexlor: .*screen saving belongs to the compositor' "$out/wayland-saver.err" &&
    [ "$lines" = 1 ] ||
    fail "/s under Wayland should say one line: $(cat "$out/wayland-saver.err")"

echo "== XScreenSaver with the installed hack (Xvfb, a user who is not root)"
user=$(id -un)
if [ "$(id -u)" -eq 0 ]; then
    user=vexlor-check
    id "$user" >/dev/null 2>&1 || useradd --create-home --shell /bin/bash "$user"
fi
home=$(getent passwd "$user" | cut -d: -f6)
as_user() {
    if [ "$(id -un)" = "$user" ]; then env HOME="$home" XDG_RUNTIME_DIR="$run" "$@"
    else runuser -u "$user" -- env HOME="$home" XDG_RUNTIME_DIR="$run" "$@"; fi
}
run=$(mktemp -d /tmp/vexlor-check-run.XXXXXX)
chown "$user" "$run" && chmod 700 "$run"

for n in $(seq 150 199) none; do
    [ ! -e "/tmp/.X$n-lock" ] && [ ! -e "/tmp/.X11-unix/X$n" ] && break
done
[ "$n" != none ] || fail "no free X display number"
Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp -noreset >"$out/xvfb.log" 2>&1 &
pids+=($!)
for _ in $(seq 1 100); do [ -e "/tmp/.X11-unix/X$n" ] && break; sleep 0.1; done
export DISPLAY=:$n

# The user's sound server: a null sink as the default output, its monitor
# as the default input, three tones playing into it.
as_user pulseaudio --daemonize=no --system=no --use-pid-file=no -n --exit-idle-time=-1 \
    --realtime=no --high-priority=no --log-target=file:"$run/pulse.log" \
    --load="module-native-protocol-unix" &
pids+=($!)
for _ in $(seq 1 100); do as_user pactl info >/dev/null 2>&1 && break; sleep 0.1; done
as_user pactl load-module module-null-sink sink_name=speakers >/dev/null
as_user pactl set-default-sink speakers
as_user pactl set-default-source speakers.monitor
for f in 200 1000 4000; do
    as_user pactl load-module module-sine sink=speakers frequency=$f >/dev/null
done

# The user's list of hacks, as a user makes it, with Vexlor chosen alone.
as_user rm -f "$home/.xscreensaver"
as_user vexlor-xscreensaver-add
as_user sh -c 'printf "mode: one\nselected: 0\nlock: False\nfade: False\nunfade: False\nsplash: False\ntimeout: 0:30:00\n" >>"$HOME/.xscreensaver"'
grep -A1 '^programs:' "$home/.xscreensaver" | grep -q 'vexlor --root' ||
    fail "vexlor-xscreensaver-add did not put Vexlor first"

as_user xscreensaver --no-splash >"$out/xscreensaver.log" 2>&1 &
pids+=($!)
for _ in $(seq 1 100); do as_user xscreensaver-command -time >/dev/null 2>&1 && break; sleep 0.2; done
as_user xscreensaver-command -activate >/dev/null || fail "xscreensaver-command -activate"
for _ in $(seq 1 100); do pgrep -u "$user" -x vexlor >/dev/null && break; sleep 0.1; done
pgrep -u "$user" -a -x vexlor || fail "XScreenSaver did not start vexlor (see $out/xscreensaver.log)"
n=0
for i in $(seq 1 10); do
    sleep 1
    import -window root "$out/xscreensaver-vexlor.png"
    n=$(analyser_pixels "$out/xscreensaver-vexlor.png")
    [ "$n" -gt 1500 ] && break
done
echo "XScreenSaver running vexlor: $n analyser pixels after $i s"
[ "$n" -gt 1500 ] || fail "the saver shows no analyser (see $out/xscreensaver-vexlor.png)"

xdotool key space
for _ in $(seq 1 100); do pgrep -u "$user" -x vexlor >/dev/null || break; sleep 0.1; done
if pgrep -u "$user" -a -x vexlor; then fail "a key did not end vexlor"; fi
echo "a key ended it: no vexlor process left"

as_user xscreensaver-command -exit >/dev/null 2>&1 || true
as_user pactl exit >/dev/null 2>&1 || true
rm -rf "$run" "$wl"
echo "== package checks passed"
