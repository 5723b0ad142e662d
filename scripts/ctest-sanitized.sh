#!/bin/sh
# Runs a sanitized build's tests: the in-process ones JOBS (default 2) at a
# time, then the system ones, which start a sanitized driver, X servers or a
# browser, one at a time. A failed test fails the check, and so does a
# sanitizer report in the log, whether or not its test passed.
# Usage: [JOBS=N] scripts/ctest-sanitized.sh BUILD_DIR
set -eu
build=$1
log=$(mktemp)
trap 'rm -f "$log" "$log.part"' EXIT
status=0
run() {
    ctest --test-dir "$build" --output-on-failure "$@" >"$log.part" 2>&1 || status=$?
    cat "$log.part"
    cat "$log.part" >>"$log"
}
run -L '^inprocess$' -j"${JOBS:-2}"
run -LE '^inprocess$' -j1
if grep -E 'WARNING: ThreadSanitizer|ERROR: (Address|Leak)Sanitizer|runtime error:' "$log" >/dev/null; then
    echo "ctest-sanitized: a sanitizer reported a fault (above); failing" >&2
    exit 1
fi
exit "$status"
