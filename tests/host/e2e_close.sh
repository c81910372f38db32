#!/usr/bin/env bash
# End to end, the demo's window closed by others (Xvfb 640x480 with the
# openbox window manager; Mesa's llvmpipe; `--window 320x180 --scale 6`):
#  - the window manager's close (_NET_CLOSE_WINDOW, which openbox turns into
#    WM_DELETE_WINDOW, as for the close button and Alt+F4) ends the demo as
#    Escape does: exit code 0 at the frame loop's next look at its events (no
#    frame begun after the one in progress), nothing more on stderr than at
#    start;
#  - the window destroyed by another client ends it with exit code 0 and one
#    line, "demo: the window was closed by another program", not an X error.
# Each close is sent once the song is rendered (so that the frames are
# quick) and a frame has been shown; the time to the exit is printed.
# usage: e2e_close.sh DEMO_TRACE WINDOW_CLOSE
source "$(dirname "$0")/e2e_lib.sh"
paths_from_args DEMO_TRACE WINDOW_CLOSE -- "$@"
start_xvfb 640x480
start_openbox
trace="$E2E_TMP/trace.txt"

for how in request destroy; do
  start_demo --trace "$trace" "$work" "$DEMO_TRACE" --window 320x180 --scale 6
  window=$(demo_window "$demo" 60)
  start=$(now_ms)
  until ! kill -0 "$demo" 2>/dev/null || [ $(($(now_ms) - start)) -ge 300000 ] ||
        { grep -q "audio rendered 8240400 " "$trace" && [ "$(trace_last swapped "$trace")" -ge 1 ]; }; do
    sleep 0.2
  done
  drawn=$(grep -c ' drawn ' "$trace")
  close_at=$(now_ms)
  "$WINDOW_CLOSE" --$how "$window"
  wait_exit "$demo" 60
  took=$(($(now_ms) - close_at))
  begun=$(($(grep -c ' drawn ' "$trace") - drawn))
  lines=$(grep -E '^(demo:|Warning:)' "$trace")
  if [ $how = request ]; then
    if [ "$EXIT_CODE" = 0 ] && [ "$begun" -le 1 ] && grep -q ' escape$' "$trace" &&
       [ "$lines" = "Warning: at 106.5 s the whole screen flashes white." ]; then
      pass "the window manager's close ends the demo with exit code 0 in $took ms ($begun frame finished after it)"
    else
      fail "after the window manager's close: exit $EXIT_CODE after $took ms, $begun frames after it; $lines"
    fi
  else
    if [ "$EXIT_CODE" = 0 ] && [ "$begun" -le 1 ] &&
       [ "$(grep '^demo:' <<<"$lines")" = "demo: the window was closed by another program" ]; then
      pass "the window destroyed by another client: exit code 0 in $took ms, one line: $(grep '^demo:' <<<"$lines")"
    else
      fail "the window destroyed by another client: exit $EXIT_CODE after $took ms, $begun frames after it; $lines"
    fi
  fi
done
[ "$E2E_FAILURES" -eq 0 ]
