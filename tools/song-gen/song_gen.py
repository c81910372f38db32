#!/usr/bin/env python3
"""Song generator: composes the song's Pattern table and writes synth/song_data.cpp.

Run by hand from anywhere (not by the build):

    python3 tools/song-gen/song_gen.py            # compose, check, write
    python3 tools/song-gen/song_gen.py --check    # compose and check only

Deterministic: the same script always writes the same file. Everything that the
song fixes (the PatternLists, the two streams, the DelayTimeTable, the Tracks
table and the Patterns fixed row by row) is parsed from the text of
song_text.py, with the unit formats of synth/song_format.h; the rest of the
Pattern table is composed in compose.py. Every constraint is checked
(checks.py) before anything is written.
"""
import argparse
import os
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)

import checks  # noqa: E402
import compose  # noqa: E402
import emit  # noqa: E402
import song_parse  # noqa: E402

ROOT = os.path.normpath(os.path.join(HERE, "..", ".."))
OUT = os.path.join(ROOT, "synth", "song_data.cpp")


def main(argv):
    parser = argparse.ArgumentParser(
        prog="song_gen.py",
        description="Composes the song's Pattern table, checks every count and rule of the song, "
                    "and writes synth/song_data.cpp.")
    parser.add_argument("--check", action="store_true", help="compose and check only; write nothing")
    args = parser.parse_args(argv)

    lists = song_parse.pattern_lists()
    instruments = song_parse.instruments()
    cmd, par = song_parse.streams()
    delay = song_parse.delay_time_table()
    tracks = song_parse.tracks_table()
    fixed = song_parse.fixed_patterns()

    assert len(cmd) == 281 and cmd.count(0) == 17 and len(par) == 913
    assert len(delay) == 26 and all(0 < d < 65536 for d in delay)

    patterns, summary = compose.compose(lists, tracks, fixed)

    fails = checks.check(patterns, lists, tracks, fixed)
    counts = checks.track_counts(patterns, lists)
    print("Track  new notes (target) holds (target)")
    for t in range(16):
        print("%5d  %4d (%4d)        %4d (%4d)" % (t, counts[t][0], tracks[t].notes,
                                                  counts[t][1], tracks[t].holds))
    flat = [b for pat in patterns for b in pat]
    print("table: release %d, hold %d, new %d" % (flat.count(0), flat.count(1),
                                                   sum(1 for b in flat if b >= 2)))
    if fails:
        print("CONSTRAINTS FAILED:")
        for f in fails:
            print("  " + f)
        return 1
    print("all constraints hold")
    if args.check:
        return 0
    emit.write_cpp(OUT, patterns, lists, cmd, par, delay, instruments, summary)
    print("wrote", OUT)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
