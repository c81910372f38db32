#!/usr/bin/env bash
# End to end `--scale auto` on llvmpipe (Xvfb 640x360x24), where a full
# frame takes seconds: the scale steps one at a time, 1, 864p, 720p, 2, 3,
# 4, 6, until the coarsest, without the hint that fixed full resolution
# gets; and the
# sound that SDL's disk driver wrote while the scale changed is the song as
# render-song renders it, frame for frame, from the start to the Escape.
# usage: e2e_auto_scale.sh DEMO_TRACE RENDER_SONG AUDIO_COMPARE
source "$(dirname "$0")/e2e_lib.sh"
paths_from_args DEMO_TRACE RENDER_SONG AUDIO_COMPARE -- "$@"

SONG_FRAMES=$(song_frames "$RENDER_SONG") || exit 1
start_xvfb 640x360
trace="$E2E_TMP/trace.txt"
start_demo --trace "$trace" "$work" SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILE="$work/played.raw" "$DEMO_TRACE" --scale auto
start=$(now_ms)

# The scale of each frame is the last field of demo-trace's "frame" lines.
frames_at() {
  awk -v s="$1" '$2 == "frame" && $5 == s { n++ } END { print n + 0 }' "$trace"
}
while kill -0 "$demo" 2>/dev/null && [ $(($(now_ms) - start)) -lt 400000 ] && [ "$(frames_at 6)" -lt 3 ]; do
  sleep 1
done
reached=$(($(now_ms) - start))
xdotool key Escape
wait_exit "$demo" 60
if [ "$EXIT_CODE" = 0 ]; then
  pass "--scale auto: Escape ends the demo with exit code 0"
else
  fail "--scale auto: the demo ended with: $EXIT_CODE"
fi

steps=$(awk '$2 == "frame" && $5 != last { printf "%s%s", sep, $5; sep = " "; last = $5 }' "$trace")
echo "scales in order: $steps; per scale, frames and mean ms from frame to frame:"
awk '$2 == "frame" { if (s != "") { n[s]++; sum[s] += $1 - t } s = $5; t = $1 }
     END { for (k in n) printf "  scale %s: %d frames, %.0f ms\n", k, n[k], sum[k] / n[k] }' "$trace" | sort -n -k2
if [ "$steps" = "1 864p 720p 2 3 4 6" ]; then
  pass "--scale auto steps one scale at a time to the coarsest: $steps (after ${reached} ms)"
else
  fail "--scale auto went through the scales: '$steps'"
fi
if grep -q -- "--scale auto" "$trace"; then
  fail "--scale auto printed the hint meant for a fixed full resolution"
fi

played_frames=$(( $(stat -c %s "$work/played.raw" 2>/dev/null || echo 0) / 8 ))
echo "played: $played_frames frames ($((played_frames / 44100)) s)"
frames=$(( played_frames + 4 * 44100 < SONG_FRAMES ? played_frames + 4 * 44100 : SONG_FRAMES ))
if [ "$played_frames" -gt 0 ] && "$RENDER_SONG" --out "$work/rendered.wav" --frames "$frames" >/dev/null &&
   # At least 10 s played, at most one device buffer of the song's start
   # played as silence, and up to 4 skips of under 1 s where the process was
   # starved (as in tests/audio/e2e_audio.sh).
   "$AUDIO_COMPARE" "$work/played.raw" "$work/rendered.wav" 441000 1024 4 44099; then
  pass "the sound played while the scale changed is the song as rendered, frame for frame"
else
  fail "the sound played under --scale auto differs from the rendered song"
fi

[ "$E2E_FAILURES" -eq 0 ]
