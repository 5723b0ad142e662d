#!/bin/sh
# Starts the driver in the foreground. Without any display it still runs, on
# Qt's offscreen platform (the driver says so itself).
set -eu
driver=${1:-build/bin/ZQSignDriver}
export LANG="${LANG:-C.UTF-8}"
[ "$LANG" = "C" ] || [ "$LANG" = "POSIX" ] && export LANG=C.UTF-8
echo "Starting $driver: WebSocket service on ws://127.0.0.1:36325 (Ctrl-C or the tray's quit entry ends it)"
exec "$driver"
