#!/usr/bin/env bash
# Measures the demo's frame time at each fixed scale, and the cost of the
# copy to the screen: runs demo-trace under Xvfb (WIDTHxHEIGHT, default
# 1920x1080) for SECONDS (default 60) per scale, and prints, leaving out the
# first frame (which also compiles the shader), the mean time from one frame
# to the next, the CPU time per frame once the song is rendered (which does
# not depend on what else runs) and the mean time from "drawn" (the frame
# finished, glFinish) to "swapped" (the copy to the window and the swap). A
# measuring tool, not a test.
# usage: measure_scales.sh DEMO_TRACE [SECONDS] [WIDTHxHEIGHT] [SCALE...]
# (scales named as --scale takes them: 1 864p 720p 2 3 4 6)
DEMO_TRACE=$(realpath "$1")
SECONDS_TO_RUN=${2:-60}
SCREEN=${3:-1920x1080}
SCALES=("${@:4}")
[ ${#SCALES[@]} -eq 0 ] && SCALES=(1 2 4 6)
source "$(dirname "$0")/../tests/host/e2e_lib.sh"
# demo-render-song stands beside demo-trace in the build.
SONG_FRAMES=$(song_frames "$(dirname "$DEMO_TRACE")/demo-render-song") || exit 1

start_xvfb "$SCREEN"
echo "screen $SCREEN, $(nproc) cores, LP_NUM_THREADS=${LP_NUM_THREADS:-unset}"
for scale in "${SCALES[@]}"; do
  load=$(cut -d' ' -f1-3 /proc/loadavg)
  (cd "$E2E_TMP" && SDL_AUDIODRIVER=dummy exec "$DEMO_TRACE" --scale "$scale") 2>"$E2E_TMP/trace.txt" >/dev/null &
  trace=$!
  E2E_PIDS+=("$trace")
  sleep "$SECONDS_TO_RUN"
  kill "$trace"
  wait "$trace" 2>/dev/null
  awk -v scale="$scale" -v load="$load" -v songFrames="$SONG_FRAMES" '
    $2 == "audio" && $4 >= songFrames && songDone == "" { songDone = $1 }
    $2 == "frame" { if (started != "" && $3 >= 2) { frames++; sum += $1 - started } started = $1 }
    $2 == "drawn" { drawn = $1 }
    $2 == "swapped" && $3 >= 1 {
      copies++; copy += $1 - drawn
      if (songDone != "" && $1 > songDone) { if (cpuFrom == "") { cpuFrom = $4 } else { cpuFrames++; cpuTo = $4 } }
    }
    END {
      printf "scale %s: %d frames after the first, %.0f ms per frame, CPU %s ms per frame once the song is rendered; copy and swap %.1f ms (load before: %s)\n",
             scale, frames, frames ? sum / frames : 0, cpuFrames ? sprintf("%.0f", (cpuTo - cpuFrom) / cpuFrames) : "-",
             copies ? copy / copies : 0, load
    }' "$E2E_TMP/trace.txt"
done
