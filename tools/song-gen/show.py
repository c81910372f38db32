#!/usr/bin/env python3
"""Prints the composed song Track by Track, entry by entry, with note names:
a reading aid for the generator's output (python3 tools/song-gen/show.py [TRACK...])."""
import argparse
import os
import re
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import harmony  # noqa: E402
import song_parse  # noqa: E402

NAMES = ["C", "C#", "D", "D#", "E", "F", "F#", "G", "G#", "A", "A#", "B"]


def name(b):
    if b == 0:
        return "."
    if b == 1:
        return "-"
    return "%s%d" % (NAMES[b % 12], b // 12 - 1)


def load_patterns():
    src = open(os.path.join(HERE, "..", "..", "synth", "song_data.cpp")).read()
    body = src[src.index("PATTERN_TABLE[2608]"):]
    body = body[:body.index("};")]
    nums = [int(x) for x in re.findall(r"^\s*([\d,\s]+),\s*//", body, re.M) for x in x.split(",")]
    return [nums[16 * p:16 * p + 16] for p in range(163)]


def main(argv):
    parser = argparse.ArgumentParser(prog="show.py", description="Prints the song's Tracks entry by entry "
                                     "with note names, from synth/song_data.cpp.")
    parser.add_argument("tracks", nargs="*", type=int, choices=range(16), metavar="TRACK",
                        help="the Tracks to print, 0 to 15 (default all)")
    args = parser.parse_args(argv)
    lists = song_parse.pattern_lists()
    harm = harmony.harmony()
    pats = load_patterns()
    for t in args.tracks or range(16):
        print("Track %d" % t)
        for i, p in enumerate(lists[t]):
            if p == 0:
                continue
            h = harm[i][0] if harm[i][0] == harm[i][1] else "%s>%s" % harm[i]
            print("  %3d %-9s %3d  %s" % (i, h, p, " ".join("%-4s" % name(b) for b in pats[p])))


if __name__ == "__main__":
    main(sys.argv[1:])
