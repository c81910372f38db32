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
# Everything is made and checked in a hidden folder inside the output folder
# and moved into place only when all of it passed: an interruption or a
# failure leaves no file of this run there.
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
                       capture --video: hours without a GPU (see docs/release.md)
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

# The hidden folder where everything is made, on the output's file system so
# that each file's move into place is a rename; the log of the steps beside
# it, kept only when a step fails.
made_dist=0
[ -d "$dist" ] || made_dist=1
mkdir -p "$dist" || fail "cannot make the folder '$dist'"
dist=$(cd "$dist" && pwd)
stage=$(mktemp -d "$dist/.release-XXXXXX") || fail "cannot make a folder in '$dist'"
log=$(mktemp "${TMPDIR:-/tmp}/demo-release-XXXXXX.log") || fail "cannot make a log file"
keep_log=0
xvfb_pid=
cleanup() {
  if [ -n "${WINEPREFIX:-}" ] && [ -d "$WINEPREFIX" ]; then
    timeout 30 wineserver -k >/dev/null 2>&1 || true
  fi
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
  rm -rf "$stage"
  # A folder made by a run that published nothing goes too.
  if [ $made_dist = 1 ]; then rmdir "$dist" 2>/dev/null || true; fi
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
for path in "$build/bin/demo" "$build/bin/capture" "$build/bin/render-song" "$build/CPackConfig.cmake" \
            "$windows_build/bin/demo.exe" "$web_build/demo.html"; do
  [ -f "$path" ] || fail "$path is missing: build it first, or leave out --reuse-builds"
done
song_frames=$("$build/bin/render-song" --help | sed -n 's/.*render only the first N frames (1 to \([0-9]*\);.*/\1/p')
[ -n "$song_frames" ] || fail "render-song's --help names no song length"

# --- The files -----------------------------------------------------------
name=demo-$version
zip_file=$name-windows.zip deb_file=demo_${version}_amd64.deb tar_file=$name-linux-x86_64.tar.gz
page_file=$name.html flac_file=$name-soundtrack.flac opus_file=$name-soundtrack.opus video_file=$name.mp4
files=("$zip_file" "$deb_file" "$tar_file" "$page_file" "$flac_file" "$opus_file")
[ $video = 1 ] && files+=("$video_file")

say "the Windows archive ($zip_file)"
mkdir -p "$stage/zip/$name-windows"
cp "$windows_build/bin/demo.exe" "$stage/zip/$name-windows/"
if command -v x86_64-w64-mingw32-strip >/dev/null; then
  step "stripping demo.exe" x86_64-w64-mingw32-strip "$stage/zip/$name-windows/demo.exe"
fi
sed -e "s/@VERSION@/$version/g" -e 's/$/\r/' packaging/windows/readme.txt.in >"$stage/zip/$name-windows/readme.txt"
cp packaging/windows/*.bat "$stage/zip/$name-windows/"
step "the Windows archive" sh -c "cd '$stage/zip' && zip -q -X -r '../$zip_file' '$name-windows'"

say "the Debian package ($deb_file: CPack, Depends from dpkg-shlibdeps)"
step "the Debian package" cpack -G DEB -B "$stage/cpack" --config "$build/CPackConfig.cmake"
[ -f "$stage/cpack/$deb_file" ] || fail "CPack made no $deb_file"
mv "$stage/cpack/$deb_file" "$stage/$deb_file"

say "the Linux archive ($tar_file: the package's programs, run from any folder)"
step "unpacking the package" dpkg-deb -x "$stage/$deb_file" "$stage/root"
tar_dir=$stage/tar/$name-linux-x86_64
mkdir -p "$tar_dir/man"
cp "$stage/root/usr/bin/"* "$tar_dir/"
cp "$stage/root/usr/share/icons/hicolor/256x256/apps/demo.png" "$tar_dir/"
for page in "$stage/root/usr/share/man/man1/"*.gz; do
  gzip -dc "$page" >"$tar_dir/man/$(basename "$page" .gz)"
done
cat >"$tar_dir/README.txt" <<EOF
demo $version for Linux (x86-64; built on Debian 12)

  ./demo-launch          full screen with an adaptive resolution; its log goes
                         to \${XDG_CACHE_HOME:-~/.cache}/demo
  ./demo                 full screen; writes ShaderLog.txt where it is started
  ./demo --window        in a window;  ./demo --help  lists the options
  ./demo-render-song --out song.flac   the soundtrack (also .wav .opus .mp3)
  ./demo-capture --help                frames and videos, offscreen

Escape ends the demo; it ends by itself at 185 s. At 106.5 s the screen
flashes white. It needs OpenGL 4.1 and these libraries (Debian 12 package
names): $(dpkg-deb -f "$stage/$deb_file" Depends)
Manual pages: man ./man/demo.1
EOF
step "the Linux archive" tar -C "$stage/tar" --sort=name --owner=0 --group=0 --numeric-owner \
  -czf "$stage/$tar_file" "$name-linux-x86_64"

say "the one-file page ($page_file)"
cp "$web_build/demo.html" "$stage/$page_file"

say "the soundtrack ($flac_file, $opus_file: render-song)"
step "the FLAC soundtrack" "$build/bin/render-song" --out "$stage/$flac_file"
step "the Opus soundtrack" "$build/bin/render-song" --out "$stage/$opus_file"

if [ $video = 1 ]; then
  say "the preview video ($video_file: capture --video at 1280x720, 30 fps; hours without a GPU)"
  step "the video" "$build/bin/capture" --video "$stage/$video_file" --scale 720p --fps 30
fi

# --- The checks ----------------------------------------------------------
say "checking the Windows archive"
check "$zip_file holds demo.exe and readme.txt" \
  sh -c "unzip -Z1 '$stage/$zip_file' | grep -qx '$name-windows/demo.exe' &&
         unzip -Z1 '$stage/$zip_file' | grep -qx '$name-windows/readme.txt'"
if [ $wine_check = 1 ] && command -v wine >/dev/null && command -v Xvfb >/dev/null; then
  say "starting demo.exe under Wine (a prefix of its own, on an Xvfb of its own)"
  mkdir -p "$stage/wine/home" "$stage/wine/run"
  unzip -q "$stage/$zip_file" -d "$stage/wine/run"
  export HOME="$stage/wine/home" WINEPREFIX="$stage/wine/prefix" WINEDEBUG=-all
  export XDG_CONFIG_HOME="$HOME/.config" XDG_DATA_HOME="$HOME/.local/share" XDG_CACHE_HOME="$HOME/.cache"
  export WINEDLLOVERRIDES="mscoree,mshtml,winemenubuilder.exe=d"
  Xvfb -displayfd 1 -screen 0 1920x1080x24 -nolisten tcp >"$stage/wine/display" 2>>"$log" &
  xvfb_pid=$!
  for _ in $(seq 100); do [ -s "$stage/wine/display" ] && break; sleep 0.1; done
  [ -s "$stage/wine/display" ] || fail "check failed: Xvfb did not start"
  export DISPLAY=:$(head -1 "$stage/wine/display")
  # demo.exe has started when it answers --version, or (a build without
  # options) when it has built its shader and written its log.
  exe_dir=$stage/wine/run/$name-windows
  (cd "$exe_dir" && exec wine demo.exe --version >"$stage/wine/said" 2>>"$log") &
  wine_pid=$!
  # Up to 3 minutes: Wine makes its prefix on the first start.
  started_exe=0
  for _ in $(seq 1800); do
    if grep -q "^demo $version" "$stage/wine/said" 2>/dev/null || [ -e "$exe_dir/ShaderLog.txt" ]; then
      started_exe=1
      break
    fi
    kill -0 $wine_pid 2>/dev/null || break
    sleep 0.1
  done
  if [ $started_exe = 0 ] && { grep -q "^demo $version" "$stage/wine/said" || [ -e "$exe_dir/ShaderLog.txt" ]; }; then
    started_exe=1
  fi
  timeout 30 wineserver -k >/dev/null 2>&1 || true
  wait $wine_pid 2>/dev/null || true
  if [ $started_exe = 0 ]; then
    keep_log=1
    fail "check failed: demo.exe did not start under Wine (see $log)"
  fi
  if grep -q "^demo $version" "$stage/wine/said"; then
    say "demo.exe answered under Wine: $(head -1 "$stage/wine/said")"
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
check "$deb_file recommends ffmpeg" sh -c "dpkg-deb -f '$stage/$deb_file' Recommends | grep -qw ffmpeg"
contents=$(dpkg-deb -c "$stage/$deb_file" | awk '{print $6}')
for path in ./usr/bin/demo ./usr/bin/demo-capture ./usr/bin/demo-render-song ./usr/bin/demo-launch \
            ./usr/share/applications/demo.desktop ./usr/share/icons/hicolor/256x256/apps/demo.png \
            ./usr/share/man/man1/demo.1.gz ./usr/share/doc/demo/copyright; do
  check "$deb_file holds $path" grep -qx -- "$path" <<<"$contents"
done
lintian --no-tag-display-limit "$stage/$deb_file" >"$stage/lintian.txt" 2>&1 || true
cat "$stage/lintian.txt" >>"$log"
if grep -q '^E:' "$stage/lintian.txt"; then
  keep_log=1
  fail "check failed: lintian found errors in $deb_file: $(grep -m1 '^E:' "$stage/lintian.txt")"
fi
say "lintian: $(grep -c '^E:' "$stage/lintian.txt") errors, $(grep -c '^W:' "$stage/lintian.txt") warnings"

say "checking the Linux archive (its programs run from a folder with a space in its name)"
mkdir -p "$stage/unpacked here"
check "unpacking $tar_file" tar -C "$stage/unpacked here" -xzf "$stage/$tar_file"
for program in demo demo-capture demo-render-song; do
  check "$tar_file: $program --version" \
    sh -c "cd '$stage/unpacked here/$name-linux-x86_64' && ./$program --version | grep -q ' $version'"
done

say "checking the page and the soundtrack (decoded to the song's $song_frames frames)"
check "$page_file is the page" sh -c "head -c 200 '$stage/$page_file' | grep -qi '<!doctype html>'"
decoded_frames() { # FILE RATE: the frames that ffmpeg decodes from FILE at RATE
  echo $(($(ffmpeg -v error -i "$1" -f s16le -ac 2 -ar "$2" - | wc -c) / 4))
}
flac_frames=$(decoded_frames "$stage/$flac_file" 44100)
check "$flac_file decodes to $song_frames frames (it has $flac_frames)" test "$flac_frames" = "$song_frames"
check "$flac_file is 24-bit" sh -c "ffprobe -v error -show_entries stream=bits_per_raw_sample -of csv=p=0 \
  '$stage/$flac_file' | grep -qx 24"
opus_frames=$(decoded_frames "$stage/$opus_file" 48000)
opus_wanted=$(((song_frames * 48000 + 44099) / 44100))
check "$opus_file decodes to the song's length ($opus_wanted frames at 48 kHz; it has $opus_frames)" \
  test "$opus_frames" = "$opus_wanted"
for file in "$flac_file" "$opus_file"; do
  check "$file is tagged with the version" sh -c "ffprobe -v error -show_entries format_tags:stream_tags \
    '$stage/$file' | grep -qx 'TAG:version=$version'"
done
if [ $video = 1 ]; then
  check "$video_file has a picture and a sound stream" sh -c "ffprobe -v error -show_entries stream=codec_type \
    -of csv=p=0 '$stage/$video_file' | sort | tr '\n' ' ' | grep -qx 'audio video '"
fi

(cd "$stage" && sha256sum "${files[@]}" >SHA256SUMS)
check "SHA256SUMS verifies" sh -c "cd '$stage' && sha256sum --quiet -c SHA256SUMS"

# --- Into place ----------------------------------------------------------
for file in "${files[@]}" SHA256SUMS; do
  mv -f "$stage/$file" "$dist/$file"
done
say "done: $dist"
(cd "$dist" && ls -l "${files[@]}" SHA256SUMS | awk '{printf "  %12d  %s\n", $5, $9}')
