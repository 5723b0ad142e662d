#!/bin/sh
# Runs a sanitized build's tests one at a time. A test that fails gets one
# more run, since a sanitized driver on a loaded machine misses time bounds
# that say nothing about its safety; but a sanitizer report in any run, the
# first included, fails the check.
# Usage: scripts/ctest-sanitized.sh BUILD_DIR
set -eu
log=$(mktemp)
trap 'rm -f "$log"' EXIT
status=0
ctest --test-dir "$1" --output-on-failure -j1 --repeat until-pass:2 >"$log" 2>&1 || status=$?
cat "$log"
if grep -E 'WARNING: ThreadSanitizer|ERROR: (Address|Leak)Sanitizer|runtime error:' "$log" >/dev/null; then
    echo "ctest-sanitized: a sanitizer reported a fault (above); failing" >&2
    exit 1
fi
exit "$status"
