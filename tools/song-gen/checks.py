"""Every rule that the song sets the Pattern table, checked on the final data."""

# The table-wide counts of release, hold and new-note rows, and the note
# values that the table uses.
TABLE_RELEASES = 1100
TABLE_HOLDS = 1063
TABLE_NOTES = 445
NOTE_VALUES = [43, 45, 48, 49, 50, 52, 55, 57, 60, 61, 62, 64, 67, 69, 71, 72, 74, 76,
               77, 78, 79, 80, 81, 82, 84, 86, 88, 89, 90, 91, 92, 93, 94, 96, 98]
# Track 4's four-entry figure 67, 67, 68, 69: Pattern 67 holds one new note,
# on row 0, and Pattern 69 one, on row 2.
FIGURE_NOTE_ROWS = {67: [0], 69: [2]}


def usage(lists):
    """m[t][p]: how many entries of Track t's list name Pattern p."""
    m = [dict() for _ in range(16)]
    for t, lst in enumerate(lists):
        for p in lst:
            m[t][p] = m[t].get(p, 0) + 1
    return m


def track_counts(patterns, lists):
    """(new notes, holds) of each Track over the whole song."""
    out = []
    for t, lst in enumerate(lists):
        notes = sum(1 for p in lst for b in patterns[p] if b >= 2)
        holds = sum(1 for p in lst for b in patterns[p] if b == 1)
        out.append((notes, holds))
    return out


def check(patterns, lists, tracks, fixed):
    """Returns a list of failures (empty when every constraint holds).
    `tracks`: the TrackRule of each Track; `fixed`: the Patterns whose rows
    the song fixes."""
    fail = []
    if len(patterns) != 163:
        fail.append("163 Patterns")
    for p, pat in enumerate(patterns):
        if len(pat) != 16 or any(not (0 <= b <= 127) for b in pat):
            fail.append("Pattern %d: 16 bytes below 128" % p)
    for p, rows in fixed.items():
        if patterns[p] != rows:
            fail.append("fixed Pattern %d differs" % p)
    zero = [p for p, pat in enumerate(patterns) if all(b == 0 for b in pat)]
    if zero != [0]:
        fail.append("all-zero Patterns: %s" % zero)
    seen = {}
    for p, pat in enumerate(patterns):
        key = tuple(pat)
        if key in seen:
            fail.append("Patterns %d and %d are alike" % (seen[key], p))
        seen[key] = p
    for p in (4, 36):
        pat = patterns[p]
        if any(b >= 2 for b in pat):
            fail.append("Pattern %d starts a note" % p)
        k = 0
        while k < 16 and pat[k] == 1:
            k += 1
        if k == 0 or k == 16 or any(b != 0 for b in pat[k:]):
            fail.append("Pattern %d: holds then releases" % p)
    for p, rows in FIGURE_NOTE_ROWS.items():
        if [r for r, b in enumerate(patterns[p]) if b >= 2] != rows:
            fail.append("Pattern %d: new notes only on rows %s" % (p, rows))
    # Numbering by first use.
    order = []
    for lst in lists:
        for p in lst:
            if p != 0 and p not in order:
                order.append(p)
    if order != list(range(1, 163)):
        fail.append("numbering by first use")
    # Table-wide counts and note values.
    flat = [b for pat in patterns for b in pat]
    if flat.count(0) != TABLE_RELEASES:
        fail.append("release rows %d != %d" % (flat.count(0), TABLE_RELEASES))
    if flat.count(1) != TABLE_HOLDS:
        fail.append("hold rows %d != %d" % (flat.count(1), TABLE_HOLDS))
    notes = [b for b in flat if b >= 2]
    if len(notes) != TABLE_NOTES:
        fail.append("new notes %d != %d" % (len(notes), TABLE_NOTES))
    if sorted(set(notes)) != NOTE_VALUES:
        fail.append("note values %s" % sorted(set(notes)))
    # Per Track: rows, bytes, counts.
    counts = track_counts(patterns, lists)
    for t, lst in enumerate(lists):
        rule = tracks[t]
        for p in set(lst):
            for r, b in enumerate(patterns[p]):
                if b >= 2:
                    if r not in rule.rows:
                        fail.append("Track %d Pattern %d: note on row %d" % (t, p, r))
                    if b not in rule.bytes:
                        fail.append("Track %d Pattern %d: note byte %d" % (t, p, b))
        used_rows = {r for p in set(lst) for r, b in enumerate(patterns[p]) if b >= 2}
        used_bytes = {b for p in set(lst) for b in patterns[p] if b >= 2}
        if used_rows != set(rule.rows):
            fail.append("Track %d rows in use %s" % (t, sorted(used_rows)))
        if used_bytes != set(rule.bytes):
            fail.append("Track %d bytes in use %s" % (t, sorted(used_bytes)))
        prev = 0
        for i in range(109):
            for r in range(16):
                b = patterns[lst[i]][r]
                if b == 1 and prev == 0:
                    fail.append("Track %d Tick %d: a hold after a release" % (t, 16 * i + r))
                prev = b
        if counts[t] != (rule.notes, rule.holds):
            fail.append("Track %d counts %s != %s" % (t, counts[t], (rule.notes, rule.holds)))
        active = [i for i, p in enumerate(lst) if p != 0] or [-1]
        if (active[0], active[-1]) != (rule.first, rule.last):
            fail.append("Track %d active from entry %d to %d" % (t, active[0], active[-1]))
        if tuple(sorted(set(lst) - {0})) != rule.patterns:
            fail.append("Track %d plays Patterns %s" % (t, sorted(set(lst) - {0})))
    # The break, the end.
    for i in (60, 61):
        for t in range(16):
            if lists[t][i] != 0:
                fail.append("entry %d Track %d not Pattern 0" % (i, t))
    last = -1
    for t, lst in enumerate(lists):
        for i, p in enumerate(lst):
            for r, b in enumerate(patterns[p]):
                if b >= 2:
                    last = max(last, 16 * i + r)
            if i > 105 and p != 0:
                fail.append("Track %d entry %d after 105" % (t, i))
    if last != 1668:
        fail.append("last new note at Tick %d != 1668" % last)
    return fail
