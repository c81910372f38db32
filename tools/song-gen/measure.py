#!/usr/bin/env python3
"""Measures a rendered song (the float WAV that render-song writes): RMS and
peak per PatternList entry (75,600 frames), overall level and clipping.

    python3 tools/song-gen/measure.py song.wav
"""
import argparse
import array
import math
import struct
import sys

FRAMES_PER_ENTRY = 16 * 4725


def read_float_wav(path):
    try:
        with open(path, "rb") as f:
            data = f.read()
    except OSError as e:
        raise SystemExit("measure.py: %s: %s" % (path, e.strerror))
    if data[:4] != b"RIFF" or data[8:12] != b"WAVE":
        raise SystemExit("not a WAV file: %s" % path)
    pos, fmt, samples = 12, None, None
    while pos + 8 <= len(data):
        cid, size = data[pos:pos + 4], struct.unpack("<I", data[pos + 4:pos + 8])[0]
        body = data[pos + 8:pos + 8 + size]
        if cid == b"fmt ":
            fmt = struct.unpack("<HHIIHH", body[:16])
        elif cid == b"data":
            samples = array.array("f")
            samples.frombytes(body[:len(body) // 4 * 4])
        pos += 8 + size + (size & 1)
    if fmt is None or samples is None or fmt[0] not in (3, 0xFFFE) or fmt[5] != 32 or fmt[1] != 2:
        raise SystemExit("expected 32-bit float stereo: %s" % (fmt,))
    if sys.byteorder != "little":
        samples.byteswap()
    return fmt[2], samples


def db(x):
    return 20 * math.log10(x) if x > 0 else float("-inf")


def main(argv):
    parser = argparse.ArgumentParser(prog="measure.py", description="RMS and peak per PatternList entry, "
                                     "overall level and clipping of a 32-bit float stereo WAV (render-song's).")
    parser.add_argument("wav", help="the WAV file")
    args = parser.parse_args(argv)
    rate, s = read_float_wav(args.wav)
    frames = len(s) // 2
    entries = (frames + FRAMES_PER_ENTRY - 1) // FRAMES_PER_ENTRY
    print("%d frames at %d Hz (%.3f s), %d entries" % (frames, rate, frames / rate, entries))
    total_sq, clipped, peak = 0.0, 0, 0.0
    print("entry  start_s   rms_dBFS  peak_dBFS  at+-1")
    for e in range(entries):
        chunk = s[2 * e * FRAMES_PER_ENTRY: 2 * min(frames, (e + 1) * FRAMES_PER_ENTRY)]
        sq = math.fsum(x * x for x in chunk)
        pk = max(abs(min(chunk)), abs(max(chunk)))
        clip = sum(1 for x in chunk if x >= 1.0 or x <= -1.0)
        clipped += clip
        total_sq += sq
        peak = max(peak, pk)
        rms = math.sqrt(sq / len(chunk))
        print("%5d  %7.2f  %8.1f  %8.1f  %6d  %s" % (e, e * FRAMES_PER_ENTRY / rate, db(rms), db(pk),
                                                    clip, "#" * max(0, int((db(rms) + 60) / 1.5))))
    print("overall RMS %.1f dBFS, peak %.2f dBFS (%.4f), samples at +-1.0: %d" %
          (db(math.sqrt(total_sq / len(s))), db(peak), peak, clipped))


if __name__ == "__main__":
    main(sys.argv[1:])
