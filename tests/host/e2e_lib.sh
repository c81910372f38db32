# Helpers of the end-to-end runs: an Xvfb of their own on a free display
# number (stopped by its process id), a scratch directory, and checks.
# Sourced by the e2e_*.sh scripts; every run is meant to work as root, with no
# display of its own, on a fresh machine.

set -uo pipefail

E2E_PIDS=()
E2E_TMP=$(mktemp -d "${TMPDIR:-/tmp}/demo-e2e.XXXXXX")
E2E_FAILURES=0

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

# screenshot FILE: the whole X screen in xwd's format.
screenshot() {
  xwd -root -silent >"$1"
}

# The two fixed lines of the shader log.
expected_log_head() {
  printf '** Start logging:\n** Linking shader 0:\n'
}
