#!/usr/bin/env bash
# The synthesizer compiled to WebAssembly (the node build of render-song,
# from the same sources and flags as the page's module) renders the whole
# song bit for bit as the native render-song does, and a short render too;
# it leaves nothing behind when ended, and refuses bad arguments.
# Usage: song_bits_test.sh NODE RENDER_SONG_JS NATIVE_RENDER_SONG
set -euo pipefail
node=$1 wasm_tool=$2 native_tool=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

for frames in 1000 ""; do
  args=(); [ -n "$frames" ] && args=(--frames "$frames")
  "$node" "$wasm_tool" "${args[@]}" --out "$work/wasm.wav"
  "$native_tool" "${args[@]}" --out "$work/native.wav"
  if ! cmp "$work/wasm.wav" "$work/native.wav"; then
    echo "FAIL: the WebAssembly render differs from the native one (${frames:-all} frames)" >&2
    exit 1
  fi
  echo "same: ${frames:-all} frames, $(stat -c %s "$work/native.wav") bytes"
  [ -z "$(ls "$work" | grep -v '\.wav$' || true)" ] || { echo "FAIL: left behind: $(ls "$work")" >&2; exit 1; }
done

# A render ended by a signal leaves no file behind.
mkdir "$work/ended"
"$node" "$wasm_tool" --out "$work/ended/song.wav" 2>/dev/null &
pid=$!
sleep 1
kill -TERM "$pid"
wait "$pid" && { echo "FAIL: the render was not ended" >&2; exit 1; }
if [ -n "$(ls -A "$work/ended")" ]; then
  echo "FAIL: an ended render left $(ls -A "$work/ended")" >&2
  exit 1
fi
echo "ended: nothing left behind"

# Bad input is refused with a message and nothing is written.
if "$node" "$wasm_tool" --frames 0 --out "$work/bad.wav" 2>"$work/err.txt"; then
  echo "FAIL: --frames 0 was accepted" >&2
  exit 1
fi
grep -q -- '--frames' "$work/err.txt"
[ ! -e "$work/bad.wav" ]
echo "refused: --frames 0"
