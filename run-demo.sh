#!/usr/bin/env bash
# Installs what the demo needs, builds it and starts it full screen; its
# arguments go to the demo (demo --help lists them).
set -euo pipefail
cd "$(dirname "$0")"
scripts/deps.sh demo
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DDEMO_BUILD_TESTS=OFF
cmake --build build -j"$(nproc)" --target demo
exec build/bin/demo "$@"
