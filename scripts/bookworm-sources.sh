#!/bin/sh
# Prints one "deb URI SUITE COMPONENTS" line per bookworm suite this machine's
# apt is configured with, whatever file format its sources are written in:
# the sources that clean roots and the arm64 sysroot are made from.
set -eu
suites="bookworm bookworm-updates bookworm-security"
# shellcheck disable=SC2016 # apt expands the $(...) fields itself
sources=$(apt-get indextargets --format '$(REPO_URI) $(RELEASE) $(COMPONENT)' \
              'Identifier: Packages' |
          awk -v suites="$suites" '
              BEGIN { n = split(suites, s, " "); for (i = 1; i <= n; i++) want[s[i]] = 1 }
              NF == 3 && ($2 in want) && !seen[$0]++ {
                  key = $1 " " $2
                  if (!(key in comps)) order[++count] = key
                  comps[key] = comps[key] " " $3
              }
              END { for (i = 1; i <= count; i++) print "deb " order[i] comps[order[i]] }')
if [ -z "$sources" ]; then
    echo "bookworm-sources: no apt source for bookworm is configured on this machine" >&2
    exit 1
fi
echo "$sources"
