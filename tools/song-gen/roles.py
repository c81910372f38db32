"""What each Track plays and what each Pattern is for.

Roles: Track 0 lead, 1 melody over a pulsing A, 2, 3 and 7 bass, 4, 5 and 6
percussion, 8 high lead, 9 counter-melody, 10 arpeggio on every even Tick,
11 and 12 pedal, 13 a bell on A, 14 pad, 15 an answering line.
"""
from dataclasses import dataclass, field

ROLE = {0: "lead", 1: "melody", 2: "bass", 3: "bass", 4: "perc", 5: "perc", 6: "perc",
        7: "bass", 8: "high", 9: "counter", 10: "arp", 11: "pedal", 12: "pedal",
        13: "bell", 14: "pad", 15: "answer"}

# Patterns whose content is settled here, beside those that the song fixes
# row by row: Track 4's figure 67, 67, 68, 69 (one note on row 0, two, one on
# row 2) and its pickup 66; Track 11 and 12's pedal 133/134 and the bridge
# 135-137.
FORCED = {
    66: [0] * 12 + [60] + [0] * 3,
    67: [60] + [0] * 15,
    69: [0, 0, 60] + [0] * 13,
    133: [57, 0, 57] + [0] * 12 + [57],
    134: [57, 0, 57] + [0] * 13,
    135: [60, 0, 60] + [0] * 13,
    136: [61, 0, 61] + [0] * 13,
    137: [62, 0, 62] + [0] * 13,
    # Track 1's pulse under the groove: A4 at the top of every entry.
    37: [69] + [0] * 15,
    # Track 7, the intro bass (A, F over A... C then G, D then E, held into
    # the Pattern 4 after them) and the groove's octave bounce on A.
    75: [45] + [1] * 11 + [0] * 4,
    76: [48] + [1] * 6 + [0] * 9,
    77: [48] + [1] * 5 + [43] + [1] * 9,
    78: [64, 1, 1, 1] + [0] * 12,
    79: [50] + [1] * 7 + [52] + [1] * 7,
    80: [45, 1, 0, 0, 57] + [0] * 11,
    # Track 14's pad at the end of the cycle: the suspension resolves, A or E
    # to G#, when the E chord arrives on row 8.
    148: [81] + [1] * 7 + [80] + [1] * 7,
    149: [76] + [1] * 7 + [80] + [1] * 6 + [0],
    # The pad note that the song ends on (Tracks 8, 9 and 14): E over A minor.
    107: [76] + [1] * 15,
}

# Patterns 4 and 36 hold the note before them, then release.
HOLDING = (4, 36)

# Preferred (notes, holds) per Pattern of one use, by role: the count solver
# keeps near these while it meets the counts.
PREFER = {
    "lead": (3, 11), "melody": (6, 0), "bass": (3, 0), "perc": (1, 0), "high": (2, 12),
    "counter": (3, 9), "arp": (7, 4), "pedal": (2, 0), "bell": (2, 1), "pad": (1, 14),
    "answer": (1, 5),
}

# The Patterns that a Track repeats all through the groove decide most of its
# counts; their values are chosen here (the Track 7 figure leaves room for the
# long intro notes, Track 3's fourth entry is the busy one).
PREFER_PATTERN = {58: (3, 0), 59: (4, 0), 70: (2, 0), 73: (1, 0)}


@dataclass
class PatternInfo:
    """What the Tracks that play a Pattern allow in it."""
    tracks: list   # the Tracks that play it, in order
    rows: list     # the rows on which all of them may start a note
    bytes: list    # the note bytes that all of them may play
    holds: bool    # all of them hold notes somewhere
    uses: list     # (Track, entry) of every place it is played
    role: str      # the role of its first Track
    sustain: bool = field(default=False)  # a Pattern 4 or 36 follows it somewhere


def pattern_info(lists, tracks):
    """PatternInfo of Patterns 1 to 162 from the PatternLists and the Tracks table."""
    users, uses = {}, {}
    for t, lst in enumerate(lists):
        for i, p in enumerate(lst):
            users.setdefault(p, set()).add(t)
            uses.setdefault(p, []).append((t, i))
    info = {}
    for p in range(1, 163):
        ts = sorted(users[p])
        rows = sorted(set.intersection(*[set(tracks[t].rows) for t in ts]))
        byts = sorted(set.intersection(*[set(tracks[t].bytes) for t in ts]))
        holds = all(tracks[t].holds > 0 for t in ts)
        info[p] = PatternInfo(tracks=ts, rows=rows, bytes=byts, holds=holds, uses=uses[p], role=ROLE[ts[0]])
    # The song's last new note is Track 15's, at entry 104, row 4: nothing that
    # plays at entry 104 may start a note later than that.
    info[107].rows = [0]
    info[162].rows = [4]
    # What precedes a Pattern that holds the note before it ends sounding.
    for lst in lists:
        for i in range(1, len(lst)):
            if lst[i] in HOLDING and lst[i - 1] not in (0,) + HOLDING:
                info[lst[i - 1]].sustain = True
    return info
