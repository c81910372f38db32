#!/usr/bin/env bash
# Measures how far the render thread stays ahead of the sound device while
# llvmpipe draws the scene shader at full size: runs demo-trace under Xvfb
# (1920x1080x24) with SDL's disk sound driver for SECONDS (default 30), then
# prints the published-frame count against the play position over the run.
# A measuring tool, not a test.
# usage: measure_ahead.sh DEMO_TRACE [SECONDS] [SAMPLE_MS]
DEMO_TRACE=$(realpath "$1")
SECONDS_TO_RUN=${2:-30}
SAMPLE_MS=${3:-20}
source "$(dirname "$0")/../tests/host/e2e_lib.sh"

start_xvfb 1920x1080
(cd "$E2E_TMP" && SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILE="$E2E_TMP/played.raw" DEMO_TRACE_AUDIO_MS=$SAMPLE_MS \
   exec "$DEMO_TRACE") 2>"$E2E_TMP/trace.txt" >/dev/null &
trace=$!
E2E_PIDS+=("$trace")
sleep "$SECONDS_TO_RUN"
kill "$trace"
wait "$trace" 2>/dev/null
echo "load average: $(cut -d' ' -f1-3 /proc/loadavg), $(nproc) cores, LP_NUM_THREADS=${LP_NUM_THREADS:-unset}"
grep -E ' (startThread|startAudioDevice|swapped)' "$E2E_TMP/trace.txt"
awk '
  $2 == "startAudioDevice" { deviceStart = $1 }
  $2 == "audio" {
    t = $1; rendered = $4; played = $6; ahead = $8
    if (firstAhead == "" && rendered > 0 && ahead > 0) firstAhead = t
    if (firstAhead != "") { if (minAhead == "" || ahead < minAhead) { minAhead = ahead; minAt = t } }
    if (t - last >= 5000) { printf "%6d ms  rendered %8d  played %8d  ahead %8d frames (%.1f s)\n", t, rendered, played, ahead, ahead / 44100; last = t }
    lastT = t; lastRendered = rendered; lastPlayed = played
  }
  END {
    printf "rendering first ahead of the device %d ms after the device started\n", firstAhead - deviceStart
    printf "from then on the least lead: %d frames (%.2f s) at %d ms\n", minAhead, minAhead / 44100, minAt
    printf "over the run: %d frames rendered, %d played in %.1f s (device pace %.3f of real time)\n", lastRendered, lastPlayed, (lastT - deviceStart) / 1000, lastPlayed / 44100 / ((lastT - deviceStart) / 1000)
  }' "$E2E_TMP/trace.txt"
