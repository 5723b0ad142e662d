#!/bin/sh
# Runs one fuzz target on a copy of its seed corpus for SECONDS; any crash,
# leak, timeout or out-of-memory fails the run (libFuzzer's exit status).
# Usage: run-fuzzer.sh FUZZER CORPUS SECONDS
set -eu
fuzzer=$1 corpus=$2 seconds=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp -r "$corpus" "$work/corpus"
cd "$work"
exec "$fuzzer" -max_total_time="$seconds" -timeout=30 -rss_limit_mb=2048 -max_len=65536 \
     -print_final_stats=1 "$work/corpus"
