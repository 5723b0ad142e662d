#!/bin/sh
# One complete signing without a pad or a display (see `make demo`).
# Usage: scripts/demo.sh [OUTPUT_DIR] [MODEL]
set -eu
out=${1:-demo-output}
model=${2:-qz07}
runner="$(pwd)/build/bin/zqsign-demo"

runtime=$(mktemp -d "${TMPDIR:-/tmp}/zqsign-demo.XXXXXX")
trap 'rm -rf "$runtime"' EXIT INT TERM
mkdir -p "$runtime/tmp" "$runtime/run"
chmod 700 "$runtime/run"
export TMPDIR="$runtime/tmp" XDG_RUNTIME_DIR="$runtime/run" LANG=C.UTF-8 QT_QPA_PLATFORM=offscreen
unset DISPLAY WAYLAND_DISPLAY DBUS_SESSION_BUS_ADDRESS LC_ALL

# A private network namespace keeps port 36325 of a driver already running
# on this machine out of the way; without one, the port must be free.
if unshare --net true 2>/dev/null; then
    exec unshare --net sh -c 'ip link set lo up && exec "$@"' sh "$runner" "$out" "$model"
fi
exec "$runner" "$out" "$model"
