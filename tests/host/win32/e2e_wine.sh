#!/usr/bin/env bash
# End to end for the Windows build: demo.exe under Wine (a prefix of its own,
# made in a temporary folder), with Mesa's llvmpipe drawing through Wine's
# OpenGL and Wine's waveOut playing into ALSA's file plugin, paced in real
# time by paced_sink, on one desktop after the other, each an Xvfb of its own:
#  plain      1920x1080x24, no window manager;
#  openbox    1920x1080x24 with the openbox window manager running;
#  letterbox  1280x1024x24, no window manager: Xvfb offers no other mode, so
#             the change to 1920x1080 is refused and the window has the
#             desktop's size.
# On each:
#  - Wine's loader reads the program's manifest: DPI-aware;
#  - ./ShaderLog.txt is replaced (it is seeded with junk first) and holds
#    exactly what the Linux build writes with the same driver: the two fixed
#    lines and the driver's log;
#  - a frame past the fade-in (the second, unless llvmpipe is fast) fills the
#    screen (letterbox: it fills 1280x720 between black bands of 152 rows),
#    and a band across its middle matches the offscreen capture (capture
#    --rect) of that band at the frame's time, which is known to within the
#    screenshots' spacing (see below), scaled to the screen's picture size;
#  - the demo's window takes the keyboard itself (nothing in the test forces
#    the focus): with openbox, X's input focus is on it;
#  - Escape held down across a frame ends it with exit code 0 before the
#    next frame but one is done (not at its own end, 185 s later);
#  - what waveOut played is the song as render-song renders it, frame for
#    frame, from its first frame: no song frame played as silence
#    (played_compare).
# The prefix, the song and the Linux build's log are made once for all the
# desktops. Prints the time of each stage. Nothing is left behind: the
# prefix, HOME and captures live in the temporary folder; Wine's processes are
# ended through the prefix's own wineserver, Xvfb and openbox by their
# process ids. Pictures to look at: DEMO_E2E_KEEP=DIR keeps each desktop's
# checked screenshot there as NAME.ppm.
#
# usage: e2e_wine.sh [--desktops LIST] RENDER_SONG CAPTURE SCREEN_CHECK PICTURE_COMPARE PLAYED_COMPARE
#                    PACED_SINK DEMO DEMO_EXE [--skip-if-missing]
# LIST: desktops separated by commas (default plain,openbox). DEMO is the
# Linux build, DEMO_EXE the Windows build. With --skip-if-missing a missing
# DEMO_EXE skips the test (exit code 77).
desktops=plain,openbox
if [ "${1:-}" = --desktops ]; then
  desktops=${2:-}
  shift 2
fi
if [ $# -lt 8 ] || ! [[ "$desktops" =~ ^(plain|openbox|letterbox)(,(plain|openbox|letterbox))*$ ]]; then
  echo "usage: $0 [--desktops plain,openbox,letterbox] RENDER_SONG CAPTURE SCREEN_CHECK PICTURE_COMPARE" \
       "PLAYED_COMPARE PACED_SINK DEMO DEMO_EXE [--skip-if-missing]" >&2
  exit 2
fi
RENDER_SONG=$(realpath "$1")
CAPTURE=$(realpath "$2")
SCREEN_CHECK=$(realpath "$3")
PICTURE_COMPARE=$(realpath "$4")
PLAYED_COMPARE=$(realpath "$5")
PACED_SINK=$(realpath "$6")
DEMO=$(realpath "$7")
if [ ! -f "$8" ]; then
  if [ "${9:-}" = --skip-if-missing ]; then
    echo "SKIP: there is no $8; build it with"
    echo "  cmake -S . -B build-windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake && cmake --build build-windows"
    echo "or run ./run-tests.sh, which does."
    exit 77
  fi
  echo "FAIL: there is no $8 (the Windows build)"
  exit 1
fi
DEMO_EXE=$(realpath "$8")
tools=(wine wineserver Xvfb xdotool xwd)
[[ "$desktops" == *openbox* ]] && tools+=(openbox xprop)
for tool in "${tools[@]}"; do
  if ! command -v "$tool" >/dev/null; then
    echo "FAIL: $tool is not installed (scripts/deps.sh test installs the test's packages)"
    exit 1
  fi
done
source "$(dirname "$0")/../e2e_lib.sh"
test_start=$(now_ms)

source "$(dirname "$0")/wine_lib.sh"
source "$(dirname "$0")/frame_watch.sh"
played="$work/played.raw"
wine_env "$PACED_SINK" "$played"

start_xvfb 1920x1080

# The song as the Linux build renders it, while the prefix is made.
"$RENDER_SONG" --out "$E2E_TMP/song.wav" >"$E2E_TMP/render-song.out" 2>&1 &
render_song=$!
E2E_PIDS+=("$render_song")

# The shader log as the Linux build writes it with the same driver, while
# the prefix is made: the Linux demo runs until its log is written and
# closed (the second line reaches the file only at the close).
mkdir "$E2E_TMP/linux"
expected_log_head >"$E2E_TMP/head"
head_bytes=$(wc -c <"$E2E_TMP/head")
(cd "$E2E_TMP/linux" && SDL_AUDIODRIVER=dummy exec "$DEMO") >"$E2E_TMP/linux.out" 2>&1 &
linux_demo=$!
E2E_PIDS+=("$linux_demo")

make_prefix

linux_log="$E2E_TMP/linux/ShaderLog.txt"
waited=0
until cmp -s <(head -c "$head_bytes" "$linux_log" 2>/dev/null) "$E2E_TMP/head" &&
      ! ls -l "/proc/$linux_demo/fd" 2>/dev/null | grep -q ShaderLog.txt; do
  if ! kill -0 "$linux_demo" 2>/dev/null || [ $waited -ge 1200 ]; then
    echo "FAIL: the Linux build wrote no shader log:"; cat "$E2E_TMP/linux.out"; exit 1
  fi
  sleep 0.1
  waited=$((waited + 1))
done
kill "$linux_demo" 2>/dev/null
wait "$linux_demo" 2>/dev/null
if ! wait "$render_song"; then
  echo "FAIL: render-song failed:"; cat "$E2E_TMP/render-song.out"; exit 1
fi

# The demo's output without the loader's trace of its manifest.
demo_output() {
  grep -v ':trace:actctx:' "$E2E_TMP/demo.out"
}

# Ends Wine's processes, which belong to the X display that they started on.
end_wine() {
  timeout 30 wineserver -k 2>/dev/null
  timeout 30 wineserver -w 2>/dev/null
}

# run_desktop NAME: one run of demo.exe on the desktop NAME (an X server of
# its own, already started) and every check on it.
run_desktop() {
  local name=$1 width=1920 height=1080 band=0,528,1920,24 part=0,528,1920,24 picture=()
  if [ "$name" = letterbox ]; then
    # 1280x1024: the 1920x1080 frame scaled by 2/3 to 1280x720, 152 black
    # rows above and below it. The band of 48 rows through the frame's
    # middle is rows 496-527 of the screen.
    width=1280 height=1024 band=0,516,1920,48 part=0,496,1280,32 picture=(--picture 0,152,1280,720)
  fi
  echo "== $name: ${width}x${height}$([ "$name" = openbox ] && echo ", openbox managing the windows")"
  rm -f "$E2E_TMP"/shot*.xwd "$played"
  rm -rf "$E2E_TMP/band"
  # Junk longer than the log: a file that was only appended to or
  # overwritten in place would keep some of it.
  for i in $(seq 2000); do echo "JUNK line $i of an old log"; done >"$work/ShaderLog.txt"

  screenshot "$E2E_TMP/shot0.xwd"
  demo_start=$(now_ms)
  (cd "$work" && WINEDEBUG=-all,+actctx exec wine "$DEMO_EXE") >"$E2E_TMP/demo.out" 2>&1 &
  demo=$!
  E2E_PIDS+=("$demo")

  if ! wait_frame 1 400; then
    fail "$name: no frame was shown within 400 s"; demo_output; return
  fi
  echo "frame 1 shown $(shown)"

  # The frame loop's clock starts (timeMs = 0) right after the block is
  # queued on the wave device, and paced_sink makes its file when the first
  # of it arrives, a few milliseconds earlier. Without a birth time on this
  # file system, the log's last write (before the audio start) stands in.
  local loop_start loop_margin=100
  loop_start=$(stat -c %.3W "$played.part" 2>/dev/null | tr -d .)
  if [ -z "$loop_start" ] || [ "$loop_start" = 0 ]; then
    loop_start=$(stat -c %.3Y "$work/ShaderLog.txt" | tr -d .)
    loop_margin=500
  fi
  loop_start=$((loop_start - demo_start))
  echo "the frame loop started about $(seconds "$loop_start") s after the start"

  # Frame 1 is drawn at timeMs 0, nearly black in the fade-in; each later
  # frame at the time its predecessor was swapped. The picture is checked on
  # the first frame drawn after the fade-in (5.33 s), on a machine as slow as
  # this one the second.
  local n=1 previous_after previous_before frame_ms
  while :; do
    previous_after=$FRAME_AFTER
    previous_before=$FRAME_BEFORE
    n=$((n + 1))
    if ! wait_frame "$n" 700; then
      fail "$name: no frame $n was shown within 700 s"; demo_output; return
    fi
    frame_ms=$(((FRAME_AFTER + FRAME_BEFORE - previous_after - previous_before) / 2))
    echo "frame $n shown $(shown): drawn in about $(seconds "$frame_ms") s"
    [ $((previous_after - loop_start - loop_margin)) -lt 6000 ] || break
  done
  local keep=()
  if [ -n "${DEMO_E2E_KEEP:-}" ]; then
    mkdir -p "$DEMO_E2E_KEEP"
    keep=("$DEMO_E2E_KEEP/$name.ppm")
  fi
  if "$SCREEN_CHECK" "$E2E_TMP/shot$n.xwd" "$width" "$height" "${picture[@]}" "${keep[@]}" >"$E2E_TMP/check.out"; then
    pass "$name: frame $n: $(sed 's/^ok: //' "$E2E_TMP/check.out")"
  else
    fail "$name: frame $n is not where it belongs: $(cat "$E2E_TMP/check.out")"
  fi

  # Escape, held down across a frame, goes where X sends the keys: the
  # demo's window took the keyboard itself (nothing here forces it), and
  # with a window manager X's input focus is on that window.
  if [ "$name" = openbox ]; then
    local focus
    focus=$(xdotool getwindowfocus 2>/dev/null)
    if xdotool search --name '^demo$' 2>/dev/null | grep -qx "$focus"; then
      pass "$name: the demo's window has the keyboard, nothing forcing it"
    else
      fail "$name: the keyboard is on window $focus ($(xprop -id "$focus" WM_CLASS 2>/dev/null)), not the demo's"
    fi
  fi
  local escape_at
  escape_at=$(now_ms)
  xdotool keydown Escape

  # Meanwhile the band at that frame's time (its predecessor's swap less the
  # loop's start), sampled every 50 ms over the window that the screenshots
  # and the loop's start leave, 100 ms wider each side.
  local from to capture
  from=$((previous_after - loop_start - loop_margin - 100))
  to=$((previous_before - loop_start + 100))
  from=$((from < 0 ? 0 : from / 50 * 50))
  to=$(((to + 49) / 50 * 50))
  "$CAPTURE" -q --time "$(seconds "$from"):$(seconds "$to"):0.05" --rect "$band" --out "$E2E_TMP/band" \
    >"$E2E_TMP/capture.out" 2>&1 &
  capture=$!
  E2E_PIDS+=("$capture")

  wait_exit "$demo" 700
  xdotool keyup Escape
  # The frame being drawn, then at most one more: a demo that never heard
  # the key would end much later, at its own end (185 s).
  local escape_ms escape_limit=$((2 * frame_ms + 20000))
  escape_ms=$(($(now_ms) - escape_at))
  echo "Escape to exit: $escape_ms ms"
  if [ "$EXIT_CODE" = 0 ] && [ "$escape_ms" -le "$escape_limit" ]; then
    pass "$name: Escape held across a frame ends demo.exe with exit code 0"
  else
    fail "$name: after Escape demo.exe ended with $EXIT_CODE, $escape_ms ms later (at most $escape_limit)"
    demo_output
  fi

  # The manifest as Wine's loader read it into the process's activation
  # context (the one place where Wine shows the demo's DPI awareness: it
  # answers every process's query as per-monitor aware).
  if grep -q 'parse_settings_elem got L"dpiAwareness" L"PerMonitorV2, System"' "$E2E_TMP/demo.out" &&
     grep -q 'parse_settings_elem got L"dpiAware" L"true"' "$E2E_TMP/demo.out"; then
    pass "$name: Wine read demo.exe's manifest: DPI-aware (per-monitor v2, else system-aware)"
  else
    fail "$name: Wine read no DPI awareness from demo.exe's manifest: $(grep -m3 'dpiAware' "$E2E_TMP/demo.out")"
  fi

  # The log: replaced, the two fixed lines, then the driver's log, the same
  # as the Linux build's byte for byte.
  if grep -q JUNK "$work/ShaderLog.txt"; then
    fail "$name: ShaderLog.txt still holds the old log"
  elif cmp -s "$work/ShaderLog.txt" "$linux_log"; then
    pass "$name: ShaderLog.txt holds the two fixed lines and the driver's log ($(($(wc -c <"$linux_log") - head_bytes)) bytes), as the Linux build's"
  else
    fail "$name: ShaderLog.txt differs from the Linux build's:"
    diff <(od -c "$work/ShaderLog.txt") <(od -c "$linux_log") | head -20
  fi

  # The picture. The tolerance, 6 levels over the means of 24 x 24-pixel
  # blocks: captures of this band 25 ms apart differ by 0.3-2.6 (the most
  # where the camera moves fastest), 50 ms apart by up to 5.7; pictures of
  # other moments by 13 or more, black by 74 or more.
  if wait "$capture" && ls "$E2E_TMP"/band/*.png >/dev/null 2>&1; then
    echo "band $band captured at $(seconds "$from")-$(seconds "$to") s, compared with the screen's $part"
    if "$PICTURE_COMPARE" "$E2E_TMP/shot$n.xwd" "$part" 6 "$E2E_TMP"/band/*.png >"$E2E_TMP/compare.out"; then
      echo "the band of the screenshot $(head -1 "$E2E_TMP/compare.out")"
      pass "$name: $(tail -1 "$E2E_TMP/compare.out" | sed 's/^ok: //')"
    else
      fail "$name: frame $n differs from the offscreen capture:"; cat "$E2E_TMP/compare.out"
    fi
  else
    fail "$name: capture failed:"; cat "$E2E_TMP/capture.out"
  fi

  # The sound: paced_sink ends with the demo and leaves played.raw. At
  # least 10 s of the song, and every song frame of sound played, from the
  # first: none played as silence, at the start or later.
  local waited=0
  while [ ! -e "$played" ] && [ -e "$played.part" ] && [ $waited -lt 300 ]; do
    sleep 0.1
    waited=$((waited + 1))
  done
  if [ ! -s "$played" ]; then
    fail "$name: nothing was played"
  elif "$PLAYED_COMPARE" "$played" "$E2E_TMP/song.wav" 441000 0 >"$E2E_TMP/played.out"; then
    cat "$E2E_TMP/played.out"
    pass "$name: what waveOut played is the song as render-song renders it, from its first frame"
  else
    cat "$E2E_TMP/played.out"
    fail "$name: what waveOut played differs from the song"
  fi
}

first=yes
for name in ${desktops//,/ }; do
  if [ -z "$first" ] || [ "$name" = letterbox ]; then
    # A desktop of its own: Wine's processes go with the X server they
    # started on.
    end_wine
    stop_xvfb
    if [ "$name" = letterbox ]; then start_xvfb 1280x1024; else start_xvfb 1920x1080; fi
  fi
  first=""
  [ "$name" = openbox ] && start_openbox
  desktop_start=$(now_ms)
  run_desktop "$name"
  echo "$name took $(($(now_ms) - desktop_start)) ms"
  if [ "$name" = openbox ]; then
    end_wine
    kill "$OPENBOX_PID" 2>/dev/null
    wait "$OPENBOX_PID" 2>/dev/null
  fi
done

echo "the whole test took $(($(now_ms) - test_start)) ms"
[ "$E2E_FAILURES" -eq 0 ]
