#!/bin/sh
# Installs the Debian packages that a make target needs, only when missing.
# Usage: scripts/install-deps.sh GROUP...   (groups: build test browser bench arm64 fuzz package ccache)
#        scripts/install-deps.sh --list GROUP...   (prints the groups' packages)
set -eu

# The arm64 sysroot (scripts/arm64-sysroot.sh) holds the arm64 builds of the
# build and test groups' -dev and fonts- packages.
packages_for() {
    case "$1" in
    build) echo build-essential cmake pkg-config qtbase5-dev qtbase5-dev-tools \
                libqt5websockets5-dev libusb-1.0-0-dev libhidapi-dev libpng-dev zlib1g-dev ;;
    test)  echo xvfb xauth trayer xdotool x11-utils x11-xserver-utils imagemagick \
                libxrandr-dev xserver-xorg-core xserver-xorg-video-dummy \
                fonts-wqy-microhei iproute2 util-linux dbus-daemon nodejs node-typescript \
                librsvg2-bin libxml2-utils ;;
    # openssl makes the certificate of the https test site.
    browser) echo chromium openssl ;;
    # The bench compares live pictures with an optimal re-encode.
    bench) echo optipng ;;
    # Cross compiler, an unpacker for the arm64 sysroot, qemu-user, and the
    # machine's own Qt code generators.
    arm64) echo cmake pkg-config qtbase5-dev-tools g++-aarch64-linux-gnu \
                mmdebstrap qemu-user-static ;;
    # clang with libFuzzer and the sanitizer runtimes.
    fuzz) echo clang libclang-rt-14-dev ;;
    # Checks of the .deb packages and of builds in a clean Debian 12 root.
    package) echo lintian appstream mmdebstrap iproute2 util-linux ;;
    # The compiler cache that every build goes through when it is there; kept
    # apart from the build group, so a clean root proves that group without it.
    ccache) echo ccache ;;
    *) echo "install-deps: unknown group '$1'" >&2; exit 2 ;;
    esac
}

if [ "${1:-}" = --list ]; then
    shift
    for group in "$@"; do packages_for "$group"; done
    exit 0
fi

wanted=""
keep_installed=""
for group in "$@"; do
    wanted="$wanted $(packages_for "$group")"
    # The arm64 tools are extras: they may not touch the machine's own packages.
    if [ "$group" = arm64 ]; then keep_installed=yes; fi
done

missing=""
for pkg in $wanted; do
    status=$(dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null || true)
    case "$status" in
    *"install ok installed"*) ;;
    *) missing="$missing $pkg" ;;
    esac
done

# The web package's own TypeScript (web/package-lock.json), which its package
# test compiles with; npm comes with Node where Node is not Debian's.
web_typescript() {
    case " $* " in *" test "*) ;; *) return 0 ;; esac
    command -v npm >/dev/null 2>&1 || return 0
    web_dir=$(dirname "$0")/../web
    ts_wanted=$(sed -n 's/^ *"typescript": "\(.*\)"/\1/p' "$web_dir/package.json")
    ts_have=$(sed -n 's/^ *"version": "\(.*\)",*/\1/p' "$web_dir/node_modules/typescript/package.json" 2>/dev/null | head -n 1)
    [ "$ts_have" = "$ts_wanted" ] && return 0
    echo "install-deps: npm ci in web/ (TypeScript $ts_wanted)"
    (cd "$web_dir" && npm ci --no-audit --no-fund --ignore-scripts) ||
        echo "install-deps: npm ci in web/ failed: the web package test is left out" >&2
}

if [ -z "$missing" ]; then
    web_typescript "$@"
    exit 0
fi

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
if [ -n "$keep_installed" ]; then
    # shellcheck disable=SC2086
    changes=$(apt-get -s install --no-install-recommends $missing | grep -E '^(Remv|Inst [^ ]+ \[)' || true)
    if [ -n "$changes" ]; then
        echo "install-deps: refusing, installing$missing would change installed packages:" >&2
        echo "$changes" >&2
        exit 1
    fi
fi
# shellcheck disable=SC2086
$sudo apt-get install -y -q --no-install-recommends $missing
web_typescript "$@"
