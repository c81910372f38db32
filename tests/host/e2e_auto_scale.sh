#!/usr/bin/env bash
# End to end `--scale auto --window 640x360` on llvmpipe (Xvfb 640x360x24),
# where a full frame takes seconds: the first frame, the probe, is drawn at
# the coarsest scale, and the frames after it at the scale that the probe's
# time predicts (the coarsest again here), none at the full frame; no hint
# meant for a fixed full resolution; and the sound that SDL's disk driver
# wrote meanwhile is the song as render-song renders it, frame for frame,
# from the start to the Escape.
# usage: e2e_auto_scale.sh DEMO_TRACE RENDER_SONG AUDIO_COMPARE
source "$(dirname "$0")/e2e_lib.sh"
paths_from_args DEMO_TRACE RENDER_SONG AUDIO_COMPARE -- "$@"

SONG_FRAMES=$(song_frames "$RENDER_SONG") || exit 1
start_xvfb 640x360
trace="$E2E_TMP/trace.txt"
start_demo --trace "$trace" "$work" SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILE="$work/played.raw" "$DEMO_TRACE" \
  --scale auto --window 640x360
start=$(now_ms)

# Frames drawn so far ("drawn K" lines) and seconds of sound played.
drawn() {
  awk '$2 == "drawn" { n++ } END { print n + 0 }' "$trace"
}
played_seconds() {
  echo $(( $(stat -c %s "$work/played.raw" 2>/dev/null || echo 0) / 8 / 44100 ))
}
# Four frames, and the 10 s of sound that the comparison needs with room.
while kill -0 "$demo" 2>/dev/null && [ $(($(now_ms) - start)) -lt 300000 ] &&
      { [ "$(drawn)" -lt 4 ] || [ "$(played_seconds)" -lt 12 ]; }; do
  sleep 0.5
done
xdotool key Escape
wait_exit "$demo" 60
if [ "$EXIT_CODE" = 0 ]; then
  pass "--scale auto: Escape ends the demo with exit code 0"
else
  fail "--scale auto: the demo ended with: $EXIT_CODE"
fi

# The scale of each frame is the last field of demo-trace's "frame" lines;
# the probe's time runs from its "frame 0" line to its "drawn 0" line. The
# scale it predicts: the finest whose frame takes, at the probe's time per
# pixel, less than 70% of 1/30 s (the coarsest where none does).
scales=$(awk '$2 == "frame" { printf "%s%s", sep, $5; sep = " " }' "$trace")
predicted=$(awk '
  $2 == "frame" && $3 == 0 { begun = $1 }
  $2 == "drawn" && $3 == 0 { probe = ($1 - begun) / 1000 / (320 * 180) }
  END {
    n = split("1920x1080 1536x864 1280x720 960x540 640x360 480x270 320x180", size, " ")
    split("1 864p 720p 2 3 4 6", name, " ")
    for (i = 1; i < n; i++) { split(size[i], wh, "x"); if (probe * wh[1] * wh[2] < 0.7 / 30) { print name[i]; exit } }
    print name[n]
  }' "$trace")
echo "scales of the frames in order: $scales (the probe predicts $predicted)"
awk '$2 == "frame" { if (s != "") { n[s]++; sum[s] += $1 - t } s = $5; t = $1 }
     END { for (k in n) printf "  scale %s: %d frames, %.0f ms from frame to frame\n", k, n[k], sum[k] / n[k] }' "$trace"
read -r -a each <<<"$scales"
if [ "${#each[@]}" -ge 4 ] && [ "${each[0]}" = 6 ] &&
   [ -z "$(printf '%s\n' "${each[@]:1:3}" | grep -vx -- "$predicted")" ]; then
  pass "--scale auto: the probe at 6, the next frames at the scale it predicts ($predicted): $scales"
else
  fail "--scale auto drew its first frames at: '$scales' (the probe predicts $predicted)"
fi
if printf '%s\n' "${each[@]}" | grep -qx 1; then
  fail "--scale auto drew a frame at the full frame on llvmpipe"
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
   # starved (as in tests/host/sdl/e2e_audio.sh).
   "$AUDIO_COMPARE" "$work/played.raw" "$work/rendered.wav" 441000 1024 4 44099; then
  pass "the sound played while the scale was chosen is the song as rendered, frame for frame"
else
  fail "the sound played under --scale auto differs from the rendered song"
fi

[ "$E2E_FAILURES" -eq 0 ]
