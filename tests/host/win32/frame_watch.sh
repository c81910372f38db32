# The demo's frames told apart by screenshots of the X screen: a frame is on
# the screen from its swap until the next. For each screenshot the times it
# was begun and finished are kept, so that a swap is placed between the start
# of the last screenshot without it and the end of the first with it.
# Sourced after tests/host/e2e_lib.sh (E2E_TMP, now_ms, screenshot). The
# demo's process id is in $demo and its start (now_ms) in $demo_start;
# $E2E_TMP/shot0.xwd is the screen before it started.

# wait_frame N LIMIT_S: waits, until LIMIT_S seconds after the demo's start,
# for the screen to differ from shotN-1; leaves the screenshot in shotN.xwd
# and sets FRAME_AFTER and FRAME_BEFORE (ms since the demo's start) around
# the swap that put it there. Fails when the demo ends or the time is up.
wait_frame() {
  local n=$1 limit=$2 begun ended last_begun
  last_begun=$(now_ms)
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

# Milliseconds as seconds; the window of the last frame's swap.
seconds() { printf '%d.%03d' $(($1 / 1000)) $(($1 % 1000)); }
shown() { echo "$(seconds "$FRAME_AFTER")-$(seconds "$FRAME_BEFORE") s after the start"; }
