#!/usr/bin/env bash
# Copies into LIBDIR every library that the given programs need, directly or
# through another such library, that is not one the system is expected to
# have (system-libraries.txt beside this script), as the loader here finds
# it. The programs find them through their RPATH ($ORIGIN/lib). Prints the
# names of the libraries copied, one per line.
# usage: bundle_libraries.sh LIBDIR PROGRAM...
set -euo pipefail
libdir=$1
shift
system=$(grep -v '^#' "$(dirname "$0")/system-libraries.txt" | awk '{ print $1 }')
mkdir -p "$libdir"

needed() { readelf -d "$1" | sed -n 's/.*(NEEDED).*\[\(.*\)\]$/\1/p'; }
# Where the loader here finds a library (x86-64 only).
location() {
  ldconfig -p | awk -v name="$1" '$1 == name && /x86-64/ && !found { found = $NF } END { print found }'
}

queue=("$@")
while [ ${#queue[@]} -gt 0 ]; do
  file=${queue[0]}
  queue=("${queue[@]:1}")
  for library in $(needed "$file"); do
    grep -qxF "$library" <<<"$system" && continue
    [ -e "$libdir/$library" ] && continue
    path=$(location "$library")
    [ -n "$path" ] || { echo "bundle_libraries.sh: $library (needed by $file) is not installed here" >&2; exit 1; }
    cp -L "$path" "$libdir/$library"
    chmod 0644 "$libdir/$library"
    echo "$library"
    queue+=("$libdir/$library")
  done
done
