#!/usr/bin/env bash
# Names the first release of the common desktop distributions whose GNU C
# library is VERSION or newer, for the Linux archive's README.txt.
# usage: glibc_distributions.sh VERSION (e.g. 2.34)
set -euo pipefail
wanted=$1
# Each distribution's releases, oldest first, with their C library.
releases='Debian 10 2.28
Debian 11 2.31
Debian 12 2.36
Debian 13 2.41
Ubuntu 18.04 2.27
Ubuntu 20.04 2.31
Ubuntu 22.04 2.35
Ubuntu 24.04 2.39
Fedora 29 2.28
Fedora 31 2.30
Fedora 33 2.32
Fedora 35 2.34
Fedora 36 2.35
Fedora 37 2.36
Fedora 38 2.37
Fedora 39 2.38
Fedora 40 2.39
Fedora 41 2.40
RHEL 8 2.28
RHEL 9 2.34
RHEL 10 2.39'
at_least() { [ "$(printf '%s\n%s\n' "$wanted" "$1" | sort -V | head -1)" = "$wanted" ]; }
names=()
for distribution in Debian Ubuntu Fedora RHEL; do
  while read -r name release version; do
    if [ "$name" = "$distribution" ] && at_least "$version"; then
      names+=("$name $release")
      break
    fi
  done <<<"$releases"
done
[ ${#names[@]} -gt 0 ] || { echo "no listed distribution has the C library $wanted yet"; exit 0; }
last=${names[-1]}
unset 'names[-1]'
list=$(printf '%s, ' "${names[@]}")
echo "${list%, } or $last and their later releases"
