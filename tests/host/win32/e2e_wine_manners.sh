#!/usr/bin/env bash
# demo.exe's options and its manners as a Windows program, under Wine on one
# Xvfb desktop (1280x1024x24) with the openbox window manager, one prefix for
# every run; nothing forces the keyboard focus:
#  - --window 320x180 --scale 6: a window titled "demo" with the demo's icon,
#    a client area of 320x180, and the keyboard (X's input focus) from its
#    start; the window manager's close (_NET_CLOSE_WINDOW, as a task bar
#    sends it) ends it with exit code 0 at the frame loop's next look at its
#    messages: within 2 s of the end of the frame being drawn;
#  - --window 320x180 --scale auto: the frames settle at a scale that fits:
#    a frame comes four times faster than the first two (which carry the
#    window's own start), which a frame at full resolution, however the
#    scene changes, never does;
#  - a refused argument: a message box titled "demo", exit code 2 after OK,
#    and the Linux build's line on stderr;
#  - a failed start-up (an OpenGL 3.0 context without separate shader
#    objects, as Mesa is told to offer): a message box, exit code 1, and the
#    Linux build's words.
# usage: e2e_wine_manners.sh PACED_SINK WINDOW_CLOSE DEMO DEMO_EXE [--skip-if-missing]
if [ $# -lt 4 ]; then
  echo "usage: $0 PACED_SINK WINDOW_CLOSE DEMO DEMO_EXE [--skip-if-missing]" >&2
  exit 2
fi
if [ ! -f "$4" ]; then
  if [ "${5:-}" = --skip-if-missing ]; then
    echo "SKIP: there is no $4; build it with"
    echo "  cmake -S . -B build-windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake && cmake --build build-windows"
    exit 77
  fi
  echo "FAIL: there is no $4 (the Windows build)"
  exit 1
fi
source "$(dirname "$0")/../e2e_lib.sh"
paths_from_args PACED_SINK WINDOW_CLOSE DEMO DEMO_EXE -- "$@"
source "$(dirname "$0")/wine_lib.sh"
source "$(dirname "$0")/frame_watch.sh"
test_start=$(now_ms)
wine_env "$PACED_SINK" "$work/played.raw"
start_xvfb 1280x1024
start_openbox
make_prefix

# start_exe ARG...: demo.exe in the background (demo, demo_start).
start_exe() {
  rm -f "$work/played.raw"
  demo_start=$(now_ms)
  (cd "$work" && exec wine "$DEMO_EXE" "$@") >"$E2E_TMP/demo.out" 2>"$E2E_TMP/demo.err" &
  demo=$!
  E2E_PIDS+=("$demo")
}
# Ends Wine's processes of the last run, the box of a failed one included.
end_wine_demo() {
  timeout 30 wineserver -k 2>/dev/null
  timeout 30 wineserver -w 2>/dev/null
}
# The lines of demo.exe's stderr that are its own (not ALSA's or Wine's),
# without the carriage returns of Windows' text output.
own_lines() {
  tr -d '\r' <"$E2E_TMP/demo.err" | grep -E '^(demo:|Warning:)'
}

# 1. The window: title, icon, size, keyboard, and the window manager's close.
start_exe --window 320x180 --scale 6
window=$(demo_window "$demo" 60)
if [ -z "$window" ]; then
  fail "--window: no window titled 'demo' within 60 s"; cat "$E2E_TMP/demo.err"; exit 1
fi
# Two changes of the screen once the window is there: the frame loop runs.
sleep 1
screenshot "$E2E_TMP/shot0.xwd"
# Three changes of the screen once the window is there: the frame loop
# runs, and the time between the last two is about one frame's.
frame_ms=0
if wait_frame 1 300 && wait_frame 2 300 && previous=$FRAME_BEFORE && wait_frame 3 300; then
  frame_ms=$((FRAME_BEFORE - previous))
  echo "frames shown until $(shown), about $frame_ms ms apart"
else
  fail "--window: no frames within 300 s"
fi
focus=$(xdotool getwindowfocus 2>/dev/null)
size=$(window_size "$window")
icon=$(xprop -id "$window" _NET_WM_ICON 2>/dev/null | grep -c 'Icon (')
if [ "$focus" = "$window" ] && [ "$size" = 320x180 ] && [ "$icon" -ge 1 ]; then
  pass "--window 320x180: titled 'demo', $icon icon sizes, ${size}, the keyboard its own"
else
  fail "--window 320x180: focus on $focus (the window is $window), size $size, $icon icons"
fi
[ -n "${DEMO_E2E_KEEP:-}" ] && mkdir -p "$DEMO_E2E_KEEP" && cp "$E2E_TMP/shot2.xwd" "$DEMO_E2E_KEEP/wine-window.xwd"
close_at=$(now_ms)
"$WINDOW_CLOSE" --request "$window"
wait_exit "$demo" 60
closed_in=$(($(now_ms) - close_at))
# The close is seen when the frame being drawn is done: within 2 s of that.
if [ "$EXIT_CODE" = 0 ] && [ "$closed_in" -le $((2000 + frame_ms)) ]; then
  pass "--window: the window manager's close ends demo.exe with exit code 0 in $closed_in ms (a frame takes about $frame_ms ms)"
else
  fail "--window: after the window manager's close: exit $EXIT_CODE after $closed_in ms"; cat "$E2E_TMP/demo.err"
fi
if [ "$(own_lines)" = "Warning: at 106.5 s the whole screen flashes white." ]; then
  pass "the flash is warned of on stderr: $(own_lines)"
else
  fail "demo.exe's own lines on stderr: $(own_lines)"
fi

# 2. --scale auto: the frames come at the pace of a coarse scale. The time
#    between the first two screen changes seen is taken as the first frame's
#    (the window's own changes and the first frame's start-up are in it); the
#    run goes on until a frame takes a quarter of that.
start_exe --window 320x180 --scale auto
window=$(demo_window "$demo" 60)
sleep 1
screenshot "$E2E_TMP/shot0.xwd"
n=0
times=()
first=0
latest=0
while [ $n -lt 400 ] && wait_frame $((n + 1)) 400; do
  n=$((n + 1))
  rm -f "$E2E_TMP/shot$((n - 1)).xwd"
  times+=("$FRAME_BEFORE")
  if [ $n -ge 3 ]; then
    latest=$((times[n - 1] - times[n - 2]))
    [ $n = 3 ] && first=$latest
    [ $((latest * 4)) -le "$first" ] && break
  fi
done
kill "$demo" 2>/dev/null
wait_exit "$demo" 30
end_wine_demo
if [ $n -ge 4 ] && [ $((latest * 4)) -le "$first" ]; then
  pass "--scale auto: frames $(seconds "$first") s apart at first, $(seconds "$latest") s by $(seconds "${times[n - 1]}") s after the start (frame $n)"
else
  fail "--scale auto: $n frames, shown at ${times[*]} ms: never four times faster than at first"
fi

# 3. A refused argument and a failed start-up: a message box each, with the
#    Linux build's words, and the exit codes 2 and 1.
"$DEMO" --scale 9 2>"$E2E_TMP/linux.err" >/dev/null
linux_refusal=$(cat "$E2E_TMP/linux.err")
linux_failure="demo: cannot start: the OpenGL context offers neither OpenGL 4.1 nor GL_ARB_separate_shader_objects"
for case in refused failed; do
  if [ $case = refused ]; then
    start_exe --scale 9
    expected_code=2 expected_line=$linux_refusal
  else
    export MESA_GL_VERSION_OVERRIDE=3.0 MESA_EXTENSION_OVERRIDE=-GL_ARB_separate_shader_objects
    start_exe --window 320x180
    unset MESA_GL_VERSION_OVERRIDE MESA_EXTENSION_OVERRIDE
    expected_code=1 expected_line=$linux_failure
  fi
  # The box: a visible window titled "demo" that is not the demo's own
  # 320x180 one (which is hidden before the box is shown).
  box=""
  start=$(now_ms)
  while [ -z "$box" ] && kill -0 "$demo" 2>/dev/null && [ $(($(now_ms) - start)) -lt 120000 ]; do
    for candidate in $(xdotool search --onlyvisible --name '^demo$' 2>/dev/null); do
      [ "$(window_size "$candidate")" != 320x180 ] && box=$candidate
    done
    [ -n "$box" ] || sleep 0.2
  done
  if [ -n "$box" ]; then
    [ $case = failed ] && [ -n "${DEMO_E2E_KEEP:-}" ] && screenshot "$DEMO_E2E_KEEP/wine-box.xwd"
    # Return as a user presses it, to whatever has the keyboard: the box
    # takes it when it appears. (xdotool's key sent to the box by name left
    # Return down in the X server once the box had gone at the press, and
    # its autorepeat closed the next box before it could be seen.)
    xdotool key Return 2>/dev/null
  fi
  wait_exit "$demo" 60
  line=$(own_lines | grep '^demo:')
  if [ -n "$box" ] && [ "$EXIT_CODE" = "$expected_code" ] && [ "$line" = "$expected_line" ]; then
    pass "$case: a message box, exit code $EXIT_CODE, the Linux build's words: $line"
  else
    fail "$case: box '$box', exit $EXIT_CODE, stderr: $line (expected: $expected_line)"
  fi
  end_wine_demo
done

echo "the whole test took $(($(now_ms) - test_start)) ms"
[ "$E2E_FAILURES" -eq 0 ]
