#!/usr/bin/env bash
# Builds the demo for the browser into build-web/ (emscripten): the folder
# build-web/site for a web server and the one-file build-web/demo.html, which
# also plays opened from disk. Then serves the folder on
# http://localhost:8000/ until Ctrl+C; with --build-only it stops after the
# build.
set -euo pipefail
cd "$(dirname "$0")"
case "${1:-}" in
  "" | --build-only) ;;
  -h | --help)
    echo "usage: $0 [--build-only]"
    echo "Builds the web folder build-web/site and the one-file page build-web/demo.html"
    echo "(which also plays opened from disk), then serves the folder on http://localhost:8000/."
    exit 0 ;;
  *) echo "usage: $0 [--build-only]" >&2; exit 2 ;;
esac
scripts/deps.sh web
emcmake cmake -S . -B build-web -DCMAKE_BUILD_TYPE=Release
cmake --build build-web -j"$(nproc)"
echo "Built build-web/site and build-web/demo.html (open it from disk, or serve either)"
[ "${1:-}" = --build-only ] && exit 0

echo "Serving build-web/site on http://localhost:8000/ (Ctrl+C stops)"
exec python3 -m http.server 8000 --bind 127.0.0.1 --directory build-web/site
