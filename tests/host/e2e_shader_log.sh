#!/usr/bin/env bash
# End to end: what stands at ./ShaderLog.txt never holds up or turns the
# demo's start (on a small Xvfb screen, at --scale 6):
#  - a named pipe that nobody reads: the demo starts at once, draws, says
#    once that the log is skipped, and ends with exit code 0 on Escape;
#  - a named pipe with a reader: the reader gets the log;
#  - a symbolic link to another file: it is not followed (the file keeps its
#    text, the link stays), the demo starts, draws and ends on Escape.
# usage: e2e_shader_log.sh DEMO SCREEN_CHECK
source "$(dirname "$0")/e2e_lib.sh"
paths_from_args DEMO SCREEN_CHECK -- "$@"

start_xvfb 320x240

# runs_and_ends WHAT: the demo started in $work draws over the whole screen
# and Escape ends it with exit code 0, with one line naming the skipped log
# when EXPECTED_LINE is set, and none otherwise.
runs_and_ends() {
  local start
  start=$(now_ms)
  start_demo "$work" "$DEMO" --scale 6
  wait_filled 320 240 "$start" 60000
  if [ -n "$FILLED" ]; then
    pass "$1: the demo draws over the whole screen (at ${FILLED} ms)"
  else
    fail "$1: no picture over the whole screen: $(cat "$E2E_TMP/check.out"); output: $(cat "$E2E_TMP/demo.out")"
  fi
  xdotool key Escape
  wait_exit "$demo" 60
  local said
  said=$(grep '^demo:' "$E2E_TMP/demo.out")
  if [ "$EXIT_CODE" = 0 ] && [ "$said" = "${EXPECTED_LINE:-}" ]; then
    pass "$1: Escape ends the demo with exit code 0${said:+; it said: $said}"
  else
    fail "$1: exit $EXIT_CODE, output: $(cat "$E2E_TMP/demo.out")"
  fi
}

mkfifo "$work/ShaderLog.txt"
EXPECTED_LINE="demo: no shader log: ./ShaderLog.txt is a named pipe that nobody reads" \
  runs_and_ends "a named pipe without a reader at ./ShaderLog.txt"

# The reader: this shell, holding the pipe open (read and write, so that the
# open does not wait) before the demo starts.
exec 7<>"$work/ShaderLog.txt"
runs_and_ends "a named pipe with a reader at ./ShaderLog.txt"
timeout 10 head -c "$(expected_log_head | wc -c)" <&7 >"$E2E_TMP/read-log"
exec 7<&-
if cmp -s "$E2E_TMP/read-log" <(expected_log_head); then
  pass "the pipe's reader got the log"
else
  fail "the pipe's reader got: $(head -c 200 "$E2E_TMP/read-log" | od -c | head -5)"
fi
rm "$work/ShaderLog.txt"

printf 'precious\n' >"$E2E_TMP/precious"
ln -s "$E2E_TMP/precious" "$work/ShaderLog.txt"
EXPECTED_LINE="demo: no shader log: ./ShaderLog.txt is a symbolic link, which is not followed" \
  runs_and_ends "a symbolic link at ./ShaderLog.txt"
if [ "$(cat "$E2E_TMP/precious")" = precious ] && [ -L "$work/ShaderLog.txt" ]; then
  pass "the link's target is unchanged and the link stays"
else
  fail "the link's target now holds: $(head -c 200 "$E2E_TMP/precious" | od -c | head -3)"
fi

[ "$E2E_FAILURES" -eq 0 ]
