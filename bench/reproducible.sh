#!/usr/bin/env bash
# The release built twice from scratch, from the same commit, in two clones
# in two different folders: prints both SHA256SUMS and whether every file
# has the same bytes (exit 0) or which differ (exit 1). Slow: two whole
# builds for Linux, Windows and the browser.
# usage: bench/reproducible.sh [release.sh's options, e.g. --no-wine]
set -euo pipefail
source_dir=$(cd "$(dirname "$0")/.." && pwd)
commit=$(git -C "$source_dir" rev-parse HEAD)
work=$(mktemp -d "${TMPDIR:-/tmp}/demo-reproducible-XXXXXX")
trap 'rm -rf "$work"' EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
echo "commit $commit; clones in $work/first/demo and $work/second/another-folder/demo"
for clone in "$work/first/demo" "$work/second/another-folder/demo"; do
  git clone -q --no-hardlinks "$source_dir" "$clone"
  git -C "$clone" checkout -q "$commit"
  started=$(date +%s)
  (cd "$clone" && ./release.sh "$@" >"$clone.out" 2>&1) || { tail -20 "$clone.out"; exit 1; }
  echo "== $clone: ./release.sh $* took $(($(date +%s) - started)) s"
  cat "$clone/dist/SHA256SUMS"
done
if cmp -s "$work/first/demo/dist/SHA256SUMS" "$work/second/another-folder/demo/dist/SHA256SUMS"; then
  echo "SAME: every release file has the same bytes"
else
  echo "DIFFERENT:"
  diff "$work/first/demo/dist/SHA256SUMS" "$work/second/another-folder/demo/dist/SHA256SUMS" || true
  exit 1
fi
