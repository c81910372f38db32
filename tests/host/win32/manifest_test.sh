#!/usr/bin/env bash
# The application manifest (DPI awareness) is in demo.exe: read back from the
# executable's resources (type 24, id 1), it is host/demo.manifest byte for
# byte. (The Wine test checks that Wine's loader reads its settings.)
# usage: manifest_test.sh PE_MANIFEST MANIFEST DEMO_EXE [--skip-if-missing]
if [ ! -f "$3" ]; then
  if [ "${4:-}" = --skip-if-missing ]; then
    echo "SKIP: there is no $3 (the Windows build)"
    exit 77
  fi
  echo "FAIL: there is no $3 (the Windows build)"
  exit 1
fi
read_back=$(mktemp "${TMPDIR:-/tmp}/manifest.XXXXXX") || exit 1
trap 'rm -f "$read_back"' EXIT
if ! "$1" "$3" >"$read_back"; then
  echo "FAIL: demo.exe carries no application manifest"
  exit 1
fi
if cmp -s "$read_back" "$2"; then
  echo "ok: demo.exe carries its manifest ($(wc -c <"$2") bytes): $(sed -n 's/ *<\(dpiAware[a-zA-Z]*\) xmlns="[^"]*">\([^<]*\)<.*/\1 \2;/p' "$2" | tr '\n' ' ')"
  exit 0
fi
echo "FAIL: the manifest in demo.exe differs from $2:"
diff "$read_back" "$2" | head -20
exit 1
