#!/usr/bin/env bash
# End to end at the demo's own size: Xvfb 1920x1080x24, Mesa's llvmpipe,
# SDL's dummy sound driver, the real scene shader.
#  - the demo starts, and its picture fills the 1920x1080 screen;
#  - ./ShaderLog.txt is replaced (it is seeded with junk first) and holds
#    exactly "** Start logging:\n** Linking shader 0:\n" and the driver's log;
#  - Escape sent with xdotool (a press and release while a frame is being
#    drawn) ends it with exit code 0 at the next query.
# Prints the start-to-first-frame time and the resident memory.
# usage: e2e_full_screen.sh DEMO SCREEN_CHECK
source "$(dirname "$0")/e2e_lib.sh"
paths_from_args DEMO SCREEN_CHECK -- "$@"

start_xvfb 1920x1080
# Junk longer than the log: a file that was only appended to or overwritten
# in place would keep some of it.
for i in $(seq 2000); do echo "JUNK line $i of an old log"; done >"$work/ShaderLog.txt"

screenshot "$E2E_TMP/before.xwd"
start=$(now_ms)
start_demo "$work" "$DEMO"

# The first frame: the first screenshot that differs from the black screen.
first_frame=""
while [ -z "$first_frame" ] && kill -0 "$demo" 2>/dev/null && [ $(($(now_ms) - start)) -lt 300000 ]; do
  sleep 0.5
  screenshot "$E2E_TMP/shot.xwd"
  if ! cmp -s "$E2E_TMP/shot.xwd" "$E2E_TMP/before.xwd"; then
    first_frame=$(($(now_ms) - start))
  fi
done
if [ -z "$first_frame" ]; then
  fail "no frame was shown within 300 s"; cat "$E2E_TMP/demo.out"; exit 1
fi
echo "start to first frame: about ${first_frame} ms (screenshots every 0.5 s)"

# The picture fills the screen: wait for a screenshot whose every grid cell
# is lit (the fade-in from black can leave the very first frame too dark).
wait_filled 1920 1080 "$start" 300000
if [ -n "$FILLED" ]; then
  pass "the shader's picture fills the 1920x1080 screen (at ${FILLED} ms)"
else
  fail "the picture does not fill the screen: $(cat "$E2E_TMP/check.out")"
fi

rss=$(awk '/^VmRSS/ {print $2 " " $3}' "/proc/$demo/status" 2>/dev/null)
echo "resident memory of the running demo: $rss"

# The log: replaced, the two fixed lines, then the driver's log.
expected_log_head >"$E2E_TMP/head"
head_bytes=$(wc -c <"$E2E_TMP/head")
if cmp -s <(head -c "$head_bytes" "$work/ShaderLog.txt") "$E2E_TMP/head"; then
  pass "ShaderLog.txt begins with the two fixed lines"
else
  fail "ShaderLog.txt begins with: $(head -c 200 "$work/ShaderLog.txt" | od -c | head -5)"
fi
if grep -q JUNK "$work/ShaderLog.txt"; then
  fail "ShaderLog.txt still holds the old log"
else
  pass "the old ShaderLog.txt was replaced"
fi
echo "driver's log ($(($(wc -c <"$work/ShaderLog.txt") - head_bytes)) bytes):"
tail -c +$((head_bytes + 1)) "$work/ShaderLog.txt" | head -20

# Escape: one press and release, sent while the demo draws.
escape_at=$(now_ms)
xdotool key Escape
wait_exit "$demo" 300
code=$EXIT_CODE
echo "Escape to exit: $(($(now_ms) - escape_at)) ms"
if [ "$code" = 0 ]; then
  pass "Escape ends the demo with exit code 0"
else
  fail "after Escape the demo ended with: $code"; cat "$E2E_TMP/demo.out"
fi

[ "$E2E_FAILURES" -eq 0 ]
