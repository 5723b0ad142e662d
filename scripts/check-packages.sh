#!/bin/sh
# Checks the .deb packages that make package leaves in DIR:
#  amd64: lintian has no errors, the AppStream metainfo validates, the files
#    sit where a desktop looks for them, `apt-get install ./the.deb` in a clean
#    root from BASE_TAR pulls in its libraries, the installed driver starts
#    there (offscreen, private network) and answers a WebSocket handshake on
#    36325, ends with code 0 on SIGTERM, and removing the package leaves no rule.
#  arm64: the same file list, control fields, Depends naming the packages that
#    dpkg-shlibdeps found for amd64, an aarch64 binary that starts under
#    qemu-user against the arm64 sysroot and answers the same handshake.
#
# Usage: scripts/check-packages.sh BASE_TAR [DIR]   (as root)
set -eu
cd "$(dirname "$0")/.."
base=$1
dir=${2:-packages}
amd64=$(ls "$dir"/zqsign-driver_*_amd64.deb)
arm64=$(ls "$dir"/zqsign-driver_*_arm64.deb)

fail() { echo "check-packages: FAIL: $*" >&2; exit 1; }
ok() { echo "check-packages: ok: $*"; }
phase_start=$(date +%s)
phase() {
    now=$(date +%s)
    echo "check-packages: $1 took $((now - phase_start)) s"
    phase_start=$now
}

work=$(mktemp -d "${TMPDIR:-/tmp}/zqsign-packages.XXXXXX")
trap 'rm -rf "$work"' EXIT INT TERM

expected_files="
./etc/xdg/autostart/org.zqsign.ZQSignDriver.desktop
./usr/bin/ZQSignDriver
./usr/lib/udev/rules.d/70-zqsign-driver.rules
./usr/share/applications/org.zqsign.ZQSignDriver.desktop
./usr/share/doc/zqsign-driver/changelog.gz
./usr/share/doc/zqsign-driver/copyright
./usr/share/icons/hicolor/128x128/apps/zqsign-driver.png
./usr/share/metainfo/org.zqsign.ZQSignDriver.metainfo.xml"
files_of() { dpkg-deb -c "$1" | awk '$1 !~ /^d/ { print $NF }' | sort; }
depends_names() {
    dpkg-deb -f "$1" Depends | tr ',|' '\n\n' | sed 's/(.*)//; s/ //g' | sed '/^$/d' | sort
}
# Sends a WebSocket handshake to 127.0.0.1:36325 until the answer is
# "101 Switching Protocols" (true) or the time is up (false).
handshake_script='
    for i in $(seq 1 $1); do
        if exec 3<>/dev/tcp/127.0.0.1/36325 2>/dev/null; then
            printf "GET / HTTP/1.1\r\nHost: 127.0.0.1:36325\r\nUpgrade: websocket\r\nConnection: Upgrade\r\nSec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n\r\n" >&3
            if timeout 5 head -n 1 <&3 | grep -q "^HTTP/1.1 101"; then exec 3<&-; exit 0; fi
            exec 3<&-
        fi
        sleep 0.5
    done
    exit 1'

# --- amd64: static checks
[ "$(files_of "$amd64")" = "$(echo "$expected_files" | sed '/^$/d' | sort)" ] ||
    fail "amd64 file list: $(files_of "$amd64")"
ok "amd64 files in place"
lintian --fail-on error "$amd64" || fail "lintian reports errors"
ok "lintian: no errors"
dpkg-deb -x "$amd64" "$work/amd64"
appstreamcli validate --no-net "$work/amd64/usr/share/metainfo/org.zqsign.ZQSignDriver.metainfo.xml" ||
    fail "appstreamcli validate"
ok "appstreamcli validate"
phase "amd64 static checks"

# --- amd64: installed into a clean root
root=$work/install-root
mkdir "$root"
tar -C "$root" -xf "$base"
cp "$amd64" "$root/tmp/"
scripts/in-root.sh "$root" sh -c "apt-get update -q &&
    DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends \
        /tmp/$(basename "$amd64")" >"$work/apt.log" 2>&1 ||
    { cat "$work/apt.log" >&2; fail "apt-get install ./$(basename "$amd64")"; }
for f in $expected_files; do
    [ -f "$root/${f#./}" ] || fail "$f missing after installing"
done
ok "apt-get install ./$(basename "$amd64") in a clean root"
phase "amd64 install into a clean root"

# Private network; the driver on its first start (welcome notice and all),
# offscreen, as a user with a home of its own.
mkdir -p "$root/home/tester"
unshare --net sh -c '
    set -e
    ip link set lo up
    root=$1; handshake=$2
    scripts/in-root.sh "$root" sh -c "mkdir -p /tmp/rt && chmod 700 /tmp/rt &&
        exec env HOME=/home/tester XDG_RUNTIME_DIR=/tmp/rt QT_QPA_PLATFORM=offscreen /usr/bin/ZQSignDriver" \
        >"$root/driver.log" 2>&1 &
    runner=$!
    if ! bash -c "$handshake" sh 120; then
        kill $runner 2>/dev/null || true
        echo "no WebSocket handshake on 36325:" >&2; cat "$root/driver.log" >&2; exit 1
    fi
    # Every step on the way execs the next: $runner is the driver by now.
    kill -TERM $runner
    status=0; wait $runner || status=$?
    [ $status -eq 0 ] || { echo "driver ended with $status" >&2; cat "$root/driver.log" >&2; exit 1; }
' sh "$root" "$handshake_script" || fail "the installed driver"
ok "installed /usr/bin/ZQSignDriver answers on 36325 and ends with 0 on SIGTERM"

scripts/in-root.sh "$root" sh -c "DEBIAN_FRONTEND=noninteractive apt-get remove -y -q zqsign-driver >/dev/null" ||
    fail "apt-get remove"
[ ! -e "$root/usr/lib/udev/rules.d/70-zqsign-driver.rules" ] || fail "the rule stays after removal"
ok "removal leaves no rule"
phase "amd64 start and removal in the clean root"

# --- arm64
[ "$(files_of "$arm64")" = "$(files_of "$amd64")" ] || fail "arm64 file list differs from amd64"
[ "$(dpkg-deb -f "$arm64" Architecture)" = arm64 ] || fail "arm64 Architecture field"
for field in Package Version Maintainer Section Priority Description; do
    [ "$(dpkg-deb -f "$arm64" $field)" = "$(dpkg-deb -f "$amd64" $field)" ] || fail "arm64 $field field"
done
[ "$(depends_names "$arm64")" = "$(depends_names "$amd64")" ] ||
    fail "arm64 Depends names differ from amd64's: $(depends_names "$arm64" | paste -sd' ')"
dpkg-deb -x "$arm64" "$work/arm64"
readelf -h "$work/arm64/usr/bin/ZQSignDriver" | grep -q 'Machine: *AArch64' || fail "arm64 binary is not aarch64"
ok "arm64 files, control fields and Depends"

sysroot=$(scripts/arm64-sysroot.sh)
mkdir -p "$work/arm64-home" "$work/arm64-rt"
chmod 700 "$work/arm64-rt"
unshare --net sh -c '
    set -e
    ip link set lo up
    sysroot=$1; bin=$2; home=$3; rt=$4; handshake=$5
    qemu-aarch64-static -L "$sysroot" -E QT_PLUGIN_PATH="$sysroot/usr/lib/aarch64-linux-gnu/qt5/plugins" \
        -E HOME="$home" -E XDG_RUNTIME_DIR="$rt" -E QT_QPA_PLATFORM=offscreen "$bin" >"$home/driver.log" 2>&1 &
    pid=$!
    if ! bash -c "$handshake" sh 240; then
        kill $pid 2>/dev/null || true
        echo "no WebSocket handshake on 36325 under qemu:" >&2; cat "$home/driver.log" >&2; exit 1
    fi
    kill -TERM $pid
    status=0; wait $pid || status=$?
    [ $status -eq 0 ] || { echo "driver ended with $status" >&2; cat "$home/driver.log" >&2; exit 1; }
' sh "$sysroot" "$work/arm64/usr/bin/ZQSignDriver" "$work/arm64-home" "$work/arm64-rt" "$handshake_script" ||
    fail "the packaged arm64 driver under qemu-user"
ok "packaged arm64 ZQSignDriver answers on 36325 under qemu-aarch64 and ends with 0 on SIGTERM"
phase "arm64 checks"
