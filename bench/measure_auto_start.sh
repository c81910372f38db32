#!/usr/bin/env bash
# Measures how `--scale auto` starts: runs demo-trace --scale auto --window
# WIDTHxHEIGHT (default 640x360) under an Xvfb of that size for SECONDS
# (default 30) and prints, for each of the first frames, when it began (ms
# after the frame loop's first frame began), its scale and the time from its
# start to the end of its drawing; then the frames begun in those seconds,
# and the scales in the order they were drawn with the time each was first
# reached. A measuring tool, not a test.
# usage: measure_auto_start.sh DEMO_TRACE [SECONDS] [WIDTHxHEIGHT] [FIRST_FRAMES]
DEMO_TRACE=$(realpath "$1")
SECONDS_TO_RUN=${2:-30}
SCREEN=${3:-640x360}
FIRST=${4:-8}
source "$(dirname "$0")/../tests/host/e2e_lib.sh"

start_xvfb "$SCREEN"
echo "screen $SCREEN, $(nproc) cores, load before: $(cut -d' ' -f1-3 /proc/loadavg)"
(cd "$E2E_TMP" && SDL_AUDIODRIVER=dummy exec "$DEMO_TRACE" --scale auto --window "$SCREEN") \
  2>"$E2E_TMP/trace.txt" >/dev/null &
trace=$!
E2E_PIDS+=("$trace")
# The run's seconds count from the first frame, not from the start-up.
start=$(now_ms)
until grep -q ' frame 0 ' "$E2E_TMP/trace.txt" 2>/dev/null || [ $(($(now_ms) - start)) -gt 120000 ]; do
  sleep 0.2
done
sleep "$SECONDS_TO_RUN"
kill "$trace"
wait "$trace" 2>/dev/null
awk -v first="$FIRST" -v seconds="$SECONDS_TO_RUN" '
  $2 == "frame" && loop == "" { loop = $1 }
  $2 == "frame" && $1 - loop <= seconds * 1000 {
    begun[$3] = $1; scale[$3] = $5; frames++
    if ($5 != last) { order = order sep $5 " (" $1 - loop " ms)"; sep = ", "; last = $5 }
  }
  $2 == "drawn" && ($3 in begun) && $3 < first {
    printf "frame %d: begun at %d ms, scale %s, drawn in %d ms\n", $3, begun[$3] - loop, scale[$3], $1 - begun[$3]
  }
  END { printf "%d frames begun in the first %d s; scales: %s\n", frames, seconds, order }' "$E2E_TMP/trace.txt"
