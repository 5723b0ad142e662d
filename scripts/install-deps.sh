#!/bin/sh
# Installs the Debian packages that a make target needs, only when missing.
# Usage: scripts/install-deps.sh GROUP...   (groups: build test browser)
set -eu

packages_for() {
    case "$1" in
    build) echo build-essential cmake pkg-config qtbase5-dev qtbase5-dev-tools \
                libqt5websockets5-dev libusb-1.0-0-dev libhidapi-dev ;;
    test)  echo xvfb xauth trayer xdotool x11-utils x11-xserver-utils imagemagick \
                libxrandr-dev xserver-xorg-core xserver-xorg-video-dummy \
                fonts-wqy-microhei iproute2 util-linux ;;
    browser) echo chromium ;;
    *) echo "install-deps: unknown group '$1'" >&2; exit 2 ;;
    esac
}

wanted=""
for group in "$@"; do
    wanted="$wanted $(packages_for "$group")"
done

missing=""
for pkg in $wanted; do
    status=$(dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null || true)
    case "$status" in
    *"install ok installed"*) ;;
    *) missing="$missing $pkg" ;;
    esac
done

[ -z "$missing" ] && exit 0

echo "install-deps: installing$missing"
if [ "$(id -u)" -eq 0 ]; then
    sudo=""
elif command -v sudo >/dev/null 2>&1; then
    sudo="sudo"
else
    echo "install-deps: need root (or sudo) to install:$missing" >&2
    exit 1
fi
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -q
# shellcheck disable=SC2086
$sudo apt-get install -y -q --no-install-recommends $missing
