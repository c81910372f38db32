#!/usr/bin/env bash
# Makes the demo's icon from its own picture: a square around the
# dodecahedron of the frame at 30 s, as host/icon/demo.png (256x256, the
# desktop entry's icon) and host/icon/demo.ico (16, 32, 48 and 256 pixels,
# demo.exe's icon). Both are kept in the source; run this again only when the
# picture changes.
# usage: tools/icon/make_icon.sh CAPTURE   (the built capture tool; needs ffmpeg and python3)
set -euo pipefail
[ $# -eq 1 ] && [ -x "$1" ] || { echo "usage: $0 CAPTURE (the built capture tool)" >&2; exit 2; }
capture=$1
here=$(cd "$(dirname "$0")" && pwd)
icons=$here/../../host/icon
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$capture" --time 30 --scale 3 --out "$work/frame.png" --quiet
# The 640x360 picture; the dodecahedron stands around (285, 245).
for size in 16 32 48 256; do
  ffmpeg -loglevel error -i "$work/frame.png" -vf "crop=220:220:175:135,scale=$size:$size:flags=lanczos" \
         -frames:v 1 "$work/icon-$size.png"
done
python3 - "$work" "$icons/demo.ico" <<'PY'
import struct, sys
# An ICO file whose images are PNGs (read by Windows since Vista).
work, out = sys.argv[1], sys.argv[2]
images = [(size, open(f'{work}/icon-{size}.png', 'rb').read()) for size in (16, 32, 48, 256)]
data = struct.pack('<HHH', 0, 1, len(images))
offset = 6 + 16 * len(images)
for size, png in images:
    side = 0 if size == 256 else size
    data += struct.pack('<BBBBHHII', side, side, 0, 0, 1, 32, len(png), offset)
    offset += len(png)
open(out + '.part', 'wb').write(data + b''.join(png for _, png in images))
PY
mv "$icons/demo.ico.part" "$icons/demo.ico"
cp "$work/icon-256.png" "$icons/demo.png.part" && mv "$icons/demo.png.part" "$icons/demo.png"
echo "wrote $icons/demo.png and $icons/demo.ico"
