#!/bin/sh
# CI: what a fresh Debian 12 machine sees, proved in clean roots made for the
# purpose (mmdebstrap --variant=apt bookworm, from this machine's apt sources;
# none of this machine's packages enter them).
#  1. Build: the checkout in a clean root, with nothing but what
#     scripts/install-deps.sh installs there, configured as make check
#     configures it (every library and tool it looks for), the in-process tests
#     built and run. A package missing from the install lists fails here.
#  2. Packages: make package, then scripts/check-packages.sh installs the amd64
#     .deb into another clean root and checks both .debs.
# Each step says how long it took.
#
# Usage: scripts/check-clean-root.sh   (as root; after make check and make check-arm64,
#        whose build folders make package reuses)
set -eu
cd "$(dirname "$0")/.."
# Separately: the arm64 tools may not change installed packages, the package
# checkers may (lintian can pull in a newer perl).
scripts/install-deps.sh package
scripts/install-deps.sh build arm64 ccache

phase_start=$(date +%s)
phase() {
    now=$(date +%s)
    echo "check-clean-root: $1 took $((now - phase_start)) s"
    phase_start=$now
}

work=$(mktemp -d "${TMPDIR:-/tmp}/zqsign-clean-root.XXXXXX")
# Roots are only ever mounted inside private mount namespaces (scripts/in-root.sh),
# so nothing is left mounted here.
trap 'rm -rf "$work"' EXIT INT TERM

# One base for both roots of this run.
old_ifs=$IFS
IFS='
'
# shellcheck disable=SC2046 # one source line per argument
mmdebstrap --quiet --variant=apt bookworm "$work/base.tar" $(scripts/bookworm-sources.sh)
IFS=$old_ifs
phase "clean Debian 12 root (mmdebstrap --variant=apt bookworm)"

root=$work/build-root
mkdir "$root"
tar -C "$root" -xf "$work/base.tar"
# The checkout sits at the same path inside, and the machine's compiler cache
# is bound at its own path, so compiles that make check did already (same
# file names, same compiler and headers) are hits.
mkdir -p "$root$PWD"
git ls-files -z | tar --null -T - -cf - | tar -C "$root$PWD" -xf -
cache_dir=$(ccache -k cache_dir)
mkdir -p "$cache_dir"
# Installed after the install lists were tried, so it cannot hide a gap in them.
cache_setup="apt-get install -y -q --no-install-recommends $(scripts/install-deps.sh --list ccache);
    export CCACHE_DIR='$cache_dir' ${CCACHE_BASEDIR:+CCACHE_BASEDIR='$CCACHE_BASEDIR'};"
# Runs a step in the root with its output in a log, shown when the step fails.
step() {
    log=$work/$1.log; shift
    ZQ_ROOT_BIND=$cache_dir scripts/in-root.sh "$root" sh -c "set -e; cd '$PWD'; $*" >"$log" 2>&1 ||
        { tail -n 80 "$log" >&2; echo "check-clean-root: FAIL in the clean root: $*" >&2; exit 1; }
}
step deps "scripts/install-deps.sh build test"
phase "clean root: scripts/install-deps.sh build test"
step build "$cache_setup cmake -S . -B build -DZQ_BUILD_TESTS=ON &&
    cmake --build build -j${JOBS:-2} --target inprocess_tests"
phase "clean root: configure, build the in-process tests"
scripts/in-root.sh "$root" sh -c "cd '$PWD' &&
    ctest --test-dir build -L '^inprocess\$' --output-on-failure -j${JOBS:-2}"
phase "clean root: ctest -L inprocess"
rm -rf "$root"

JOBS=${JOBS:-2} scripts/make-packages.sh packages
phase "make package"

scripts/check-packages.sh "$work/base.tar" packages
phase "package checks"
