"""The song generator (tools/song-gen): the song that it composes has every
count that it promises, its check (the one check of the song's Pattern rules)
finds counts that are off and passes the committed data, it writes the
committed synth/song_data.cpp byte for byte, and it refuses an argument that
it does not know before it writes anything."""
import contextlib
import io
import os
import re
import subprocess
import sys
import tempfile
import unittest

ROOT = os.path.normpath(os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", ".."))
sys.path.insert(0, os.path.join(ROOT, "tools", "song-gen"))

import checks  # noqa: E402
import compose  # noqa: E402
import emit  # noqa: E402
import song_parse  # noqa: E402


def committed_tables():
    """The Pattern table (163 Patterns of 16 rows) and the 16 PatternLists (109
    entries each) of the committed synth/song_data.cpp."""
    with open(os.path.join(ROOT, "synth", "song_data.cpp"), encoding="utf-8") as source:
        text = source.read()

    def table(name):
        body = re.search(r"\b%s\[\d+\] = \{(.*?)\};" % name, text, re.S).group(1)
        return [int(word) for word in re.findall(r"\b\d+\b", re.sub(r"//[^\n]*", "", body))]

    rows = table("PATTERN_TABLE")
    entries = table("PATTERN_LIST_TABLE")
    return [rows[k:k + 16] for k in range(0, len(rows), 16)], [entries[k:k + 109] for k in range(0, len(entries), 109)]


class SongGenerator(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.lists = song_parse.pattern_lists()
        cls.tracks = song_parse.tracks_table()
        cls.fixed = song_parse.fixed_patterns()
        with contextlib.redirect_stdout(io.StringIO()):
            cls.patterns, cls.summary = compose.compose(cls.lists, cls.tracks, cls.fixed)

    def test_every_track_and_the_table_get_their_counts(self):
        self.assertEqual(len(self.patterns), 163)
        for t, rule in enumerate(self.tracks):
            played = [b for p in self.lists[t] for b in self.patterns[p]]
            notes = sum(1 for b in played if b >= 2)
            holds = played.count(1)
            self.assertEqual((notes, holds), (rule.notes, rule.holds), "Track %d" % t)
        table = [b for pat in self.patterns for b in pat]
        self.assertEqual(table.count(0), checks.TABLE_RELEASES)
        self.assertEqual(table.count(1), checks.TABLE_HOLDS)
        self.assertEqual(sum(1 for b in table if b >= 2), checks.TABLE_NOTES)
        self.assertEqual(checks.check(self.patterns, self.lists, self.tracks, self.fixed), [])

    def test_the_check_finds_counts_that_are_off(self):
        # The last hold of a composed Pattern made a release: one hold fewer
        # in the table and in every Track that plays it.
        patterns = [list(pat) for pat in self.patterns]
        p = next(p for p in range(1, 163) if p not in self.fixed and patterns[p][15] == 1)
        patterns[p][15] = 0
        fails = checks.check(patterns, self.lists, self.tracks, self.fixed)
        self.assertIn("hold rows %d != %d" % (checks.TABLE_HOLDS - 1, checks.TABLE_HOLDS), fails)
        players = {t for t, lst in enumerate(self.lists) if p in lst}
        self.assertTrue(players)
        for t in players:
            self.assertTrue(any(f.startswith("Track %d counts" % t) for f in fails), (t, fails))

    def test_the_committed_song_data_keeps_every_rule(self):
        # The one check of the Pattern table and the PatternLists, on what the
        # synthesizer plays.
        patterns, lists = committed_tables()
        self.assertEqual(checks.check(patterns, lists, self.tracks, self.fixed), [])

    def test_writes_the_committed_song_data(self):
        cmd, par = song_parse.streams()
        with tempfile.TemporaryDirectory() as folder:
            out = os.path.join(folder, "song_data.cpp")
            emit.write_cpp(out, self.patterns, self.lists, cmd, par, song_parse.delay_time_table(),
                           song_parse.instruments(), self.summary)
            with open(out, "rb") as written, open(os.path.join(ROOT, "synth", "song_data.cpp"), "rb") as committed:
                self.assertEqual(written.read(), committed.read(),
                                 "synth/song_data.cpp is not what python3 tools/song-gen/song_gen.py writes")

    def test_an_unknown_argument_writes_nothing(self):
        # A mistyped --check must not go on to write the file.
        data = os.path.join(ROOT, "synth", "song_data.cpp")
        before = os.stat(data).st_mtime_ns
        run = subprocess.run([sys.executable, os.path.join(ROOT, "tools", "song-gen", "song_gen.py"), "--chek"],
                             capture_output=True, text=True)
        self.assertEqual(run.returncode, 2)
        self.assertIn("unrecognized arguments: --chek", run.stderr)
        self.assertEqual(run.stdout, "")
        self.assertEqual(os.stat(data).st_mtime_ns, before)


if __name__ == "__main__":
    unittest.main()
