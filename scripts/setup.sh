#!/usr/bin/env bash
# Installs the Debian 12 packages that building, running and testing Vexlor
# need, when any is missing. Runs apt-get as root, or through sudo.
set -euo pipefail

packages=(
    build-essential cmake ninja-build pkg-config clang libclang-rt-14-dev clang-format clang-tidy
    qt6-base-dev qt6-base-dev-tools qt6-translations-l10n libgl-dev libx11-dev libxcb-shm0-dev
    libxrandr-dev xserver-xorg-core xserver-xorg-video-dummy x11-xserver-utils
    libpulse-dev pulseaudio pulseaudio-utils
    googletest libgtest-dev libgmock-dev libbenchmark-dev libfftw3-dev
    xvfb xdotool x11-utils imagemagick fonts-noto-cjk
    pipewire pipewire-pulse wireplumber dbus-daemon
    dpkg-dev lintian librsvg2-bin desktop-file-utils libxml2-utils appstream man-db qt6-wayland weston xscreensaver
)

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "setup: installing ${missing[*]}" >&2
sudo=()
[ "$(id -u)" -eq 0 ] || sudo=(sudo)
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update -qq
"${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
