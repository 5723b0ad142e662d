#!/bin/sh
# Cross-builds for aarch64 in BUILD (default build-arm64) the tests labelled
# inprocess and what they load (target inprocess_tests), and runs them under
# qemu-user. Tests labelled otherwise start other processes, an X server or a
# browser; they are neither built nor run here.
#
# Usage: scripts/check-arm64.sh [BUILD]   (after scripts/install-deps.sh arm64)
set -eu
cd "$(dirname "$0")/.."
build=${1:-build-arm64}
jobs=${JOBS:-2}
label=inprocess

phase_start=$(date +%s)
phase() {
    now=$(date +%s)
    echo "check-arm64: $1 took $((now - phase_start)) s"
    phase_start=$now
}

sysroot=$(scripts/arm64-sysroot.sh)
phase "sysroot ($sysroot)"

# A build folder made against another sysroot has its paths cached: start anew.
if [ -f "$build/CMakeCache.txt" ] &&
   ! grep -qxF "ZQ_ARM64_SYSROOT:PATH=$sysroot" "$build/CMakeCache.txt"; then
    echo "check-arm64: $build was configured for another sysroot; reconfiguring from scratch"
    rm -rf "$build"
fi
cmake -S . -B "$build" -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/aarch64-linux-gnu.cmake" \
      -DZQ_ARM64_SYSROOT:PATH="$sysroot"
cmake --build "$build" -j"$jobs" --target inprocess_tests
phase "configure and build"

count() { ctest --test-dir "$build" -N "$@" | sed -n 's/^Total Tests: //p'; }
total=$(count)
selected=$(count -L "^$label\$")
left_out=$(ctest --test-dir "$build" -N -LE "^$label\$" | sed -n 's/^ *Test *#[0-9]*: //p' | paste -sd' ')
echo "check-arm64: running $selected of $total tests under qemu-aarch64 (label $label);" \
     "$((total - selected)) left out by label${left_out:+: $left_out}"
status=0
ctest --test-dir "$build" -L "^$label\$" --output-on-failure -j"$jobs" || status=$?
phase "tests"
echo "check-arm64: $selected tests ran on aarch64, $((total - selected)) left out"
exit $status
