#!/usr/bin/env bash
# Measures how much of the song's start demo.exe plays as silence under Wine:
# runs it RUNS times (default 10) on an Xvfb of its own at 1920x1080x24, with
# llvmpipe compiling and drawing the full-resolution frame on every core and
# waveOut playing into the ALSA file device paced by paced_sink (set up as in
# e2e_wine.sh), each run for SECONDS (default 8) of sound, and prints for
# each run the song frames that were played as zero (the render thread had
# not written them when the device reached them), as played_compare counts
# them against demo-render-song's output, then how many runs lost none. Prints the
# load before and after. --watch takes screenshots all the while, as the
# end-to-end test does to catch the frames; --cold gives each run an empty
# shader cache of its own, so that llvmpipe compiles the shader first, as on
# a user's first run. A measuring tool, not a test.
# usage: wine_start.sh [--watch] [--cold] DEMO_EXE RENDER_SONG PLAYED_COMPARE PACED_SINK [RUNS] [SECONDS]
set -uo pipefail
if [ "${1:-}" = --help ] || [ "${1:-}" = -h ]; then
  sed -n '2,14s/^# \{0,1\}//p' "$0"
  exit 0
fi
watch=""
cold=""
while [ "${1:-}" = --watch ] || [ "${1:-}" = --cold ]; do
  [ "$1" = --watch ] && watch=yes
  [ "$1" = --cold ] && cold=yes
  shift
done
if [ $# -lt 4 ]; then
  echo "usage: $0 [--watch] [--cold] DEMO_EXE RENDER_SONG PLAYED_COMPARE PACED_SINK [RUNS] [SECONDS]" >&2
  exit 2
fi
DEMO_EXE=$(realpath "$1")
RENDER_SONG=$(realpath "$2")
PLAYED_COMPARE=$(realpath "$3")
PACED_SINK=$(realpath "$4")
RUNS=${5:-10}
SECONDS_TO_RUN=${6:-8}
here=$(dirname "$0")
source "$here/../tests/host/e2e_lib.sh"
source "$here/../tests/host/win32/wine_lib.sh"
played="$work/played.raw"
wine_env "$PACED_SINK" "$played"
start_xvfb 1920x1080
make_prefix
"$RENDER_SONG" --out "$E2E_TMP/song.wav" --frames $((44100 * (SECONDS_TO_RUN + 2))) >/dev/null
echo "load average: $(cut -d' ' -f1-3 /proc/loadavg), $(nproc) cores"
silent_runs=0
for run in $(seq "$RUNS"); do
  rm -f "$played"
  if [ -n "$cold" ]; then
    rm -rf "$E2E_TMP/cache"
    export MESA_SHADER_CACHE_DIR="$E2E_TMP/cache"
  fi
  (cd "$work" && exec wine "$DEMO_EXE") >"$E2E_TMP/demo.out" 2>&1 &
  demo=$!
  if [ -n "$watch" ]; then
    (while kill -0 "$demo" 2>/dev/null; do screenshot "$E2E_TMP/shot.xwd"; sleep 0.1; done) &
    E2E_PIDS+=("$!")
  fi
  # The sound has started once paced_sink has made its file.
  waited=0
  while [ ! -e "$played.part" ] && kill -0 "$demo" 2>/dev/null && [ $waited -lt 1200 ]; do
    sleep 0.1
    waited=$((waited + 1))
  done
  sleep "$SECONDS_TO_RUN"
  kill "$demo" 2>/dev/null
  wait "$demo" 2>/dev/null
  # paced_sink names the file when the last of the sound has reached it.
  waited=0
  while [ ! -e "$played" ] && [ $waited -lt 300 ]; do
    sleep 0.1
    waited=$((waited + 1))
  done
  report=$("$PLAYED_COMPARE" "$played" "$E2E_TMP/song.wav" 0 100000000)
  # "N song frames in M runs were played as zero", or none.
  silent=$(sed -n 's/^\([0-9][0-9]*\) song frames in [0-9][0-9]* runs were played as zero.*/\1/p' <<<"$report")
  grep -q '^no song frame was played as zero' <<<"$report" && silent=0
  echo "run $run: ${silent:-?} song frames played as silence at the start ($(grep '^leading zeros' <<<"$report"))"
  grep '^FAIL' <<<"$report"
  [ "${silent:-1}" = 0 ] || silent_runs=$((silent_runs + 1))
done
echo "$((RUNS - silent_runs)) of $RUNS runs played every song frame from the first"
echo "load average: $(cut -d' ' -f1-3 /proc/loadavg)"
