#!/usr/bin/env bash
# The release made from the suite's builds, into a temporary folder (never
# the source tree): every file is there and SHA256SUMS verifies; made again
# into another folder, every file has the same bytes; the zip holds demo.exe
# and readme.txt; the .deb passes lintian without errors, declares SDL2 in
# Depends, and its launcher runs from a scratch folder (dpkg-deb -x: nothing
# is installed on this machine); the tarball's programs run from a folder
# with a space in its name and need only the system libraries that
# packaging/system-libraries.txt names, the rest coming in its lib/; its
# demo-launch names a missing library in one line; the FLAC's samples are
# the float song rounded to 24 bits over its whole length.
#
# usage: release_test.sh SOURCE_DIR BUILD WINDOWS_BUILD WEB_BUILD FLAC_SONG_COMPARE
set -uo pipefail
source_dir=$1 build=$2 windows_build=$3 web_build=$4 compare=$5
tmp=$(mktemp -d "${TMPDIR:-/tmp}/release-test-XXXXXX")
trap 'rm -rf "$tmp"' EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

version=$(sed -n 's/^project(demo VERSION \([0-9][0-9.]*\) .*/\1/p' "$source_dir/CMakeLists.txt")
name=demo-$version
dist=$tmp/dist
# demo.exe is started under Wine by the windows tests; here it is only packed.
release() { # DIST: the release from the suite's builds into DIST
  if ! "$source_dir/release.sh" --reuse-builds --no-wine --build "$build" --windows-build "$windows_build" \
       --web-build "$web_build" --dist "$1" >"$tmp/release.out" 2>&1; then
    cat "$tmp/release.out"
    echo "FAIL: release.sh failed"
    exit 1
  fi
  cat "$tmp/release.out"
}
release "$dist"
# Made again, later and elsewhere: the same bytes.
release "$tmp/again/dist"
if ! cmp -s "$dist/SHA256SUMS" "$tmp/again/dist/SHA256SUMS"; then
  fail "made twice, the release differs: $(diff "$dist/SHA256SUMS" "$tmp/again/dist/SHA256SUMS" | tr '\n' ' ')"
fi
[ -L "$dist" ] || fail "the release folder is not the link that is swapped in one step"

files=("$name-windows.zip" "demo_${version}_amd64.deb" "$name-linux-x86_64.tar.gz" "$name.html"
       "$name-soundtrack.flac" "$name-soundtrack.opus" SHA256SUMS)
for file in "${files[@]}"; do
  [ -s "$dist/$file" ] || fail "$file is not in the release"
done
leftover=$(cd "$dist" && ls -A | grep -vxF "$(printf '%s\n' "${files[@]}")")
[ -z "$leftover" ] || fail "the release folder holds more: $leftover"
(cd "$dist" && sha256sum --quiet -c SHA256SUMS) || fail "SHA256SUMS does not verify"
[ "$(wc -l <"$dist/SHA256SUMS")" = $((${#files[@]} - 1)) ] || fail "SHA256SUMS does not name every file"

listing=$(unzip -Z1 "$dist/$name-windows.zip")
for entry in demo.exe readme.txt; do
  grep -qx "$name-windows/$entry" <<<"$listing" || fail "the zip holds no $entry: $listing"
done

deb=$dist/demo_${version}_amd64.deb
depends=$(dpkg-deb -f "$deb" Depends)
grep -q 'libsdl2-2\.0-0' <<<"$depends" || fail "Depends names no SDL2: $depends"
lintian --tag-display-limit 0 "$deb" >"$tmp/lintian.txt" 2>&1
if grep -q '^E:' "$tmp/lintian.txt"; then fail "lintian: $(grep '^E:' "$tmp/lintian.txt")"; fi
dpkg-deb -x "$deb" "$tmp/root"
# The menu's launcher: demo in a folder of its own under the cache directory.
grep -qx 'Exec=demo-launch' "$tmp/root/usr/share/applications/demo.desktop" || fail "the desktop entry does not start demo-launch"
said=$(HOME="$tmp/home" XDG_CACHE_HOME="$tmp/cache" "$tmp/root/usr/bin/demo-launch" --version 2>&1)
grep -q "^demo-launch $version" <<<"$said" || fail "demo-launch --version said: $said"
[ -d "$tmp/cache/demo" ] || fail "demo-launch made no folder in the cache directory"

mkdir -p "$tmp/a folder with spaces"
tar -C "$tmp/a folder with spaces" -xzf "$dist/$name-linux-x86_64.tar.gz"
for program in demo demo-capture demo-render-song; do
  said=$(cd "$tmp/a folder with spaces/$name-linux-x86_64" && "./$program" --version 2>&1)
  grep -q " $version" <<<"$said" || fail "the tarball's $program --version said: $said"
done
here="$tmp/a folder with spaces/$name-linux-x86_64"
# What the programs (and the libraries beside them) need is either in lib/
# or a system library with its packages in demo-launch's table.
system=$(grep -v '^#' "$source_dir/packaging/system-libraries.txt" | awk '{ print $1 }')
for file in "$here/demo" "$here/demo-capture" "$here/demo-render-song" "$here"/lib/*; do
  for library in $(readelf -d "$file" | sed -n 's/.*(NEEDED).*\[\(.*\)\]$/\1/p'); do
    grep -qxF "$library" <<<"$system" || [ -f "$here/lib/$library" ] ||
      fail "$(basename "$file") needs $library, neither in lib/ nor a system library"
  done
done
for program in demo demo-capture demo-render-song; do
  rpath=$(readelf -d "$here/$program" | sed -n 's/.*(RPATH).*\[\(.*\)\]$/\1/p')
  [ "$rpath" = '$ORIGIN/lib' ] || fail "the tarball's $program searches '$rpath', not \$ORIGIN/lib alone"
done
for library in libSDL2-2.0.so.0 libpng16.so.16; do
  [ -f "$here/lib/$library" ] || fail "the tarball's lib/ has no $library"
done
grep -q '@[A-Z_]*@' "$here/README.txt" && fail "README.txt has unfilled facts: $(grep '@[A-Z_]*@' "$here/README.txt")"
grep -E '^ *(sudo )?(apt-get|apt|dnf) install' "$here/README.txt" | grep -q '[()]' &&
  fail "README.txt has an install line that cannot be pasted: $(grep -E 'install' "$here/README.txt" | grep '[()]')"
# A missing library: demo-launch says which in one line, with the packages
# where it knows them (an ldd that reports two of the table's missing), and
# the program never starts.
mkdir -p "$tmp/missing/stub" "$tmp/missing/bin" "$tmp/missing/path"
cp "$here/demo-launch" "$tmp/missing/bin/"
echo 'int absent(void) { return 0; }' | cc -x c - -shared -fPIC -Wl,-soname,libdemo-absent.so.1 \
  -o "$tmp/missing/stub/libdemo-absent.so"
echo 'int absent(void); int main(void) { return absent(); }' | cc -x c - -L"$tmp/missing/stub" -ldemo-absent \
  -o "$tmp/missing/bin/demo"
said=$(HOME="$tmp/home" XDG_CACHE_HOME="$tmp/cache" "$tmp/missing/bin/demo-launch" 2>&1)
code=$?
if [ $code != 127 ] || [ "$(wc -l <<<"$said")" != 1 ] || ! grep -q 'missing libdemo-absent\.so\.1' <<<"$said"; then
  fail "demo-launch with a library missing: exit $code, said: $said"
fi
printf '#!/bin/sh\nprintf "\\tlibEGL.so.1 => not found\\n\\tlibXss.so.1 => not found\\n"\n' >"$tmp/missing/path/ldd"
chmod +x "$tmp/missing/path/ldd"
said=$(PATH="$tmp/missing/path:$PATH" "$tmp/missing/bin/demo-launch" 2>&1)
grep -qF 'sudo apt-get install libegl1 libxss1; on Fedora: sudo dnf install libXScrnSaver libglvnd-egl.' <<<"$said" &&
  [ "$(wc -l <<<"$said")" = 1 ] || fail "demo-launch's line for two system libraries: $said"

# A tool of the tarball run by its path from elsewhere writes where it is told.
"$tmp/a folder with spaces/$name-linux-x86_64/demo-render-song" --frames 100 --out "$tmp/a folder with spaces/x.wav" ||
  fail "the tarball's demo-render-song did not write a file"

ffmpeg -v error -i "$dist/$name-soundtrack.flac" -f s32le - | "$compare" || fail "the FLAC is not the song in 24 bits"

[ $failures = 0 ] && echo "PASS: the release's files"
exit $((failures > 0))
