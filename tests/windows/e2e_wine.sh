#!/usr/bin/env bash
# End to end for the Windows build: demo.exe under Wine (a prefix of its own,
# made in a temporary folder), on an Xvfb of its own at 1920x1080x24, with
# Mesa's llvmpipe drawing through Wine's OpenGL and Wine's waveOut playing
# into ALSA's file plugin, paced in real time by paced_sink:
#  - ./ShaderLog.txt is replaced (it is seeded with junk first) and holds the
#    two fixed lines and the driver's log;
#  - the second frame fills the screen, and a band across its middle matches
#    the offscreen capture (capture --rect) of that band at the frame's time,
#    which is known to within the screenshots' spacing (see below);
#  - Escape held down across a frame ends it with exit code 0;
#  - what waveOut played is the song as render-song renders it, frame for
#    frame (played_compare).
# Prints the time of each stage. Nothing is left behind: the prefix, HOME
# and captures live in the temporary folder; Wine's processes are ended
# through the prefix's own wineserver, Xvfb by its process id.
#
# usage: e2e_wine.sh RENDER_SONG CAPTURE SCREEN_CHECK PICTURE_COMPARE PLAYED_COMPARE PACED_SINK DEMO_EXE
#                    [--skip-if-missing]
# With --skip-if-missing a missing DEMO_EXE skips the test (exit code 77).
if [ $# -lt 7 ]; then
  echo "usage: $0 RENDER_SONG CAPTURE SCREEN_CHECK PICTURE_COMPARE PLAYED_COMPARE PACED_SINK DEMO_EXE" \
       "[--skip-if-missing]" >&2
  exit 2
fi
RENDER_SONG=$(realpath "$1")
CAPTURE=$(realpath "$2")
SCREEN_CHECK=$(realpath "$3")
PICTURE_COMPARE=$(realpath "$4")
PLAYED_COMPARE=$(realpath "$5")
PACED_SINK=$(realpath "$6")
if [ ! -f "$7" ]; then
  if [ "${8:-}" = --skip-if-missing ]; then
    echo "SKIP: there is no $7; build it with"
    echo "  cmake -S . -B build-windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake && cmake --build build-windows"
    echo "or run ./run-tests.sh, which does."
    exit 77
  fi
  echo "FAIL: there is no $7 (the Windows build)"
  exit 1
fi
DEMO_EXE=$(realpath "$7")
for tool in wine wineserver Xvfb xdotool xwd; do
  if ! command -v "$tool" >/dev/null; then
    echo "FAIL: $tool is not installed (scripts/deps.sh test installs the test's packages)"
    exit 1
  fi
done
source "$(dirname "$0")/../host/e2e_lib.sh"

SONG_FRAMES=8240400
BAND=0,528,1920,24 # the band of the picture compared with the capture: 24 rows through the middle
test_start=$(now_ms)

# Wine's own processes (wineserver, services, explorer, the demo) are ended
# through the prefix's wineserver before the folder goes.
wine_cleanup() {
  if [ -d "${WINEPREFIX:-}" ]; then
    timeout 30 wineserver -k 2>/dev/null
    timeout 30 wineserver -w 2>/dev/null
  fi
  e2e_cleanup
}
trap wine_cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

# llvmpipe keeps its compiled shaders where it would for this user.
export MESA_SHADER_CACHE_DIR="${MESA_SHADER_CACHE_DIR:-${XDG_CACHE_HOME:-$HOME/.cache}/mesa_shader_cache}"
# Everything Wine and ALSA would write under the user's home goes to a home
# of the test's own.
export HOME="$E2E_TMP/home"
export XDG_CONFIG_HOME="$HOME/.config" XDG_DATA_HOME="$HOME/.local/share" XDG_CACHE_HOME="$HOME/.cache"
export WINEPREFIX="$E2E_TMP/prefix"
export WINEDEBUG=-all
# No Mono or Gecko installers, no menu entries.
export WINEDLLOVERRIDES="mscoree,mshtml,winemenubuilder.exe=d"
mkdir -p "$HOME"
work="$E2E_TMP/work"
mkdir "$work"
played="$work/played.raw"
# The default ALSA device writes what it is given, unchanged, into a pipe to
# paced_sink, which takes it at the pace of a sound card (44,100 frames of 8
# bytes a second) and leaves it in played.raw when the demo has ended. The
# null device alone has no clock: Wine would play into it about four times
# faster than real time, and outrun the render thread on a busy machine.
cat >"$HOME/.asoundrc" <<EOF
pcm.!default {
  type file
  slave.pcm "null"
  file "|'$PACED_SINK' 352800 '$played'"
  format "raw"
}
EOF

start_xvfb 1920x1080

# The song as the Linux build renders it, while the prefix is made.
"$RENDER_SONG" --out "$E2E_TMP/song.wav" >"$E2E_TMP/render-song.out" 2>&1 &
render_song=$!
E2E_PIDS+=("$render_song")

# The prefix, made by the first start. Two settings of its own:
#  - sound through ALSA (not PulseAudio, should a server be about);
#  - windows not left to a window manager: Xvfb runs none, and Wine leaves
#    the X window of a maximised "managed" window at the size it was created
#    with (the demo's: 0 x 0) for the window manager to enlarge.
cat >"$E2E_TMP/settings.reg" <<'EOF'
REGEDIT4

[HKEY_CURRENT_USER\Software\Wine\Drivers]
"Audio"="alsa"

[HKEY_CURRENT_USER\Software\Wine\X11 Driver]
"Managed"="N"
EOF
prefix_start=$(now_ms)
if ! timeout 300 wine reg import "$E2E_TMP/settings.reg" >"$E2E_TMP/prefix.out" 2>&1; then
  echo "FAIL: the Wine prefix could not be made:"; cat "$E2E_TMP/prefix.out"; exit 1
fi
echo "Wine prefix made in $(($(now_ms) - prefix_start)) ms ($(wine --version))"

# Junk longer than the log: a file that was only appended to or overwritten
# in place would keep some of it.
for i in $(seq 2000); do echo "JUNK line $i of an old log"; done >"$work/ShaderLog.txt"

# Frames are told apart by screenshots: a frame is on the screen from its
# swap until the next. For each screenshot the times it was begun and
# finished are kept, so that a swap is placed between the start of the last
# screenshot without it and the end of the first with it.
screenshot "$E2E_TMP/shot0.xwd"
demo_start=$(now_ms)
(cd "$work" && exec wine "$DEMO_EXE") >"$E2E_TMP/demo.out" 2>&1 &
demo=$!
E2E_PIDS+=("$demo")

# wait_frame N LIMIT_S: waits for the screen to differ from shotN-1; leaves
# the screenshot in shotN.xwd and sets FRAME_AFTER and FRAME_BEFORE (ms since
# the demo's start) around the swap that put it there.
wait_frame() {
  local n=$1 limit=$2 begun ended last_begun=$(now_ms)
  while kill -0 "$demo" 2>/dev/null && [ $(($(now_ms) - demo_start)) -lt $((limit * 1000)) ]; do
    begun=$(now_ms)
    screenshot "$E2E_TMP/shot.xwd"
    ended=$(now_ms)
    if ! cmp -s "$E2E_TMP/shot.xwd" "$E2E_TMP/shot$((n - 1)).xwd"; then
      mv "$E2E_TMP/shot.xwd" "$E2E_TMP/shot$n.xwd"
      FRAME_AFTER=$((last_begun - demo_start))
      FRAME_BEFORE=$((ended - demo_start))
      return 0
    fi
    last_begun=$begun
    sleep 0.1
  done
  return 1
}

if ! wait_frame 1 400; then
  fail "no frame was shown within 400 s"; cat "$E2E_TMP/demo.out"; exit 1
fi
echo "first frame shown $((FRAME_AFTER / 1000)).$((FRAME_AFTER % 1000 / 100))-$((FRAME_BEFORE / 1000)).$((FRAME_BEFORE % 1000 / 100)) s after the start"
first_after=$FRAME_AFTER
first_before=$FRAME_BEFORE

# The frame loop's clock starts (timeMs = 0) right after the block is queued
# on the wave device, and paced_sink makes its file when the first of it
# arrives, a few milliseconds earlier. Without a birth time on this file
# system, the log's last write (before the audio start) stands in.
loop_start=$(stat -c %.3W "$played.part" 2>/dev/null | tr -d .)
loop_margin=100
if [ -z "$loop_start" ] || [ "$loop_start" = 0 ]; then
  loop_start=$(stat -c %.3Y "$work/ShaderLog.txt" | tr -d .)
  loop_margin=500
fi
loop_start=$((loop_start - demo_start))
echo "the frame loop started about $loop_start ms after the start"

# The first frame is drawn at timeMs 0 (the fade-in leaves it nearly
# black); the second at the time the first was swapped.
if ! wait_frame 2 700; then
  fail "no second frame was shown within 700 s"; cat "$E2E_TMP/demo.out"; exit 1
fi
frame_ms=$(((FRAME_AFTER + FRAME_BEFORE - first_after - first_before) / 2))
echo "second frame shown $((FRAME_AFTER / 1000)).$((FRAME_AFTER % 1000 / 100))-$((FRAME_BEFORE / 1000)).$((FRAME_BEFORE % 1000 / 100)) s after the start: a frame takes about $((frame_ms / 1000)) s"
if "$SCREEN_CHECK" "$E2E_TMP/shot2.xwd" 1920 1080 >"$E2E_TMP/check.out"; then
  pass "the second frame fills the 1920x1080 screen"
else
  fail "the second frame does not fill the screen: $(cat "$E2E_TMP/check.out")"
fi

# Escape, held down across a frame: the demo's window must have the focus,
# or Wine never sees the key.
for window in $(xdotool search --class demo.exe 2>/dev/null); do
  xdotool windowfocus "$window" 2>/dev/null
done
escape_at=$(now_ms)
xdotool keydown Escape

# Meanwhile the band at the second frame's time (the first frame's swap less
# the loop's start), sampled every 50 ms over the window that the
# screenshots and the loop's start leave, 100 ms wider each side.
from=$((first_after - loop_start - loop_margin - 100))
to=$((first_before - loop_start + 100))
from=$((from < 0 ? 0 : from / 50 * 50))
to=$(((to + 49) / 50 * 50))
seconds() { printf '%d.%03d' $(($1 / 1000)) $(($1 % 1000)); }
"$CAPTURE" -q --time "$(seconds "$from"):$(seconds "$to"):0.05" --rect "$BAND" --out "$E2E_TMP/band" \
  >"$E2E_TMP/capture.out" 2>&1 &
capture=$!
E2E_PIDS+=("$capture")

wait_exit "$demo" 700
xdotool keyup Escape
echo "Escape to exit: $(($(now_ms) - escape_at)) ms"
if [ "$EXIT_CODE" = 0 ]; then
  pass "Escape held across a frame ends demo.exe with exit code 0"
else
  fail "after Escape demo.exe ended with: $EXIT_CODE"; cat "$E2E_TMP/demo.out"
fi

# The log: replaced, the two fixed lines, then the driver's log.
expected_log_head >"$E2E_TMP/head"
head_bytes=$(wc -c <"$E2E_TMP/head")
if cmp -s <(head -c "$head_bytes" "$work/ShaderLog.txt") "$E2E_TMP/head"; then
  pass "ShaderLog.txt begins with the two fixed lines"
else
  fail "ShaderLog.txt begins with: $(head -c 200 "$work/ShaderLog.txt" | od -c | head -5)"
fi
if grep -q JUNK "$work/ShaderLog.txt"; then
  fail "ShaderLog.txt still holds the old log"
else
  pass "the old ShaderLog.txt was replaced"
fi
echo "driver's log ($(($(wc -c <"$work/ShaderLog.txt") - head_bytes)) bytes):"
tail -c +$((head_bytes + 1)) "$work/ShaderLog.txt" | head -20

# The picture.
if wait "$capture" && ls "$E2E_TMP"/band/*.png >/dev/null 2>&1; then
  echo "band captured at $(seconds "$from")-$(seconds "$to") s"
  if "$PICTURE_COMPARE" "$E2E_TMP/shot2.xwd" "$BAND" 16 "$E2E_TMP"/band/*.png >"$E2E_TMP/compare.out"; then
    echo "the band of the screenshot $(head -1 "$E2E_TMP/compare.out")"
    pass "$(tail -1 "$E2E_TMP/compare.out" | sed 's/^ok: //')"
  else
    fail "the second frame differs from the offscreen capture:"; cat "$E2E_TMP/compare.out"
  fi
else
  fail "capture failed:"; cat "$E2E_TMP/capture.out"
fi

# The sound: paced_sink ends with the demo and leaves played.raw.
waited=0
while [ ! -e "$played" ] && [ -e "$played.part" ] && [ $waited -lt 300 ]; do
  sleep 0.1
  waited=$((waited + 1))
done
if ! wait "$render_song"; then
  fail "render-song failed:"; cat "$E2E_TMP/render-song.out"
elif [ ! -s "$played" ]; then
  fail "nothing was played"
else
  # At least 10 s of the song; song frames played as zero only in its first 3 s.
  if "$PLAYED_COMPARE" "$played" "$E2E_TMP/song.wav" 441000 132300 >"$E2E_TMP/played.out"; then
    cat "$E2E_TMP/played.out"
    pass "what waveOut played is the song as render-song renders it"
  else
    cat "$E2E_TMP/played.out"
    fail "what waveOut played differs from the song"
  fi
fi

echo "the whole test took $(($(now_ms) - test_start)) ms"
[ "$E2E_FAILURES" -eq 0 ]
