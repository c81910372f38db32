#!/usr/bin/env bash
# End to end on a real X server with several modes (Xorg with the dummy video
# driver, its own configuration and display number; Mesa's llvmpipe, SDL's
# dummy sound driver):
#  - the desktop's mode, read with xrandr, is the same before, during and
#    after a run ended by Escape, SIGTERM, SIGINT (as Ctrl+C sends it),
#    SIGHUP and SIGKILL: the demo never changes it; nor where the keyboard
#    goes once it has ended (no window manager: the window under the
#    pointer);
#  - on a 1920x1440 desktop the full-screen window is titled "demo" (WM_NAME
#    and _NET_WM_NAME) and the screen shows the frame letterboxed: black
#    bands of 180 rows above and below, between them the frame exactly as
#    the offscreen capture draws it at the frame's time (demo-trace logs each
#    frame's timeMs); the slow first frames bring the one-line hint;
#  - `--window 480x270 --scale 4`: the window shows the frame drawn at
#    480x270 pixel for pixel, each pixel the full-resolution capture's pixel
#    at its place, at three times 10 s apart; resized to 480x400 the window
#    letterboxes it too;
#  - on a 1920x1080 desktop every screen pixel equals the capture's pixel;
#  - bad options (--help with another, an option twice): exit code 2, one
#    line on stderr, and the X server saw no connection from the process;
#    --help prints the options.
# usage: e2e_desktop.sh DEMO DEMO_TRACE CAPTURE SCREEN_CHECK SCREEN_COMPARE
source "$(dirname "$0")/e2e_lib.sh"
paths_from_args DEMO DEMO_TRACE CAPTURE SCREEN_CHECK SCREEN_COMPARE -- "$@"

start_xorg 1920x1440 1920x1080 1280x720
desktop=$(desktop_mode)
echo "X server $DISPLAY: $desktop"
if [ "$desktop" != "screen 1920x1440, mode 1920x1440" ]; then
  fail "the test's X server did not start at 1920x1440"; exit 1
fi

# 1. Bad options and --help: nothing starts.
for bad in "--scale 5" "--scale" "--window 0x0" "--fullscreen" "--scale 2 extra" "--help --window" \
           "--window --window"; do
  # shellcheck disable=SC2086
  "$DEMO" $bad >"$E2E_TMP/out" 2>"$E2E_TMP/err" &
  pid=$!
  wait_exit "$pid" 20
  if [ "$EXIT_CODE" = 2 ] && [ "$(wc -l <"$E2E_TMP/err")" = 1 ] && [ ! -s "$E2E_TMP/out" ] &&
     ! connected_pids | grep -qx "$pid"; then
    pass "demo $bad: exit code 2, no connection to the display: $(cat "$E2E_TMP/err")"
  else
    fail "demo $bad: exit $EXIT_CODE, stderr: $(cat "$E2E_TMP/err"), connected: $(connected_pids | grep -cx "$pid")"
  fi
done
"$DEMO" --help >"$E2E_TMP/out" 2>"$E2E_TMP/err" &
pid=$!
wait_exit "$pid" 20
if [ "$EXIT_CODE" = 0 ] && grep -q -- "--scale auto" "$E2E_TMP/out" && grep -q -- "--window" "$E2E_TMP/out" &&
   [ ! -s "$E2E_TMP/err" ] && ! connected_pids | grep -qx "$pid"; then
  pass "demo --help lists the options and opens nothing"
else
  fail "demo --help: exit $EXIT_CODE, $(head -3 "$E2E_TMP/out") $(cat "$E2E_TMP/err")"
fi

# 2. However the process ends, the desktop keeps its mode and its keyboard
#    focus (without a window manager PointerRoot, 1: the keys go to the
#    window under the pointer; None, 0, would leave them unheard). A script's
#    background job starts with SIGINT ignored; env gives it back the default
#    action that a terminal's Ctrl+C meets.
focus=$(xdotool getwindowfocus -f 2>/dev/null)
[ -n "$focus" ] || fail "xdotool could not read the keyboard focus"
for end in Escape TERM INT HUP KILL; do
  start_demo --trace "$E2E_TMP/trace.txt" "$work" --default-signal=INT "$DEMO_TRACE" --scale 6
  frame_shot "$E2E_TMP/trace.txt" "$E2E_TMP/shot.xwd" 0 120
  during=$(desktop_mode)
  if [ -z "$SHOT_FRAME" ]; then
    fail "ended by $end: no frame within 120 s"; grep -v audio "$E2E_TMP/trace.txt" | tail -5
  fi
  case $end in
    Escape) xdotool key Escape; expected=0 ;;
    TERM) kill -TERM "$demo"; expected=143 ;;
    INT) kill -INT "$demo"; expected=130 ;;
    HUP) kill -HUP "$demo"; expected=129 ;;
    KILL) kill -KILL "$demo"; expected=137 ;;
  esac
  wait_exit "$demo" 60
  after=$(desktop_mode)
  focus_after=$(xdotool getwindowfocus -f 2>/dev/null)
  if [ "$EXIT_CODE" = "$expected" ] && [ "$during" = "$desktop" ] && [ "$after" = "$desktop" ] &&
     [ "$focus_after" = "$focus" ]; then
    pass "ended by $end (exit code $EXIT_CODE): before, during and after: $after; keyboard focus $focus_after"
  else
    fail "ended by $end: exit $EXIT_CODE (expected $expected); during: $during; after: $after;" \
         "keyboard focus $focus_after, before $focus"
  fi
done

# 3. The letterbox on 1920x1440, at full resolution. The frame shot is one
#    after the fade-in (5.4 s).
start_demo --trace "$E2E_TMP/trace.txt" "$work" "$DEMO_TRACE"
frame_shot "$E2E_TMP/trace.txt" "$E2E_TMP/letterbox.xwd" 5400 400
during=$(desktop_mode)
# The full-screen window has the title that task switchers show.
window=$(demo_window "$demo" 10)
titles=$([ -n "$window" ] && xprop -id "$window" WM_NAME _NET_WM_NAME)
if grep -qx 'WM_NAME(\(STRING\|UTF8_STRING\)) = "demo"' <<<"$titles" &&
   grep -qx '_NET_WM_NAME(UTF8_STRING) = "demo"' <<<"$titles"; then
  pass "the full-screen window is titled demo"
else
  fail "the full-screen window's title: ${titles:-no window titled demo}"
fi
kill -TERM "$demo"
wait_exit "$demo" 60
hints=$(grep -c -- "--scale auto" "$E2E_TMP/trace.txt")
if [ "$hints" = 1 ]; then
  pass "slow first frames at full resolution: $(grep -- "--scale auto" "$E2E_TMP/trace.txt")"
else
  fail "slow first frames: $hints lines name --scale auto"
fi
if [ -z "$SHOT_FRAME" ]; then
  fail "1920x1440: no frame after the fade-in within 400 s"; grep -v audio "$E2E_TMP/trace.txt" | tail -5
else
  echo "frame $SHOT_FRAME at $(seconds "$SHOT_MS") s; desktop during the run: $during"
  "$CAPTURE" --time "$(seconds "$SHOT_MS")" --out "$E2E_TMP/letterbox.png" --quiet
  if "$SCREEN_COMPARE" "$E2E_TMP/letterbox.xwd" "$E2E_TMP/letterbox.png" --place 0,180 --bars \
       --ppm "$E2E_TMP/letterbox.ppm"; then
    pass "1920x1440: the frame between bands of 180 black rows, as the capture draws it"
  else
    fail "1920x1440: the screen is not the letterboxed capture"
  fi
fi

# 4. An ordinary window at scale 4: 480x270 pixels drawn, shown one to one.
start_demo --trace "$E2E_TMP/trace.txt" "$work" "$DEMO_TRACE" --window 480x270 --scale 4
# Three frames at least 10 s apart, the first after the fade-in: on
# llvmpipe they fall in the first two scenes (the second begins at 27 s).
times=()
min=5400
for index in 0 1 2; do
  frame_shot "$E2E_TMP/trace.txt" "$E2E_TMP/window-$index.xwd" "$min" 200
  if [ -z "$SHOT_FRAME" ]; then
    fail "--window: no frame after $min ms"; break
  fi
  times+=("$SHOT_MS")
  min=$((SHOT_MS + 10000))
done
window=$(xdotool search --name '^demo$' | head -1)
place=$(xdotool getwindowgeometry --shell "$window" | awk -F= '{ v[$1] = $2 }
  END { print v["X"] "," v["Y"] " " v["WIDTH"] "x" v["HEIGHT"] }')
echo "window $window at ${place% *}, ${place#* }"
[ "${place#* }" = "480x270" ] || fail "--window 480x270 made a ${place#* } window"
# Resized: the frame keeps its shape, bands of 65 rows above and below.
xdotool windowsize "$window" 480 400
sleep 0.5
resized_from=$(($(trace_last swapped "$E2E_TMP/trace.txt") + 2))
frame_shot "$E2E_TMP/trace.txt" "$E2E_TMP/resized.xwd" 0 120 "$resized_from"
resized_ms=$SHOT_MS
kill -TERM "$demo"
wait_exit "$demo" 60
if [ ${#times[@]} = 3 ] && [ -n "$resized_ms" ]; then
  list=""
  for ms in "${times[@]}" "$resized_ms"; do list+="${list:+,}$(seconds "$ms")"; done
  mkdir "$E2E_TMP/frames"
  "$CAPTURE" --time "$list" --out "$E2E_TMP/frames" --quiet
  x=${place%%,*}
  y=${place#*,}; y=${y%% *}
  index=0
  for ms in "${times[@]}"; do
    if "$SCREEN_COMPARE" "$E2E_TMP/window-$index.xwd" "$E2E_TMP/frames/$(frame_png "$ms")" \
         --scale 4 --place "$x,$y" --bars; then
      pass "--scale 4 at $(seconds "$ms") s: every drawn pixel is the full-resolution pixel at its place"
    else
      fail "--scale 4 at $(seconds "$ms") s: the drawn pixels differ from the full frame's"
    fi
    index=$((index + 1))
  done
  # The root window is black (-br): everything but the frame must be.
  if "$SCREEN_COMPARE" "$E2E_TMP/resized.xwd" "$E2E_TMP/frames/$(frame_png "$resized_ms")" \
       --scale 4 --place "$x,$((y + 65))" --bars --ppm "$E2E_TMP/resized.ppm"; then
    pass "--window resized to 480x400: the frame between black bands of 65 rows, pixel for pixel"
  else
    fail "--window resized to 480x400: the frame is not in its place"
  fi
fi
after=$(desktop_mode)
[ "$after" = "$desktop" ] || fail "after the window runs the desktop is $after"
stop_xorg

# 5. A 1920x1080 desktop: the screen is the frame.
start_xorg 1920x1080 1920x1440 1280x720
desktop=$(desktop_mode)
echo "X server $DISPLAY: $desktop"
start_demo --trace "$E2E_TMP/trace.txt" "$work" "$DEMO_TRACE"
frame_shot "$E2E_TMP/trace.txt" "$E2E_TMP/full.xwd" 5400 400
kill -TERM "$demo"
wait_exit "$demo" 60
after=$(desktop_mode)
if [ -z "$SHOT_FRAME" ]; then
  fail "1920x1080: no frame after the fade-in within 400 s"
else
  "$CAPTURE" --time "$(seconds "$SHOT_MS")" --out "$E2E_TMP/full.png" --quiet
  if "$SCREEN_COMPARE" "$E2E_TMP/full.xwd" "$E2E_TMP/full.png" && [ "$after" = "$desktop" ]; then
    pass "1920x1080: every screen pixel is the capture's pixel at $(seconds "$SHOT_MS") s; desktop: $after"
  else
    fail "1920x1080: the screen differs from the capture (desktop after: $after)"
  fi
fi

# Pictures to look at: DEMO_E2E_KEEP=DIR keeps the screenshots as PPM files.
if [ -n "${DEMO_E2E_KEEP:-}" ]; then
  mkdir -p "$DEMO_E2E_KEEP"
  cp "$E2E_TMP"/*.ppm "$DEMO_E2E_KEEP"/ 2>/dev/null
  "$SCREEN_CHECK" "$E2E_TMP/full.xwd" 1920 1080 "$DEMO_E2E_KEEP/full.ppm" >/dev/null
  "$SCREEN_CHECK" "$E2E_TMP/window-0.xwd" 1920 1440 "$DEMO_E2E_KEEP/window.ppm" >/dev/null
fi

[ "$E2E_FAILURES" -eq 0 ]
