#!/bin/sh
# Runs one test binary in isolation: its own HOME, temporary and runtime
# folders, no inherited display or session bus, UTF-8 text, and (where the
# kernel allows it) a private network namespace, so tests that listen on
# port 36325 never meet each other or a driver running on the machine.
#
# Usage: run-isolated.sh [--preload LIBRARY] [--emulator WORD]... [--] PROGRAM [ARGS...]
#   --preload:  LD_PRELOAD for PROGRAM alone, not for the tools that start it
#   --emulator: one word of the qemu-user command line that runs PROGRAM in a
#               cross build (repeated, in order)
set -eu

# Shell-quotes one word, for eval.
quote() { printf "'%s' " "$(printf '%s' "$1" | sed "s/'/'\\\\''/g")"; }

preload=""
emulator=""
while [ $# -gt 0 ]; do
    case "$1" in
    --preload) preload="$2"; shift 2 ;;
    --emulator) emulator="$emulator$(quote "$2")"; shift 2 ;;
    --) shift; break ;;
    *) break ;;
    esac
done

root=$(mktemp -d "${TMPDIR:-/tmp}/zqtest.XXXXXX")
trap 'rm -rf "$root"' EXIT INT TERM
mkdir -p "$root/home" "$root/tmp" "$root/runtime"
chmod 700 "$root/runtime"

export HOME="$root/home"
export TMPDIR="$root/tmp"
export XDG_RUNTIME_DIR="$root/runtime"
export XDG_CONFIG_HOME="$root/home/.config"
export LANG=C.UTF-8
export PADSIM_SOCKET="$root/runtime/padsim.sock"
unset LC_ALL DISPLAY WAYLAND_DISPLAY DBUS_SESSION_BUS_ADDRESS SESSION_MANAGER QT_QPA_PLATFORM
# In-process tests need no display; tests that start an X server set DISPLAY themselves.
export QT_QPA_PLATFORM=offscreen

if [ -n "$preload" ]; then
    # A sanitizer runtime must come first in the library list. Only the test
    # program gets the preload: the tools on the way (unshare, sh, ip) are not
    # built with the sanitizer and would report their own leaks.
    preload="${ZQ_SANITIZER_RUNTIME:+$ZQ_SANITIZER_RUNTIME:}$preload"
    if [ -n "$emulator" ]; then
        # qemu-user sets it in the emulated program's environment, not its own.
        emulator="$emulator-E $(quote "LD_PRELOAD=$preload")"
    else
        set -- env LD_PRELOAD="$preload" "$@"
    fi
fi
eval "set -- $emulator \"\$@\""

status=0
if unshare --net true 2>/dev/null; then
    unshare --net sh -c 'ip link set lo up && exec "$@"' sh "$@" || status=$?
else
    "$@" || status=$?
fi
exit $status
