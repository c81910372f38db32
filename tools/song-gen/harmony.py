"""The song's harmony, in A minor: one harmony per PatternList entry, shared by
every Track, as a pair of chords (rows 0 to 7, rows 8 to 15; most entries keep
one chord throughout).

The intro (entries 0-15) runs Am F C G Am F Dm E twice. The main cycle of eight
entries, Am F C G | Dm F Am Esus-E, starts at entries 20, 28, 52, 74, 82, 90
and 98 (the PatternLists reuse Patterns at exactly those distances, and
Pattern 6 ties its Dm to the intro's). The bridge (44-51) goes C7 F, then
climbs A7 (over C#) and D, and falls back to C; the groove Tracks hold an A
pedal under everything else.
"""

# Pitch classes (0 = C) of each chord, and its root.
CHORDS = {
    "Am": (9, 0, 4), "F": (5, 9, 0), "C": (0, 4, 7), "G": (7, 11, 2), "Dm": (2, 5, 9),
    "Fmaj": (5, 9, 0), "E": (4, 8, 11), "Esus": (4, 9, 11), "C7": (0, 4, 7, 10), "A7": (9, 1, 4, 7),
    "D": (2, 6, 9), "Caug": (0, 4, 8),
}
ROOT = {"Am": 9, "F": 5, "Fmaj": 5, "C": 0, "G": 7, "Dm": 2, "E": 4, "Esus": 4, "C7": 0,
        "A7": 1, "D": 2, "Caug": 0}   # A7 sits on its third, C#
# The scale that passing notes take over a chord: A minor, unless SCALES says
# otherwise.
MINOR = (9, 11, 0, 2, 4, 5, 7)
SCALES = {
    "E": (9, 11, 0, 2, 4, 5, 8), "Esus": (9, 11, 0, 2, 4, 5, 8), "Caug": (9, 11, 0, 2, 4, 5, 8),
    "C7": (0, 2, 4, 5, 7, 9, 10), "Fmaj": (5, 7, 9, 10, 0, 2, 4), "A7": (9, 11, 1, 2, 4, 5, 7), "D": (9, 11, 0, 2, 4, 6, 7),
}

CYCLE = ["Am", "F", "C", "G", "Dm", "F", "Am", ("Esus", "E")]
INTRO = ["Am", "F", "C", "G", "Am", "F", "Dm", ("Esus", "E")]


def harmony():
    """The (first chord, second chord) of each of the 109 entries."""
    h = ["Am"] * 109
    for i in range(16):
        h[i] = INTRO[i % 8]
    h[16:20] = ["Am", "C", "Dm", ("Esus", "E")]
    for start in (20, 28, 52, 74, 82, 90, 98):
        for k in range(8):
            if start + k < 106:
                h[start + k] = CYCLE[k]
    h[36:44] = ["Am", "F", "Am", "F", "Am", "F", "Dm", "Dm"]
    h[44:52] = ["C7", "Fmaj", "A7", "A7", "D", "D", "C", ("C", "Caug")]
    h[62:66] = h[16:20]
    for k in range(7):
        h[66 + k] = CYCLE[k]
    h[73] = "Esus"
    return [x if isinstance(x, tuple) else (x, x) for x in h]


def chord_at(h, row):
    """The chord of an entry's harmony `h` at a row."""
    return h[0] if row < 8 else h[1]


def scale_of(chord):
    """The pitch classes that passing notes over `chord` take."""
    return SCALES.get(chord, MINOR)
