#!/bin/sh
# Builds the .deb packages for amd64 (natively) and arm64 (cross, as
# scripts/check-arm64.sh does) and copies them to OUT.
#
# A build folder that exists already is reused as configured (a `make check`
# or `make check-arm64` build has everything a package needs); a new one is
# made without tests, so only the build group's packages are needed. Either
# way only what the package holds is built (target package_contents).
#
# Usage: scripts/make-packages.sh [OUT [AMD64_BUILD [ARM64_BUILD]]]
#        (after scripts/install-deps.sh build arm64)
set -eu
cd "$(dirname "$0")/.."
out=${1:-packages}
native=${2:-build}
cross=${3:-build-arm64}
jobs=${JOBS:-2}

phase_start=$(date +%s)
phase() {
    now=$(date +%s)
    echo "make-packages: $1 took $((now - phase_start)) s"
    phase_start=$now
}

# Builds and packs one folder; the .deb's name is printed last by cpack.
pack() {
    build=$1; shift
    if [ -f "$build/CMakeCache.txt" ]; then
        cmake -S . -B "$build" "$@" >/dev/null
    else
        cmake -S . -B "$build" -DZQ_BUILD_TESTS=OFF "$@" >/dev/null
    fi
    cmake --build "$build" -j"$jobs" --target package_contents
    (cd "$build" && cpack -G DEB >/dev/null)
}

mkdir -p "$out"
rm -f "$out"/*.deb

pack "$native"
cp "$native"/zqsign-driver_*_amd64.deb "$out"/
phase "amd64 package"

sysroot=$(scripts/arm64-sysroot.sh)
if [ -f "$cross/CMakeCache.txt" ] &&
   ! grep -qxF "ZQ_ARM64_SYSROOT:PATH=$sysroot" "$cross/CMakeCache.txt"; then
    rm -rf "$cross"
fi
pack "$cross" -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/aarch64-linux-gnu.cmake" \
     -DZQ_ARM64_SYSROOT:PATH="$sysroot"
cp "$cross"/zqsign-driver_*_arm64.deb "$out"/
phase "arm64 package"

ls -l "$out"/*.deb
