#!/usr/bin/env bash
# Measures how long the demo takes to draw its frames on an Xvfb of its own at
# 1920x1080x24 with llvmpipe: the Linux build (SDL's dummy sound driver) or,
# with --wine, the Windows build under Wine (set up as in e2e_wine.sh). For
# the first FRAMES frames it prints when each was shown (the window between
# two screenshots) and how long it took; for the first, the time from the
# shader log's close (the shader is compiled by then, llvmpipe's
# code for it is not yet made) to its swap, the same work in both builds;
# for the later ones the scene time they were drawn at, about, so that runs
# can be matched. Prints the load before and after.
#
# usage: wine_frames.sh FRAMES DEMO
#        measure_frames.sh FRAMES --wine DEMO_EXE PACED_SINK
set -uo pipefail
if [ "${1:-}" = --help ] || [ "${1:-}" = -h ]; then
  sed -n '2,13s/^# \{0,1\}//p' "$0"
  exit 0
fi
if [ $# -lt 2 ] || { [ "$2" = --wine ] && [ $# -lt 4 ]; } || ! [ "$1" -ge 1 ] 2>/dev/null; then
  echo "usage: $0 FRAMES DEMO" >&2
  echo "       $0 FRAMES --wine DEMO_EXE PACED_SINK" >&2
  exit 2
fi
frames=$1
if [ "$2" = --wine ]; then
  build=windows
  program=$(realpath "$3")
  paced_sink=$(realpath "$4")
else
  build=linux
  program=$(realpath "$2")
fi
here=$(dirname "$0")
source "$here/../tests/host/e2e_lib.sh"
trap 'exit 130' INT
trap 'exit 143' TERM
source "$here/../tests/host/win32/frame_watch.sh"
if [ "$build" = windows ]; then
  source "$here/../tests/host/win32/wine_lib.sh"
  wine_env "$paced_sink" "$work/played.raw"
fi

start_xvfb 1920x1080
[ "$build" = windows ] && make_prefix
echo "load before: $(uptime)"
screenshot "$E2E_TMP/shot0.xwd"
demo_start=$(now_ms)
if [ "$build" = windows ]; then
  (cd "$work" && exec wine "$program") >"$E2E_TMP/demo.out" 2>&1 &
else
  (cd "$work" && SDL_AUDIODRIVER=dummy exec "$program") >"$E2E_TMP/demo.out" 2>&1 &
fi
demo=$!
E2E_PIDS+=("$demo")

for n in $(seq "$frames"); do
  if ! wait_frame "$n" 1200; then
    if kill -0 "$demo" 2>/dev/null; then
      echo "no frame $n within 1200 s"; cat "$E2E_TMP/demo.out"; exit 1
    fi
    wait "$demo"
    echo "$build: the demo ended (exit code $?) before frame $n was seen: its last frame passed 185 s"
    break
  fi
  if [ "$n" = 1 ]; then
    log_closed=$(($(stat -c %.3Y "$work/ShaderLog.txt" | tr -d .) - demo_start))
    echo "$build: frame 1 shown $(shown); the log was closed at $(seconds "$log_closed") s:" \
         "the first frame took $(seconds $(((FRAME_AFTER + FRAME_BEFORE) / 2 - log_closed))) s"
  else
    echo "$build: frame $n shown $(shown), drawn at about $(seconds $((previous - log_closed))) s of the demo" \
         "in $(seconds $(((FRAME_AFTER + FRAME_BEFORE) / 2 - previous))) s"
  fi
  previous=$(((FRAME_AFTER + FRAME_BEFORE) / 2))
done
echo "load after: $(uptime)"
