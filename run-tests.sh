#!/usr/bin/env bash
# Installs what the tests need, builds everything and runs every test:
# the Windows cross build, the synthesizer under the sanitizers, the browser
# build, then the whole suite (last, so that its summary closes the output).
set -euo pipefail
cd "$(dirname "$0")"
scripts/deps.sh test
jobs=$(nproc)

echo "== The test suite's npm packages (package-lock.json)"
npm ci --ignore-scripts --no-audit --no-fund

echo "== Windows build (MinGW-w64)"
cmake -S . -B build-windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake -DCMAKE_BUILD_TYPE=Release
cmake --build build-windows -j"$jobs"

echo "== Synthesizer under AddressSanitizer and UndefinedBehaviorSanitizer"
cmake -S . -B build-sanitize -DCMAKE_BUILD_TYPE=RelWithDebInfo -DDEMO_SANITIZE=ON -DDEMO_SYNTH_ONLY=ON
cmake --build build-sanitize -j"$jobs"
ctest --test-dir build-sanitize --output-on-failure -j"$jobs"

echo "== Browser build (emscripten, into build-web/)"
./run-web.sh --build-only

echo "== Whole suite"
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DDEMO_WINDOWS_EXE="$PWD/build-windows/bin/demo.exe"
cmake --build build -j"$jobs"
ctest --test-dir build --output-on-failure -j"$jobs"
