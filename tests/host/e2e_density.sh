#!/usr/bin/env bash
# End to end `demo --density 2` on a 3840x2160 desktop (Xvfb, llvmpipe, where
# such a frame takes a minute):
#  - every screen pixel is its own sample: a band of the screen is, pixel for
#    pixel, `capture --density 2` of that band at the frame's time;
#  - the one line that says the GPU cannot keep up comes, once.
# (Escape would be heard only after the frame being drawn, another minute:
# the other runs check it; this one ends with SIGTERM.)
# usage: e2e_density.sh DEMO_TRACE CAPTURE SCREEN_COMPARE
source "$(dirname "$0")/e2e_lib.sh"
paths_from_args DEMO_TRACE CAPTURE SCREEN_COMPARE -- "$@"

start_xvfb 3840x2160
trace="$E2E_TMP/trace.txt"
start_demo --trace "$trace" "$work" "$DEMO_TRACE" --density 2

# The second frame (the first is still faded to black).
frame_shot "$trace" "$E2E_TMP/shot.xwd" 0 600 1
if [ -z "$SHOT_FRAME" ]; then
  fail "no second frame within 600 s"; tail -5 "$trace"; exit 1
fi
echo "frame $SHOT_FRAME at $(seconds "$SHOT_MS") s on the screen"
if "$CAPTURE" --quiet --density 2 --time "$(seconds "$SHOT_MS")" --rect 0,1060,1920,40 \
     --out "$E2E_TMP/band.png" &&
   "$SCREEN_COMPARE" "$E2E_TMP/shot.xwd" "$E2E_TMP/band.png" --frame-origin 0,1060; then
  pass "each screen pixel is the density's own sample, as capture --density 2 draws it"
else
  fail "the screen differs from capture --density 2"
fi

start=$(now_ms)
while kill -0 "$demo" 2>/dev/null && ! grep -q "cannot keep up" "$trace" && [ $(($(now_ms) - start)) -lt 300000 ]; do
  sleep 1
done
hints=$(grep -c "cannot keep up" "$trace")
if [ "$hints" = 1 ]; then
  pass "one line says so: $(grep "cannot keep up" "$trace")"
else
  fail "$hints lines say that the GPU cannot keep up"
fi

kill -TERM "$demo"
wait_exit "$demo" 60
[ "$E2E_FAILURES" -eq 0 ]
