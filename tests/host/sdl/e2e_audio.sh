#!/usr/bin/env bash
# End to end sound runs on a small Xvfb screen (320x240x24) with llvmpipe
# drawing the real scene shader all the while (at --scale 6, about as many
# pixels as the screen has):
#  - SDL's disk driver writes what the device played to a file: the demo runs
#    about 10 s and is ended with Escape (exit code 0, the sound ends with the
#    process, mid-block); what was played is compared with the song rendered
#    offline by render-song (audio_compare; the sound across stalls is
#    e2e_stall.sh's);
#  - with a sound driver that cannot open, the demo says so in one line
#    (SDL's reason included), starts, runs and ends with 0 on Escape, and
#    the render thread still renders (demo-trace shows its
#    published count pass 10 s of the song while nothing is played; the whole
#    song takes over a minute here, too long for the suite).
# usage: e2e_audio.sh DEMO DEMO_TRACE RENDER_SONG AUDIO_COMPARE SCREEN_CHECK
source "$(dirname "$0")/../e2e_lib.sh"
paths_from_args DEMO DEMO_TRACE RENDER_SONG AUDIO_COMPARE SCREEN_CHECK -- "$@"

SONG_FRAMES=$(song_frames "$RENDER_SONG") || exit 1
start_xvfb 320x240

# 1. Played against rendered.
start_demo "$work" SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILE="$work/played.raw" "$DEMO" --scale 6
sleep 10
xdotool key Escape
wait_exit "$demo" 60
if [ "$EXIT_CODE" = 0 ]; then
  pass "with the disk sound driver, Escape ends the demo with exit code 0"
else
  fail "with the disk sound driver the demo ended with: $EXIT_CODE"; cat "$E2E_TMP/demo.out"
fi
played_frames=$(( $(stat -c %s "$work/played.raw" 2>/dev/null || echo 0) / 8 ))
if [ "$played_frames" -gt 0 ]; then
  # Rendered far enough for the skips allowed below.
  frames=$(( played_frames + 4 * 44100 < SONG_FRAMES ? played_frames + 4 * 44100 : SONG_FRAMES ))
  "$RENDER_SONG" --out "$work/rendered.wav" --frames "$frames" >/dev/null
  # At least 5 s played, and every song frame of sound from the first: none
  # played as silence. (SDL's sound thread is made about 1 ms after the
  # render thread and asks for its first buffer at once, at a higher
  # priority, on the one core that the main thread leaves free; the song's
  # start, rendered before either thread exists, is what it finds there.)
  # Up to 4 skips forward of under 1 s each: the frames that fell due while
  # the whole process was starved (stalls of 100-230 ms were seen now and
  # then on the busy build machine); they are reported.
  if "$AUDIO_COMPARE" "$work/played.raw" "$work/rendered.wav" 220500 0 4 44099; then
    pass "what was played is the song as rendered, frame for frame"
  else
    fail "what was played differs from the rendered song"
  fi
else
  fail "the disk sound driver wrote nothing"
fi

# 2. A sound driver that cannot open: the disk driver on a path that cannot
#    be created.
rm -f "$work/played.raw"
start_demo "$work" SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILE=/proc/no-such-dir/played.raw "$DEMO" --scale 6
start=$(now_ms)
shown=""
while [ -z "$shown" ] && kill -0 "$demo" 2>/dev/null && [ $(($(now_ms) - start)) -lt 60000 ]; do
  sleep 0.5
  screenshot "$E2E_TMP/shot.xwd"
  "$SCREEN_CHECK" "$E2E_TMP/shot.xwd" 320 240 >/dev/null && shown=yes
done
[ -n "$shown" ] || fail "without sound the demo shows no picture"
xdotool key Escape
wait_exit "$demo" 60
if [ "$EXIT_CODE" = 0 ] && [ -n "$shown" ]; then
  pass "with a sound driver that cannot open, the demo runs and Escape ends it with exit code 0"
else
  fail "with a sound driver that cannot open, the demo ended with: $EXIT_CODE"; cat "$E2E_TMP/demo.out"
fi
if [ "$(grep -c '^demo:' "$E2E_TMP/demo.out")" = 1 ] &&
   grep -q "^demo: running without sound: .*/proc/no-such-dir/played.raw" "$E2E_TMP/demo.out"; then
  pass "without sound the demo says so: $(cat "$E2E_TMP/demo.out")"
else
  fail "without sound the demo said: $(cat "$E2E_TMP/demo.out")"
fi

start_demo --trace "$E2E_TMP/trace.txt" "$work" SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILE=/proc/no-such-dir/played.raw \
  DEMO_TRACE_AUDIO_MS=500 "$DEMO_TRACE" --scale 6
trace=$demo
start=$(now_ms)
# The published count once it passes 10 s of the song, with nothing played.
rendered_past() {
  awk -v n="$1" '$2 == "audio" && $4 >= n && $6 == 0 { found = 1 } END { exit !found }' "$E2E_TMP/trace.txt"
}
while kill -0 "$trace" 2>/dev/null && [ $(($(now_ms) - start)) -lt 60000 ] && ! rendered_past 441000; do
  sleep 0.5
done
kill "$trace" 2>/dev/null
wait "$trace" 2>/dev/null
if rendered_past 441000 && ! grep -q "audio rendered .* played [1-9]" "$E2E_TMP/trace.txt"; then
  pass "without a sound device the render thread renders on: 10 s of the song in $(($(now_ms) - start)) ms"
else
  fail "without a sound device the song is not rendered: $(grep audio "$E2E_TMP/trace.txt" | tail -2)"
fi

[ "$E2E_FAILURES" -eq 0 ]
