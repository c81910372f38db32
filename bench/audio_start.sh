#!/usr/bin/env bash
# Measures how much of the song's start the demo plays as silence: runs the
# demo RUNS times (default 10) on a small Xvfb screen (320x240x24, --scale 6)
# with SDL's disk sound driver, each for SECONDS (default 2), and prints for
# each run the song frames that were played as zero at the start (the
# render thread had not published them when the device asked), as
# audio_compare counts them against demo-render-song's output, and any frames
# skipped after a stall of the process, then how many runs lost none. A
# measuring tool, not a test.
# usage: measure_start.sh DEMO RENDER_SONG AUDIO_COMPARE [RUNS] [SECONDS]
source "$(dirname "$0")/../tests/host/e2e_lib.sh"
paths_from_args DEMO RENDER_SONG AUDIO_COMPARE -- "$@"
RUNS=${4:-10}
SECONDS_TO_RUN=${5:-2}

start_xvfb 320x240
"$RENDER_SONG" --out "$E2E_TMP/rendered.wav" --frames $((44100 * (SECONDS_TO_RUN + 2))) >/dev/null
echo "load average: $(cut -d' ' -f1-3 /proc/loadavg), $(nproc) cores"
silent_runs=0
for run in $(seq "$RUNS"); do
  rm -f "$E2E_TMP/played.raw"
  (cd "$E2E_TMP" && SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILE="$E2E_TMP/played.raw" exec "$DEMO" --scale 6) \
    >/dev/null 2>&1 &
  demo=$!
  E2E_PIDS+=("$demo")
  sleep "$SECONDS_TO_RUN"
  kill "$demo"
  wait "$demo" 2>/dev/null
  report=$("$AUDIO_COMPARE" "$E2E_TMP/played.raw" "$E2E_TMP/rendered.wav" 0 100000000 4)
  silent=$(sed -n 's/^silent frames at the start: \([0-9]*\).*/\1/p' <<<"$report")
  lead_in=$(sed -n 's/^the device played \([0-9]*\) frames of its own silence.*/\1/p' <<<"$report")
  skips=$(sed -n 's/^skip [0-9]*: after \([0-9]*\) played frames .*, \([0-9]*\) frames skipped.*/\2 after \1/p' <<<"$report" |
    paste -sd, -)
  echo "run $run: ${silent:-?} song frames played as silence at the start${lead_in:+ (after $lead_in frames of silence from the device)}${skips:+; skipped: $skips}"
  [ "${silent:-1}" = 0 ] || silent_runs=$((silent_runs + 1))
done
echo "$((RUNS - silent_runs)) of $RUNS runs played every song frame from the first"
