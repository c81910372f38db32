#!/usr/bin/env bash
# End to end on a small Xvfb screen (320x240x24), where the demo covers the
# desktop at its own mode and shows the frame scaled down to 320x180 between
# two black bars (drawn at --scale 6, so that llvmpipe keeps up):
#  - in a read-only working directory the demo starts, its picture fills the
#    screen's width, it writes no log, and ends with exit code 0 on Escape;
#  - SIGTERM still ends it (SDL's signal handlers are kept out);
#  - a window resized to 32767x32767 (beyond what GL can draw) is brought
#    back to the largest size GL can draw, and the demo goes on; its window
#    destroyed by another client ends it with one "demo:" line that says so
#    and exit code 0, a killed X server with one "demo:" line and exit code
#    1, never an abort;
#  - without a display (none set, or one that cannot be opened, which the
#    line names), with an OpenGL context that offers neither 4.1
#    nor ARB_separate_shader_objects, and with a scene shader that does not
#    build (DEMO_BROKEN_SHADER: the demo with such a shader), start-up fails
#    with one clear line on stderr and exit code 1.
# usage: e2e_small_screen.sh DEMO SCREEN_CHECK DEMO_BROKEN_SHADER
source "$(dirname "$0")/e2e_lib.sh"
paths_from_args DEMO SCREEN_CHECK DEMO_BROKEN_SHADER -- "$@"

start_xvfb 320x240

# A working directory where ./ShaderLog.txt cannot be created. Root ignores
# permission bits, so as root (as in CI) a directory of the read-only /proc
# file system stands in.
readonly_dir="$E2E_TMP/readonly"
mkdir "$readonly_dir"
chmod 555 "$readonly_dir"
if touch "$readonly_dir/probe" 2>/dev/null; then
  rm -f "$readonly_dir/probe"
  readonly_dir=/proc/self/fdinfo
  if touch "$readonly_dir/probe" 2>/dev/null; then
    echo "FAIL: no read-only directory found"; exit 1
  fi
fi
echo "read-only working directory: $readonly_dir"

screenshot "$E2E_TMP/before.xwd"
start=$(now_ms)
start_demo "$readonly_dir" "$DEMO" --scale 6
wait_filled 320 240 "$start" 60000
if [ -n "$FILLED" ]; then
  pass "read-only directory: the demo runs, its picture fills the 320x240 desktop (at ${FILLED} ms)"
else
  fail "read-only directory: no picture over the whole screen: $(cat "$E2E_TMP/check.out")"
  cat "$E2E_TMP/demo.out"
fi
xdotool key Escape
wait_exit "$demo" 60
if [ "$EXIT_CODE" = 0 ]; then
  pass "read-only directory: Escape ends the demo with exit code 0"
else
  fail "read-only directory: the demo ended with: $EXIT_CODE"; cat "$E2E_TMP/demo.out"
fi
if [ -e "$readonly_dir/ShaderLog.txt" ]; then
  fail "a ShaderLog.txt appeared in the read-only directory"
fi

# SIGTERM ends the demo at once, as its default action.
start_demo "$work" "$DEMO" --scale 6
sleep 3
kill -TERM "$demo"
wait_exit "$demo" 10
if [ "$EXIT_CODE" = 143 ]; then
  pass "SIGTERM ends the demo"
else
  fail "after SIGTERM the demo ended with: $EXIT_CODE"
fi

# An OpenGL context without separate shader objects: one line, exit code 1.
start_demo "$work" MESA_GL_VERSION_OVERRIDE=3.0 MESA_EXTENSION_OVERRIDE=-GL_ARB_separate_shader_objects "$DEMO"
wait_exit "$demo" 30
if [ "$EXIT_CODE" = 1 ] && grep -q "demo: cannot start: .*separate_shader_objects" "$E2E_TMP/demo.out"; then
  pass "an OpenGL 3.0 context without ARB_separate_shader_objects: $(cat "$E2E_TMP/demo.out")"
else
  fail "with an OpenGL 3.0 context: exit $EXIT_CODE, output: $(cat "$E2E_TMP/demo.out")"
fi

# A scene shader that does not build: the log is written, then one line
# pointing at it and exit code 1; without the log, the line quotes its first
# line.
start_demo "$work" "$DEMO_BROKEN_SHADER"
wait_exit "$demo" 60
if ended_with_one_line '^demo: cannot start: the scene shader did not build; see \./ShaderLog\.txt$' &&
   grep -q "colourThatIsNeverDefined" "$work/ShaderLog.txt"; then
  pass "a scene shader that does not build: $(cat "$E2E_TMP/demo.out")"
else
  fail "with a scene shader that does not build: exit $EXIT_CODE, output: $(cat "$E2E_TMP/demo.out")"
fi
start_demo "$readonly_dir" "$DEMO_BROKEN_SHADER"
wait_exit "$demo" 60
if ended_with_one_line "^demo: cannot start: the scene shader did not build: .*colourThatIsNeverDefined"; then
  pass "a scene shader that does not build, no log file: $(cat "$E2E_TMP/demo.out")"
else
  fail "with a scene shader that does not build and no log file: exit $EXIT_CODE, output: $(cat "$E2E_TMP/demo.out")"
fi

# A window resized far beyond what GL can draw (no window manager runs, so
# the X server takes the size as asked): the demo brings it back to the
# largest size GL can draw and goes on. Made small again, Escape ends it.
start_demo "$work" "$DEMO" --window 160x90 --scale 6
window=$(demo_window "$demo" 60)
xdotool windowsize "$window" 32767 32767
start=$(now_ms)
size=$(window_size "$window")
while [ "$size" = 32767x32767 ] && kill -0 "$demo" 2>/dev/null && [ $(($(now_ms) - start)) -lt 120000 ]; do
  sleep 0.2
  size=$(window_size "$window")
done
if kill -0 "$demo" 2>/dev/null && [ -n "$size" ] && [ "$size" != 32767x32767 ]; then
  pass "resized to 32767x32767: the demo runs on in a window brought back to $size"
else
  fail "resized to 32767x32767: window '$window' is $size; output: $(cat "$E2E_TMP/demo.out")"
fi
xdotool windowsize "$window" 160 90
xdotool key Escape
wait_exit "$demo" 120
if [ "$EXIT_CODE" = 0 ]; then
  pass "after the resize Escape ends the demo with exit code 0"
else
  fail "after the resize the demo ended with: $EXIT_CODE; output: $(cat "$E2E_TMP/demo.out")"
fi

# The window destroyed by another client (the X errors about it are the
# demo's cue): exit code 0 and one line that says so; a killed X server:
# exit code 1 and one line of the demo's own; Xlib's words not added.
for what in destroyed server; do
  start_demo "$work" "$DEMO" --window 160x90 --scale 6
  window=$(demo_window "$demo" 60)
  if [ "$what" = destroyed ]; then
    xdotool windowclose "$window"
    expected="^demo: the window was closed by another program$"
  else
    dead_display=$DISPLAY
    stop_xvfb
    expected="^demo: the connection to the X display '$DISPLAY' was lost$"
  fi
  wait_exit "$demo" 60
  if [ "$what" = destroyed ] && [ "$EXIT_CODE" = 0 ] &&
     [ "$(grep -cvxF "$FLASH_WARNING" "$E2E_TMP/demo.out")" = 1 ] && grep -q "$expected" "$E2E_TMP/demo.out"; then
    pass "window destroyed: exit code 0: $(cat "$E2E_TMP/demo.out")"
  elif [ "$what" = server ] && ended_with_one_line "$expected"; then
    pass "X $what: exit code 1: $(cat "$E2E_TMP/demo.out")"
  else
    fail "X $what: exit $EXIT_CODE, output: $(cat "$E2E_TMP/demo.out")"
  fi
done

# No display at all, and one that cannot be opened (the killed server's).
# (Other lines may come from the window-system libraries that SDL tries.)
start_demo "$work" -u DISPLAY -u WAYLAND_DISPLAY "$DEMO"
wait_exit "$demo" 30
if ended_with_one_line "^demo: cannot start: no display: neither DISPLAY nor WAYLAND_DISPLAY is set" demo; then
  pass "without a display: $(cat "$E2E_TMP/demo.out")"
else
  fail "without a display: exit $EXIT_CODE, output: $(cat "$E2E_TMP/demo.out")"
fi
start_demo "$work" -u WAYLAND_DISPLAY DISPLAY="$dead_display" "$DEMO"
wait_exit "$demo" 30
if ended_with_one_line "^demo: cannot start: no display: the X display '$dead_display' could not be opened" demo; then
  pass "with a display that cannot be opened: $(grep '^demo:' "$E2E_TMP/demo.out")"
else
  fail "with a display that cannot be opened: exit $EXIT_CODE, output: $(cat "$E2E_TMP/demo.out")"
fi

[ "$E2E_FAILURES" -eq 0 ]
