#!/bin/sh
# Prints the path of a Debian 12 arm64 sysroot holding what the aarch64 build
# links against and what its tests load, making it first when needed.
#
# The .debs are only unpacked (no emulated maintainer scripts), from the
# machine's own bookworm apt sources, into a cache folder outside the checkout.
# The folder is keyed by a hash of the package list and sources, so a changed
# list gets a new sysroot and an unchanged one is reused as it is.
#
# Usage: scripts/arm64-sysroot.sh   (needs mmdebstrap; run as root)
set -eu
cd "$(dirname "$0")/.."

# What the build links against and the fonts the tests draw text with: the
# -dev and fonts- packages that the native build and tests install, and the
# fonts that come with a desktop.
packages=$( (scripts/install-deps.sh --list build test; echo fonts-dejavu-core) |
           tr ' ' '\n' | grep -E -e '-dev$' -e '^fonts-' | sort -u)

say() { echo "arm64-sysroot: $*" >&2; }

sources=$(scripts/bookworm-sources.sh)

cache=${XDG_CACHE_HOME:-$HOME/.cache}/zqsign-arm64-sysroot
key=$(printf '%s\n' "$packages" "$sources" relative-links | sha256sum | cut -c1-16)
sysroot=$cache/$key
mkdir -p "$cache"

# Two runs at once build it once.
exec 9>"$cache/lock"
flock 9

if [ ! -f "$sysroot/.complete" ]; then
    say "unpacking a new sysroot into $sysroot"
    partial=$cache/$key.partial
    rm -rf "$partial"
    include=$(echo "$packages" | paste -sd,)
    # Each source line is one argument.
    old_ifs=$IFS
    IFS='
'
    # shellcheck disable=SC2086
    mmdebstrap --quiet --arch=arm64 --variant=extract --include="$include" \
        bookworm "$partial" $sources >&2
    IFS=$old_ifs
    # An absolute link (libz.so -> /lib/...) points out of the sysroot, and the
    # linker then takes the static library instead: links are made relative.
    find "$partial" -type l -lname '/*' | while IFS= read -r link; do
        ln -sfn "$(realpath -m --relative-to="$(dirname "$link")" "$partial$(readlink "$link")")" "$link"
    done
    printf '%s\n' "$packages" "$sources" >"$partial/.complete"
    mv "$partial" "$sysroot"
fi
# Marks it used; sysroots of other lists unused for a day are removed.
touch "$sysroot/.complete"
for other in "$cache"/*/; do
    other=${other%/}
    [ -d "$other" ] || continue
    [ "$other" = "$sysroot" ] && continue
    if [ -z "$(find "$other/.complete" -mtime -1 2>/dev/null)" ]; then
        say "removing the unused sysroot $other"
        rm -rf "$other"
    fi
done
echo "$sysroot"
