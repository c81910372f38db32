#!/usr/bin/env bash
# Installs the Debian packages that the demo (`deps.sh demo`), the browser
# build (`deps.sh web`) or the whole test suite (`deps.sh test`) needs. As
# root it runs apt-get; otherwise it prints the one line to run and fails
# when something is missing.
set -euo pipefail

demo_packages=(cmake g++ make pkg-config libsdl2-dev libx11-dev libgl-dev libegl-dev libgl1-mesa-dri)
test_packages=("${demo_packages[@]}" libgtest-dev libbenchmark-dev libpng-dev lintian zip unzip
               xvfb xdotool x11-apps g++-mingw-w64-x86-64 ffmpeg wine wine64 openbox sox
               emscripten nodejs chromium firefox-esr python3 help2man cppcheck dpkg-dev git
               xserver-xorg-core xserver-xorg-video-dummy x11-xserver-utils)
web_packages=(cmake make emscripten nodejs python3)

case "${1:-}" in
  demo) wanted=("${demo_packages[@]}") ;;
  web) wanted=("${web_packages[@]}") ;;
  test) wanted=("${test_packages[@]}") ;;
  *) echo "usage: $0 demo|web|test" >&2; exit 2 ;;
esac

missing=()
for package in "${wanted[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$package")
  fi
done
# The tests take their browser driver and linters from npm; node's own
# installer brings npm, Debian's nodejs does not.
if [ "${1:-}" = test ] && ! command -v npm >/dev/null; then
  missing+=(npm)
fi
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -eq 0 ]; then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
else
  echo "Missing packages. Install them with:" >&2
  echo "  sudo apt-get install -y ${missing[*]}" >&2
  exit 1
fi
