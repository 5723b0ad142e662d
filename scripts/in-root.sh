#!/bin/sh
# Runs a command as root inside a Debian root folder, with /proc, /sys and
# /dev mounted in a private mount namespace (so they vanish with the command)
# and this machine's name resolution. ZQ_ROOT_BIND may name one more folder
# that is bound at the same path inside.
#
# Usage: scripts/in-root.sh ROOT COMMAND [ARGS...]
set -eu
root=$1; shift
cp /etc/resolv.conf "$root/etc/resolv.conf"
exec unshare --mount --propagation private sh -c '
    set -e
    root=$1; shift
    mount -t proc proc "$root/proc"
    mount -t sysfs sysfs "$root/sys"
    mount --rbind /dev "$root/dev"
    if [ -n "${ZQ_ROOT_BIND:-}" ]; then
        mkdir -p "$root$ZQ_ROOT_BIND"
        mount --bind "$ZQ_ROOT_BIND" "$root$ZQ_ROOT_BIND"
    fi
    exec chroot "$root" env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LANG=C.UTF-8 \
        TERM=dumb "$@"' sh "$root" "$@"
