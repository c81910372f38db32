# Helpers of the end-to-end runs: an Xvfb of their own on a free display
# number (stopped by its process id), openbox on it where a window manager is
# wanted, a scratch directory, the demo started in the background and waited
# for, and checks.
# Sourced by the e2e_*.sh scripts; every run is meant to work as root, with no
# display of its own, on a fresh machine.

set -uo pipefail

E2E_PIDS=()
E2E_TMP=$(mktemp -d "${TMPDIR:-/tmp}/demo-e2e.XXXXXX")
E2E_FAILURES=0
# The working directory of the runs that start the demo.
work="$E2E_TMP/work"
mkdir "$work"

e2e_cleanup() {
  local pid
  for pid in "${E2E_PIDS[@]}"; do
    kill "$pid" 2>/dev/null
  done
  for pid in "${E2E_PIDS[@]}"; do
    wait "$pid" 2>/dev/null
  done
  chmod -R u+w "$E2E_TMP" 2>/dev/null
  rm -rf "$E2E_TMP"
}
trap e2e_cleanup EXIT

# paths_from_args NAME... -- ARG...: sets each NAME, in order, to the
# absolute path of the argument in its place; too few arguments, or one that
# names nothing, end the run with the usage.
paths_from_args() {
  local names=()
  while [ "$1" != -- ]; do
    names+=("$1")
    shift
  done
  shift
  if [ $# -lt ${#names[@]} ]; then
    echo "usage: $(basename "$0") ${names[*]}" >&2
    exit 2
  fi
  local name
  for name in "${names[@]}"; do
    if [ ! -e "$1" ]; then
      echo "$(basename "$0"): $name: there is no $1" >&2
      exit 2
    fi
    printf -v "$name" '%s' "$(realpath "$1")"
    shift
  done
}

fail() {
  echo "FAIL: $*"
  E2E_FAILURES=$((E2E_FAILURES + 1))
}

pass() {
  echo "ok: $*"
}

now_ms() {
  date +%s%3N
}

# song_frames RENDER_SONG: the number of frames in the whole song, as
# render-song's --help names the range of its --frames.
song_frames() {
  local frames
  frames=$("$1" --help | sed -n 's/.*render only the first N frames (1 to \([0-9][0-9]*\);.*/\1/p')
  if [ -z "$frames" ]; then
    echo "e2e: render-song's --help names no range for --frames" >&2
    exit 1
  fi
  echo "$frames"
}

# start_xvfb WIDTHxHEIGHT: starts Xvfb on the first free display number and
# exports DISPLAY. The root window is black (-br) so that what the demo does
# not cover stays black.
start_xvfb() {
  local fifo="$E2E_TMP/displayfd.$RANDOM"
  mkfifo "$fifo"
  Xvfb -displayfd 3 -screen 0 "$1x24" -br -nolisten tcp -noreset 3>"$fifo" 2>"$E2E_TMP/xvfb.log" &
  XVFB_PID=$!
  E2E_PIDS+=("$XVFB_PID")
  local number
  if ! read -r -t 20 number <"$fifo"; then
    echo "FAIL: Xvfb did not start"; cat "$E2E_TMP/xvfb.log"; exit 1
  fi
  export DISPLAY=":$number"
}

stop_xvfb() {
  kill "$XVFB_PID" 2>/dev/null
  wait "$XVFB_PID" 2>/dev/null
}

# start_openbox: openbox on the display, until it is stopped by its process
# id; returns once it manages the screen (it has announced itself on the root
# window).
start_openbox() {
  openbox --sm-disable >"$E2E_TMP/openbox.log" 2>&1 &
  OPENBOX_PID=$!
  E2E_PIDS+=("$OPENBOX_PID")
  local waited=0
  until xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id'; do
    if ! kill -0 "$OPENBOX_PID" 2>/dev/null || [ $waited -ge 300 ]; then
      echo "FAIL: openbox did not start:"; cat "$E2E_TMP/openbox.log"; exit 1
    fi
    sleep 0.1
    waited=$((waited + 1))
  done
}

# start_demo [--trace FILE] DIR [NAME=VALUE | -u NAME]... PROGRAM [ARGS...]:
# starts PROGRAM in the background in the directory DIR, through env with the
# changes to the environment given before it, and with SDL's dummy sound
# driver unless they name another. Its stdout and stderr go to
# $E2E_TMP/demo.out; with --trace, stderr (demo-trace's log) goes to FILE and
# stdout nowhere. Sets demo to its process id (the program's own: the
# subshell and env exec it), which the cleanup ends with the others.
start_demo() {
  local trace=""
  if [ "$1" = --trace ]; then
    trace=$2
    shift 2
  fi
  local dir=$1
  shift
  if [ -n "$trace" ]; then
    (cd "$dir" && SDL_AUDIODRIVER=dummy exec env "$@") 2>"$trace" >/dev/null &
  else
    (cd "$dir" && SDL_AUDIODRIVER=dummy exec env "$@") >"$E2E_TMP/demo.out" 2>&1 &
  fi
  demo=$!
  E2E_PIDS+=("$demo")
}

# The line that the demo says at start, before anything can fail.
FLASH_WARNING="Warning: at 106.5 s the whole screen flashes white."

# ended_with_one_line PATTERN [demo]: true when the demo ended with exit code
# 1 (EXIT_CODE) and its output ($E2E_TMP/demo.out) is one line besides the
# flash warning, which matches PATTERN (grep's basic expression). With
# "demo", only the lines that begin "demo:" count: the window-system
# libraries that SDL tries may print lines of their own.
ended_with_one_line() {
  local lines
  if [ "${2:-}" = demo ]; then
    lines=$(grep -c '^demo:' "$E2E_TMP/demo.out")
  else
    lines=$(grep -cvxF "$FLASH_WARNING" "$E2E_TMP/demo.out")
  fi
  [ "$EXIT_CODE" = 1 ] && [ "$lines" = 1 ] && grep -q "$1" "$E2E_TMP/demo.out"
}

# wait_filled WIDTH HEIGHT SINCE LIMIT_MS: takes screenshots until
# $SCREEN_CHECK finds one that the picture fills (a WIDTH x HEIGHT screen lit
# in every grid cell), while the demo ($demo) runs, up to LIMIT_MS after
# SINCE (a now_ms reading). Sets FILLED to the milliseconds from SINCE to
# that screenshot, empty when there was none; screen_check's words on the
# last one are in $E2E_TMP/check.out.
wait_filled() {
  FILLED=""
  while [ -z "$FILLED" ] && kill -0 "$demo" 2>/dev/null && [ $(($(now_ms) - $3)) -lt "$4" ]; do
    screenshot "$E2E_TMP/shot.xwd"
    if "$SCREEN_CHECK" "$E2E_TMP/shot.xwd" "$1" "$2" >"$E2E_TMP/check.out"; then
      FILLED=$(($(now_ms) - $3))
    else
      sleep 0.5
    fi
  done
}

# wait_exit PID SECONDS: waits for the process (a child of this shell) to
# end and sets EXIT_CODE to its exit status, or to "timeout" (killing it) when
# it runs longer.
wait_exit() {
  local pid=$1 limit=$2 waited=0
  while kill -0 "$pid" 2>/dev/null; do
    if [ "$waited" -ge $((limit * 10)) ]; then
      kill -KILL "$pid" 2>/dev/null
      wait "$pid" 2>/dev/null
      EXIT_CODE=timeout
      return
    fi
    sleep 0.1
    waited=$((waited + 1))
  done
  wait "$pid"
  EXIT_CODE=$?
}

# demo_window PID SECONDS: prints the id of the window titled "demo" (the
# demo's --window) once it exists; nothing when the process PID ends first or
# SECONDS pass.
demo_window() {
  local pid=$1 limit=$2 start found
  start=$(now_ms)
  while kill -0 "$pid" 2>/dev/null && [ $(($(now_ms) - start)) -lt $((limit * 1000)) ]; do
    found=$(xdotool search --name '^demo$' 2>/dev/null | head -1)
    if [ -n "$found" ]; then
      echo "$found"
      return
    fi
    sleep 0.1
  done
}

# window_size WINDOW: its size as the X server has it, e.g. "160x90".
window_size() {
  xdotool getwindowgeometry "$1" 2>/dev/null | awk '/Geometry:/ { print $2 }'
}

# screenshot FILE: the whole X screen in xwd's format.
screenshot() {
  xwd -root -silent >"$1"
}

# The two fixed lines of the shader log.
expected_log_head() {
  printf '** Start logging:\n** Linking shader 0:\n'
}

# start_xorg MODE [MODE...]: starts a real X server (Xorg with the dummy video
# driver) on the first free display number, with a configuration file of its
# own that offers the given modes (the first is the desktop's) and its log in
# the scratch directory; exports DISPLAY. The root window is black (-br), so
# that what the demo does not cover stays black. Client connections are logged
# (-audit 2), so a test can tell whether a process opened the display.
# Returns 77 (skipped) where Xorg or its dummy driver is not installed.
start_xorg() {
  if ! command -v Xorg >/dev/null || ! ls /usr/lib/xorg/modules/drivers/dummy_drv.so >/dev/null 2>&1; then
    echo "SKIP: Xorg with the dummy video driver is not installed (xserver-xorg-core, xserver-xorg-video-dummy)"
    exit 77
  fi
  local modes="" mode
  for mode in "$@"; do modes+=" \"$mode\""; done
  XORG_CONF="$E2E_TMP/xorg.conf"
  XORG_LOG="$E2E_TMP/xorg.log"
  mkdir -p "$E2E_TMP/xorg.conf.d"
  cat >"$XORG_CONF" <<CONF
Section "ServerFlags"
  Option "AutoAddDevices" "false"
  Option "AutoEnableDevices" "false"
  Option "DontVTSwitch" "true"
EndSection
Section "Device"
  Identifier "dummy"
  Driver "dummy"
  VideoRam 256000
EndSection
Section "Monitor"
  Identifier "monitor"
  HorizSync 5.0-1000.0
  VertRefresh 5.0-200.0
EndSection
Section "Screen"
  Identifier "screen"
  Device "dummy"
  Monitor "monitor"
  DefaultDepth 24
  SubSection "Display"
    Depth 24
    Modes$modes
  EndSubSection
EndSection
CONF
  local fifo="$E2E_TMP/xorg-displayfd.$RANDOM"
  mkfifo "$fifo"
  Xorg -displayfd 3 -config "$XORG_CONF" -configdir "$E2E_TMP/xorg.conf.d" -logfile "$XORG_LOG" \
       -br -noreset -nolisten tcp -audit 2 3>"$fifo" >"$E2E_TMP/xorg.out" 2>&1 &
  XORG_PID=$!
  E2E_PIDS+=("$XORG_PID")
  local number
  if ! read -r -t 30 number <"$fifo"; then
    echo "FAIL: Xorg did not start"; tail -20 "$E2E_TMP/xorg.out"; exit 1
  fi
  export DISPLAY=":$number"
}

stop_xorg() {
  kill "$XORG_PID" 2>/dev/null
  wait "$XORG_PID" 2>/dev/null
}

# desktop_mode: the screen's size and the output's mode in use, as xrandr
# reports them, e.g. "screen 1920x1440, mode 1920x1440".
desktop_mode() {
  xrandr --current | awk '
    /^Screen / { sub(/.*current /, ""); sub(/,.*/, ""); gsub(/ /, ""); screen = $0 }
    /\*/ { mode = $1 }
    END { printf "screen %s, mode %s\n", screen, mode }'
}

# connected_pids: the process ids of the clients that have connected to the
# Xorg server so far (from its audit lines).
connected_pids() {
  grep -o 'client [0-9]* connected from local host ( uid=[0-9]* gid=[0-9]* pid=[0-9]*' "$E2E_TMP/xorg.out" |
    sed 's/.*pid=//'
}

# trace_last EVENT TRACE: the number of the latest frame that demo-trace
# logged with EVENT ("drawn" or "swapped"), or -1.
trace_last() {
  awk -v e="$1" '$2 == e { n = $3 } END { print (n == "" ? -1 : n) }' "$2"
}

# trace_time FRAME TRACE: the timeMs of that frame in demo-trace's log.
trace_time() {
  awk -v k="$1" '$2 == "frame" && $3 == k { print $4 }' "$2"
}

# frame_shot TRACE FILE [MIN_TIME_MS] [LIMIT_S] [MIN_FRAME]: a screenshot taken
# while the screen holds one whole frame, the first whose timeMs is at least
# MIN_TIME_MS and whose number is at least MIN_FRAME: after
# demo-trace logged "swapped K" and before it logged "drawn K+1", the start
# of the next frame's copy to the window. Sets SHOT_FRAME to K and SHOT_MS to
# its timeMs (both empty when there is none within LIMIT_S seconds).
frame_shot() {
  local trace=$1 file=$2 min=${3:-0} limit=${4:-300} minFrame=${5:-0} start shown
  start=$(now_ms)
  SHOT_FRAME=""
  SHOT_MS=""
  while [ $(($(now_ms) - start)) -lt $((limit * 1000)) ]; do
    shown=$(trace_last swapped "$trace")
    if [ "$shown" -ge "$minFrame" ] && [ "$(trace_time "$shown" "$trace")" -ge "$min" ] &&
       [ "$(trace_last drawn "$trace")" = "$shown" ]; then
      xwd -root -silent >"$file"
      if [ "$(trace_last drawn "$trace")" = "$shown" ]; then
        SHOT_FRAME=$shown
        SHOT_MS=$(trace_time "$shown" "$trace")
        return
      fi
    fi
    sleep 0.2
  done
}

# seconds MS: milliseconds as the seconds that capture --time takes.
seconds() {
  printf '%d.%03d' $(($1 / 1000)) $(($1 % 1000))
}

# frame_png MS: the name that capture --out DIR gives the frame at MS.
frame_png() {
  printf 'frame-%03d.%03d.png' $(($1 / 1000)) $(($1 % 1000))
}
