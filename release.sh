#!/usr/bin/env bash
# Makes every release file into dist/, each checked before it is published:
#   demo-VERSION-windows.zip          demo.exe, readme.txt and .bat starters
#   demo_VERSION_amd64.deb            the Debian package (CPack)
#   demo-VERSION-linux-x86_64.tar.gz  the same programs, run from any folder
#   demo-VERSION.html                 the one-file page
#   demo-VERSION-soundtrack.flac      the whole song, 24-bit
#   demo-VERSION-soundtrack.opus      the whole song, small
#   demo-VERSION.mp4                  with --video only (1280x720, 30 fps)
#   SHA256SUMS
# The same commit gives the same bytes: times come from the commit
# (SOURCE_DATE_EPOCH), archives hold their members sorted with fixed owners,
# modes and times, the builds hold no folder names, the encoders write
# bit-exact output.
# The new set is made and checked in a hidden folder beside the output
# folder; the output folder is a symbolic link that one rename(2) turns from
# the old set to the new one, only when all of it passed: an interruption or
# a failure at any moment leaves the whole old set in place, or the whole
# new one, each with its SHA256SUMS.
set -euo pipefail
cd "$(dirname "$0")"
source_dir=$PWD

usage() {
  cat <<'EOF'
usage: ./release.sh [--reuse-builds] [--video] [--no-wine] [--dist DIR]
                    [--build DIR] [--windows-build DIR] [--web-build DIR]
Builds the demo for Linux, Windows and the browser from scratch (in
build-release/), makes the release files and checks them, then writes them
with SHA256SUMS into dist/.

  --reuse-builds       use the existing build folders (build, build-windows,
                       build-web, or those named below) as they are, instead
                       of building from scratch
  --build DIR          the Linux build folder to reuse
  --windows-build DIR  the Windows (MinGW-w64) build folder to reuse
  --web-build DIR      the browser (emscripten) build folder to reuse
  --dist DIR           where the release files go (default: dist)
  --video              also demo-VERSION.mp4 (1280x720, 30 fps), made by
                       demo-capture --video: hours without a GPU (see docs/release.md)
  --no-wine            do not start demo.exe under Wine to check it
  --help               show this help and exit
Exit status: 0 done, 1 a step or a check failed (one line says which),
2 bad arguments.
EOF
}

fail() {
  echo "release.sh: $*" >&2
  exit 1
}

reuse=0 video=0 wine_check=1 dist=dist
build=build windows_build=build-windows web_build=build-web
while [ $# -gt 0 ]; do
  case "$1" in
    --help | -h) usage; exit 0 ;;
    --reuse-builds) reuse=1 ;;
    --video) video=1 ;;
    --no-wine) wine_check=0 ;;
    --dist | --build | --windows-build | --web-build)
      [ $# -ge 2 ] && [ -n "$2" ] || { echo "release.sh: $1 needs a folder (see --help)" >&2; exit 2; }
      case "$1" in
        --dist) dist=$2 ;;
        --build) build=$2 ;;
        --windows-build) windows_build=$2 ;;
        --web-build) web_build=$2 ;;
      esac
      shift ;;
    *) echo "release.sh: unknown argument '$1' (see --help)" >&2; exit 2 ;;
  esac
  shift
done

version=$(sed -n 's/^project(demo VERSION \([0-9][0-9.]*\) .*/\1/p' CMakeLists.txt)
[ -n "$version" ] || fail "no version in CMakeLists.txt's project()"

# Every time written into a file is the commit's (or the one given).
if [ -z "${SOURCE_DATE_EPOCH:-}" ]; then
  SOURCE_DATE_EPOCH=$(git log -1 --format=%ct 2>/dev/null) ||
    fail "not a git checkout: set SOURCE_DATE_EPOCH to the source's time"
fi
export SOURCE_DATE_EPOCH TZ=UTC LC_ALL=C
umask 022

# The output: a symbolic link to a hidden folder beside it that holds the
# set. The new set is made in another such folder (its work files in a third
# one), on the same file system, so that publishing it is one rename.
dist=${dist%/}
parent=$(dirname "$dist") base=$(basename "$dist")
mkdir -p "$parent" || fail "cannot make the folder '$parent'"
parent=$(cd "$parent" && pwd)
dist=$parent/$base
stage=$(mktemp -d "$parent/.$base.set-XXXXXX") || fail "cannot make a folder in '$parent'"
work=$(mktemp -d "$parent/.$base.work-XXXXXX") || fail "cannot make a folder in '$parent'"
chmod 0755 "$stage"
log=$(mktemp "${TMPDIR:-/tmp}/demo-release-XXXXXX.log") || fail "cannot make a log file"
keep_log=0
xvfb_pid=
published=0
cleanup() {
  if [ -n "${WINEPREFIX:-}" ] && [ -d "$WINEPREFIX" ]; then
    timeout 30 wineserver -k >/dev/null 2>&1 || true
  fi
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
  rm -rf "$work" "$parent/.$base.link-$$"
  [ $published = 1 ] || rm -rf "$stage"
  [ $keep_log = 1 ] || rm -f "$log"
}
trap cleanup EXIT
trap 'echo "release.sh: interrupted" >&2; exit 130' INT
trap 'exit 143' TERM

started=$(date +%s)
say() { echo "release: [$(($(date +%s) - started)) s] $*"; }
# step WHAT COMMAND...: runs a step with its output in the log; a failure is
# one line naming the step and the log.
step() {
  local what=$1
  shift
  echo "== $what" >>"$log"
  if ! "$@" >>"$log" 2>&1; then
    keep_log=1
    fail "$what failed (its output: $log)"
  fi
}
check() {
  local what=$1
  shift
  "$@" >>"$log" 2>&1 || { keep_log=1; fail "check failed: $what (see $log)"; }
}

need() {
  command -v "$1" >/dev/null || fail "$1 is needed ($2; scripts/deps.sh test installs it)"
}
need zip "the Windows archive"
need unzip "checking the Windows archive"
need cpack "the Debian package"
need dpkg-deb "checking the Debian package"
need dpkg-shlibdeps "the Debian package's Depends"
need lintian "checking the Debian package"
need ffmpeg "the soundtrack's FLAC and Opus"
need sha256sum "SHA256SUMS"

echo "release: demo $version into $dist"
if [ -n "$(git status --porcelain 2>/dev/null | grep -v '^??' || true)" ]; then
  echo "release: note: the working tree has uncommitted changes; --version will say '-dirty'"
fi

# --- The builds ----------------------------------------------------------
jobs=$(nproc)
if [ $reuse = 0 ]; then
  build=build-release/linux windows_build=build-release/windows web_build=build-release/web
  rm -rf build-release
  say "building for Linux (build-release/linux)"
  step "the Linux configuration" cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DDEMO_BUILD_TESTS=OFF
  step "the Linux build" cmake --build "$build" -j"$jobs"
  say "building for Windows (build-release/windows, MinGW-w64)"
  step "the Windows configuration" cmake -S . -B "$windows_build" -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake \
    -DCMAKE_BUILD_TYPE=Release
  step "the Windows build" cmake --build "$windows_build" -j"$jobs"
  say "building for the browser (build-release/web, emscripten)"
  step "the browser configuration" emcmake cmake -S . -B "$web_build" -DCMAKE_BUILD_TYPE=Release
  step "the browser build" cmake --build "$web_build" -j"$jobs"
fi
for path in "$build/bin/demo" "$build/bin/demo-capture" "$build/bin/demo-render-song" "$build/bin/demo-launch" \
            "$build/CPackConfig.cmake" \
            "$windows_build/bin/demo.exe" "$web_build/demo.html"; do
  [ -f "$path" ] || fail "$path is missing: build it first, or leave out --reuse-builds"
done
song_frames=$("$build/bin/demo-render-song" --help | sed -n 's/.*render only the first N frames (1 to \([0-9]*\);.*/\1/p')
song_rate=$("$build/bin/demo-render-song" --help | sed -n 's/.*(\([0-9,]*\) Hz stereo).*/\1/p' | tr -d ,)
[ -n "$song_frames" ] && [ -n "$song_rate" ] || fail "demo-render-song's --help names no song length or rate"

# --- The files -----------------------------------------------------------
name=demo-$version
zip_file=$name-windows.zip deb_file=demo_${version}_amd64.deb tar_file=$name-linux-x86_64.tar.gz
page_file=$name.html flac_file=$name-soundtrack.flac opus_file=$name-soundtrack.opus video_file=$name.mp4
files=("$zip_file" "$deb_file" "$tar_file" "$page_file" "$flac_file" "$opus_file")
[ $video = 1 ] && files+=("$video_file")

# fixed_times DIR: every file and folder under DIR gets the source's time.
fixed_times() { find "$1" -exec touch -h -d "@$SOURCE_DATE_EPOCH" {} +; }
# fill_text TEMPLATE OUTPUT [-DNAME=VALUE...]: a text of packaging/ with the
# facts from the code (packaging/fill_text.cmake).
fill_text() {
  local template=$1 output=$2
  shift 2
  cmake -DSOURCE_DIR="$source_dir" -DDEMO="$build/bin/demo" -DTEMPLATE="$template" -DOUTPUT="$output" "$@" \
    -P packaging/fill_text.cmake
}

say "the Windows archive ($zip_file)"
zip_dir=$work/zip/$name-windows
mkdir -p "$zip_dir"
cp "$windows_build/bin/demo.exe" "$zip_dir/"
if command -v x86_64-w64-mingw32-strip >/dev/null; then
  step "stripping demo.exe" x86_64-w64-mingw32-strip "$zip_dir/demo.exe"
fi
step "readme.txt" fill_text packaging/windows/readme.txt.in "$zip_dir/readme.txt" -DCRLF=ON
cp packaging/windows/*.bat "$zip_dir/"
chmod 0644 "$zip_dir"/*
fixed_times "$work/zip"
# Sorted members, no extra attributes (-X), times in UTC (TZ above).
step "the Windows archive" sh -c "cd '$work/zip' && find '$name-windows' -type f | sort |
  zip -q -X -D -@ '$stage/$zip_file'"

say "the Debian package ($deb_file: CPack, Depends from dpkg-shlibdeps)"
step "the Debian package" cpack -G DEB -B "$work/cpack" --config "$build/CPackConfig.cmake"
[ -f "$work/cpack/$deb_file" ] || fail "CPack made no $deb_file"
# Built again by dpkg-deb from its own tree, with the source's time on every
# member and root as owner.
step "unpacking the package" dpkg-deb -R "$work/cpack/$deb_file" "$work/deb"
find "$work/deb" -type d -exec chmod 0755 {} +
fixed_times "$work/deb"
step "the Debian package, reproducibly" dpkg-deb --root-owner-group -Zxz -z9 --threads-max=1 \
  --build "$work/deb" "$stage/$deb_file"

say "the Linux archive ($tar_file: the programs, with the libraries a desktop may lack)"
tar_dir=$work/tar/$name-linux-x86_64
mkdir -p "$tar_dir/man"
# The build's programs, which find lib/ beside them (RPATH $ORIGIN/lib).
for program in demo demo-capture demo-render-song; do
  step "stripping $program" strip --strip-unneeded -o "$tar_dir/$program" "$build/bin/$program"
  step "the search path of $program" cmake -DFILE="$tar_dir/$program" -P packaging/set_rpath.cmake
done
cp "$build/bin/demo-launch" "$tar_dir/"
chmod 0755 "$tar_dir"/demo*
bundled=$(packaging/bundle_libraries.sh "$tar_dir/lib" "$tar_dir/demo" "$tar_dir/demo-capture" \
  "$tar_dir/demo-render-song" 2>>"$log") || { keep_log=1; fail "the libraries for lib/ (see $log)"; }
say "in lib/: $(echo $bundled)"
cp "$work/deb/usr/share/icons/hicolor/256x256/apps/demo.png" "$tar_dir/"
for page in "$work/deb/usr/share/man/man1/"*.gz; do
  gzip -dc "$page" >"$tar_dir/man/$(basename "$page" .gz)"
done
# The newest C library version that any of its files asks for.
glibc=$(for file in "$tar_dir"/demo "$tar_dir"/demo-capture "$tar_dir"/demo-render-song "$tar_dir"/lib/*; do
          objdump -T "$file"; done | grep -o 'GLIBC_[0-9][0-9.]*' | sed 's/GLIBC_//' | sort -uV | tail -1)
[ -n "$glibc" ] || fail "no C library version in the Linux programs"
step "README.txt" fill_text packaging/README.txt.in "$tar_dir/README.txt" -DGLIBC_VERSION="$glibc" \
  "-DGLIBC_DISTRIBUTIONS=$(packaging/glibc_distributions.sh "$glibc")"
chmod -R u=rwX,go=rX "$work/tar"
fixed_times "$work/tar"
step "the Linux archive" sh -c "tar -C '$work/tar' --sort=name --owner=0 --group=0 --numeric-owner \
  --mtime=@$SOURCE_DATE_EPOCH --format=gnu -cf - '$name-linux-x86_64' | gzip -9n >'$stage/$tar_file'"

say "the one-file page ($page_file)"
cp "$web_build/demo.html" "$stage/$page_file"

say "the soundtrack ($flac_file, $opus_file: demo-render-song)"
step "the FLAC soundtrack" "$build/bin/demo-render-song" --out "$stage/$flac_file"
step "the Opus soundtrack" "$build/bin/demo-render-song" --out "$stage/$opus_file"

if [ $video = 1 ]; then
  say "the preview video ($video_file: demo-capture --video at 1280x720, 30 fps; hours without a GPU)"
  step "the video" "$build/bin/demo-capture" --video "$stage/$video_file" --scale 720p --fps 30
fi

# --- The checks ----------------------------------------------------------
say "checking the Windows archive"
check "$zip_file holds demo.exe and readme.txt" \
  sh -c "unzip -Z1 '$stage/$zip_file' | grep -qx '$name-windows/demo.exe' &&
         unzip -Z1 '$stage/$zip_file' | grep -qx '$name-windows/readme.txt'"
if [ $wine_check = 1 ] && command -v wine >/dev/null && command -v Xvfb >/dev/null; then
  say "starting demo.exe under Wine (a prefix of its own, on an Xvfb of its own)"
  mkdir -p "$work/wine/home" "$work/wine/run"
  unzip -q "$stage/$zip_file" -d "$work/wine/run"
  # Wine's server leaves its socket's folder under TMPDIR: it goes with $work.
  mkdir -p "$work/wine/tmp"
  export HOME="$work/wine/home" WINEPREFIX="$work/wine/prefix" WINEDEBUG=-all TMPDIR="$work/wine/tmp"
  export XDG_CONFIG_HOME="$HOME/.config" XDG_DATA_HOME="$HOME/.local/share" XDG_CACHE_HOME="$HOME/.cache"
  export WINEDLLOVERRIDES="mscoree,mshtml,winemenubuilder.exe=d"
  Xvfb -displayfd 1 -screen 0 1920x1080x24 -nolisten tcp >"$work/wine/display" 2>>"$log" &
  xvfb_pid=$!
  for _ in $(seq 100); do [ -s "$work/wine/display" ] && break; sleep 0.1; done
  [ -s "$work/wine/display" ] || fail "check failed: Xvfb did not start"
  export DISPLAY=:$(head -1 "$work/wine/display")
  # demo.exe has started when it answers --version, or (a build without
  # options) when it has built its shader and written its log.
  exe_dir=$work/wine/run/$name-windows
  (cd "$exe_dir" && exec wine demo.exe --version >"$work/wine/said" 2>>"$log") &
  wine_pid=$!
  # Up to 3 minutes: Wine makes its prefix on the first start.
  started_exe=0
  for _ in $(seq 1800); do
    if grep -q "^demo $version" "$work/wine/said" 2>/dev/null || [ -e "$exe_dir/ShaderLog.txt" ]; then
      started_exe=1
      break
    fi
    kill -0 $wine_pid 2>/dev/null || break
    sleep 0.1
  done
  if [ $started_exe = 0 ] && { grep -q "^demo $version" "$work/wine/said" || [ -e "$exe_dir/ShaderLog.txt" ]; }; then
    started_exe=1
  fi
  timeout 30 wineserver -k >/dev/null 2>&1 || true
  wait $wine_pid 2>/dev/null || true
  if [ $started_exe = 0 ]; then
    keep_log=1
    fail "check failed: demo.exe did not start under Wine (see $log)"
  fi
  if grep -q "^demo $version" "$work/wine/said"; then
    say "demo.exe answered under Wine: $(head -1 "$work/wine/said")"
  else
    say "demo.exe started under Wine: it built its shader and wrote ShaderLog.txt"
  fi
  kill "$xvfb_pid" 2>/dev/null || true
  wait "$xvfb_pid" 2>/dev/null || true
  xvfb_pid=
else
  say "demo.exe not started under Wine ($([ $wine_check = 0 ] && echo "--no-wine" || echo "no wine or Xvfb here"))"
fi

say "checking the Debian package (dpkg-deb, lintian)"
depends=$(dpkg-deb -f "$stage/$deb_file" Depends)
check "$deb_file declares SDL2 in Depends ($depends)" sh -c "echo '$depends' | grep -q 'libsdl2-2.0-0'"
check "$deb_file suggests ffmpeg and recommends nothing" sh -c "dpkg-deb -f '$stage/$deb_file' Suggests |
  grep -qw ffmpeg && [ -z \"\$(dpkg-deb -f '$stage/$deb_file' Recommends)\" ]"
contents=$(dpkg-deb -c "$stage/$deb_file" | awk '{print $6}')
for path in ./usr/bin/demo ./usr/bin/demo-capture ./usr/bin/demo-render-song ./usr/bin/demo-launch \
            ./usr/share/applications/demo.desktop ./usr/share/icons/hicolor/256x256/apps/demo.png \
            ./usr/share/man/man1/demo.1.gz ./usr/share/doc/demo/copyright; do
  check "$deb_file holds $path" grep -qx -- "$path" <<<"$contents"
done
lintian --no-tag-display-limit "$stage/$deb_file" >"$work/lintian.txt" 2>&1 || true
cat "$work/lintian.txt" >>"$log"
if grep -q '^E:' "$work/lintian.txt"; then
  keep_log=1
  fail "check failed: lintian found errors in $deb_file: $(grep -m1 '^E:' "$work/lintian.txt")"
fi
say "lintian: $(grep -c '^E:' "$work/lintian.txt") errors, $(grep -c '^W:' "$work/lintian.txt") warnings"

say "checking the Linux archive (its programs run from a folder with a space in its name)"
mkdir -p "$work/unpacked here"
check "unpacking $tar_file" tar -C "$work/unpacked here" -xzf "$stage/$tar_file"
for program in demo demo-capture demo-render-song; do
  check "$tar_file: $program --version" \
    sh -c "cd '$work/unpacked here/$name-linux-x86_64' && ./$program --version | grep -q ' $version'"
done

say "checking the page and the soundtrack (decoded to the song's $song_frames frames)"
check "$page_file is the page" sh -c "head -c 200 '$stage/$page_file' | grep -qi '<!doctype html>'"
decoded_frames() { # FILE RATE: the frames that ffmpeg decodes from FILE at RATE
  echo $(($(ffmpeg -v error -i "$1" -f s16le -ac 2 -ar "$2" - | wc -c) / 4))
}
flac_frames=$(decoded_frames "$stage/$flac_file" "$song_rate")
check "$flac_file decodes to $song_frames frames (it has $flac_frames)" test "$flac_frames" = "$song_frames"
check "$flac_file is 24-bit" sh -c "ffprobe -v error -show_entries stream=bits_per_raw_sample -of csv=p=0 \
  '$stage/$flac_file' | grep -qx 24"
opus_frames=$(decoded_frames "$stage/$opus_file" 48000)
opus_wanted=$(((song_frames * 48000 + song_rate - 1) / song_rate))
check "$opus_file decodes to the song's length ($opus_wanted frames at 48 kHz; it has $opus_frames)" \
  test "$opus_frames" = "$opus_wanted"
for file in "$flac_file" "$opus_file"; do
  check "$file is tagged with the version" sh -c "ffprobe -v error -show_entries format_tags:stream_tags \
    '$stage/$file' | grep -qx 'TAG:version=$version'"
  check "$file is tagged with the album" sh -c "ffprobe -v error -show_entries format_tags:stream_tags \
    '$stage/$file' | grep -qx 'TAG:album=demo'"
done
if [ $video = 1 ]; then
  check "$video_file has a picture and a sound stream" sh -c "ffprobe -v error -show_entries stream=codec_type \
    -of csv=p=0 '$stage/$video_file' | sort | tr '\n' ' ' | grep -qx 'audio video '"
fi

(cd "$stage" && sha256sum "${files[@]}" >SHA256SUMS)
check "SHA256SUMS verifies" sh -c "cd '$stage' && sha256sum --quiet -c SHA256SUMS"

# --- Into place ----------------------------------------------------------
# One rename(2) of a new symbolic link over the output's name publishes the
# new set whole; the old set it named is removed after. An output that is
# still a plain folder (from an older release.sh) and holds only a release
# set is moved aside first: for that moment the old set is only in its new
# place, whole. A folder with other files in it is left alone.
rm -rf "$work"
old_set=
if [ -L "$dist" ]; then
  old_set=$(readlink "$dist")
elif [ -d "$dist" ]; then
  others=$(cd "$dist" && ls -A | grep -vxF -e SHA256SUMS -e "$(sed 's/^[0-9a-f]*  //' SHA256SUMS 2>/dev/null)" || true)
  [ -z "$others" ] || fail "'$dist' holds files of its own ($(echo $others)): name another --dist"
  old_set=$(basename "$(mktemp -d "$parent/.$base.set-XXXXXX")")
  mv -T "$dist" "$parent/$old_set" || fail "cannot move the old '$dist' aside"
elif [ -e "$dist" ]; then
  fail "'$dist' is a file, not a release folder"
fi
ln -s "$(basename "$stage")" "$parent/.$base.link-$$"
mv -T "$parent/.$base.link-$$" "$dist" || fail "cannot publish the new set as '$dist'"
published=1
case "$old_set" in
  .$base.set-*) rm -rf "${parent:?}/$old_set" ;;
esac
say "done: $dist (-> $(basename "$stage"))"
(cd "$dist" && ls -l "${files[@]}" SHA256SUMS | awk '{printf "  %12d  %s\n", $5, $9}')
