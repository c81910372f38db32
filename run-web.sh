#!/usr/bin/env bash
# Builds the demo for the browser into build-web/ (emscripten) and serves the
# page on http://localhost:8000/ until Ctrl+C. With --build-only it builds and
# stops there.
set -euo pipefail
cd "$(dirname "$0")"
case "${1:-}" in
  "" | --build-only) ;;
  -h | --help)
    echo "usage: $0 [--build-only]"
    echo "Builds the web folder into build-web/site and serves it on http://localhost:8000/."
    exit 0 ;;
  *) echo "usage: $0 [--build-only]" >&2; exit 2 ;;
esac
scripts/deps.sh web
emcmake cmake -S . -B build-web -DCMAKE_BUILD_TYPE=Release
cmake --build build-web -j"$(nproc)"
[ "${1:-}" = --build-only ] && exit 0

echo "Serving build-web/site on http://localhost:8000/ (Ctrl+C stops)"
exec python3 -m http.server 8000 --bind 127.0.0.1 --directory build-web/site
