"""Writes one Pattern from its Track's role, its harmony and its counts of new
notes and holds: the rows that its notes start on, the holds after each, and
the notes, a line for the melodic roles (going on from the Track's last note),
broken chords for the arpeggio, roots for the bass, one byte for percussion,
pedal and bell."""
import itertools
from dataclasses import dataclass

from harmony import CHORDS, ROOT, chord_at, scale_of
from roles import PatternInfo


@dataclass
class PatternPlan:
    """What a Pattern is to hold."""
    info: PatternInfo
    notes: int      # new notes
    holds: int      # hold rows
    harmony: tuple  # the harmony of the entries that play it
    variant: int    # varies the figure between Patterns of one role


# Row orders by role: the rows that a Pattern's notes fill first.
ROW_ORDER = {
    "lead": [0, 8, 12, 4, 6, 14, 10, 2, 11, 15, 7, 13, 1],
    "melody": [0, 8, 4, 12, 2, 10, 14, 6, 1, 3, 9, 11, 13, 15],
    "bass": [0, 8, 4, 12, 10, 14, 6, 2],
    "perc": [0, 4, 8, 12, 14, 2],
    "high": [0, 8, 12, 4, 6, 14, 9, 1],
    "counter": [0, 8, 4, 12, 10, 2, 14, 7, 3, 11, 5, 15],
    "arp": [0, 2, 4, 6, 8, 10, 12, 14],
    "pedal": [0, 2, 15],
    "bell": [6, 12, 8, 10, 14],
    "pad": [0, 8, 12],
    "answer": [4, 12],
}

# The lowest and highest notes that a role's line aims at.
REGISTER = {"lead": (67, 88), "melody": (69, 86), "high": (76, 98), "counter": (55, 79),
            "arp": (57, 81), "pad": (69, 86), "answer": (67, 82), "bell": (81, 81),
            "bass": (43, 64), "pedal": (57, 62), "perc": (48, 60)}

# Steps through the candidate notes, from the note nearest the last one,
# that a role's line takes from note to note.
MOTIFS = {
    "lead": [0, 1, 1, -2, 2, -1, 0, -1, 1],
    "melody": [0, 0, 1, -1, 2, 0, -2, 1],
    "high": [0, 2, -1, 1, -2],
    "counter": [0, -1, 1, 1, -2, 0, 1],
    "answer": [0, -1, 1],
    "pad": [0, 1, -1],
}


def pick_rows(inf, n, variant):
    """The n rows that a Pattern's notes start on, the role's important rows
    first; `variant` varies which of the others."""
    role = inf.role
    order = [r for r in ROW_ORDER.get(role, inf.rows) if r in inf.rows]
    order += [r for r in inf.rows if r not in order]
    if not inf.holds:
        combos = list(itertools.combinations(order, n))
        return sorted(combos[variant % len(combos)])
    first = min(inf.rows)
    rest = [r for r in order if r != first]
    if variant and len(rest) > n - 1:
        # Vary which of the less important rows are taken.
        k = variant % (len(rest) - (n - 1) + 1)
        keep = rest[: max(0, n - 1 - 1)]
        tail = rest[max(0, n - 1 - 1):]
        rest = keep + tail[k:] + tail[:k]
    chosen = sorted([first] + rest[: n - 1])
    return chosen


def spread_holds(rows, h, legato):
    """Holds after each note, never past the next note; legato fills notes in order."""
    n = len(rows)
    cap = [(rows[i + 1] if i + 1 < n else 16) - rows[i] - 1 for i in range(n)]
    give = [0] * n
    left = h
    if legato:
        for i in range(n):
            g = min(cap[i], left)
            give[i] = g
            left -= g
    else:
        while left > 0:
            moved = False
            for i in range(n):
                if left and give[i] < cap[i]:
                    give[i] += 1
                    left -= 1
                    moved = True
            if not moved:
                break
    assert left == 0, (rows, h)
    return give


def pool(byts, pcs, lo, hi):
    """The note bytes of the pitch classes pcs within lo..hi."""
    return [b for b in byts if b % 12 in pcs and lo <= b <= hi]


def nearest(cands, x):
    """The candidate nearest to x (the lower of two as near)."""
    return min(cands, key=lambda b: (abs(b - x), b))


def realize_pattern(plan, last_notes, attempt=0):
    """The rows of the Pattern that `plan` describes. `last_notes`: the last
    note so far of each Track's line, which the line goes on from (and which
    this moves on); `attempt` counts the tries for a Pattern unlike every
    other and varies the figure."""
    inf, n, h, harm, variant = plan.info, plan.notes, plan.holds, plan.harmony, plan.variant
    role = inf.role
    byts = inf.bytes
    rows = pick_rows(inf, n, (variant + attempt // 6) if inf.holds else attempt)
    lo, hi = REGISTER[role]
    pat = [0] * 16
    give = spread_holds(rows, h, legato=role in ("pad", "high", "lead", "answer", "counter"))
    length = dict(zip(rows, give))
    if role in ("lead", "high", "counter", "answer", "pad", "melody"):
        motif = MOTIFS[role]
        prev = last_notes.get(inf.tracks[0], (lo + hi) // 2)
        step_i = variant % len(motif)
        for j, r in enumerate(rows):
            ch = chord_at(harm, r)
            # A note on the beat, or one held over several Ticks, is a tone of
            # every chord that it sounds over; a short one between may pass.
            strong = r % 4 == 0 or role == "pad" or length[r] >= 2
            span = {chord_at(harm, q) for q in range(r, r + 1 + length[r])}
            if strong:
                pcs = set(CHORDS[ch])
                for c in span:
                    pcs &= set(CHORDS[c])
                pcs = pcs or set(CHORDS[ch])
            else:
                pcs = scale_of(ch)
            cands = pool(byts, pcs, lo, hi) or pool(byts, CHORDS[ch], 0, 127) or \
                pool(byts, scale_of(ch), 0, 127) or byts
            cands = sorted(set(cands))
            if j == 0:
                aim = prev + (variant % 3 - 1) * 3
                near = sorted(cands, key=lambda b: (abs(b - aim), b))
                wider = sorted(set(pool(byts, CHORDS[ch], 0, 127)) - set(near),
                               key=lambda b: (abs(b - aim), b))
                near += wider
                near += sorted(set(pool(byts, scale_of(ch), 0, 127)) - set(near),
                               key=lambda b: (abs(b - aim), b))
                b = near[attempt % len(near)]
            else:
                idx = min(range(len(cands)), key=lambda k: abs(cands[k] - prev))
                idx += motif[(step_i + j) % len(motif)]
                idx = max(0, min(len(cands) - 1, idx))
                b = cands[idx]
                if b == prev and role != "melody" and len(cands) > 1:
                    b = cands[idx - 1] if idx > 0 else cands[idx + 1]
            pat[r] = b
            prev = b
        last_notes[inf.tracks[0]] = prev
        if role == "melody":
            # A low root under the line, where the Track's low notes have it.
            ch = chord_at(harm, rows[-1])
            lows = [b for b in byts if b < 60 and b % 12 == ROOT[ch]]
            if lows and n >= 3:
                pat[rows[-1]] = lows[0]
    elif role == "arp":
        for j, r in enumerate(rows):
            ch = chord_at(harm, r)
            cands = sorted(set(pool(byts, CHORDS[ch], lo, hi)))
            seq = cands + cands[-2:0:-1]
            pat[r] = seq[(j + variant) % len(seq)]
    elif role == "bass":
        for j, r in enumerate(rows):
            ch = chord_at(harm, r)
            root = ROOT[ch]
            # Tracks that hold the pedal play A under everything but the bridge.
            if inf.tracks[0] in (2, 3) and harm[0] not in ("C7", "A7", "D", "C"):
                root = 9
            if inf.tracks[0] == 7 and ch == "F":
                root = 9 if j % 2 == 0 else 0
            if inf.tracks[0] == 7 and ch in ("Esus", "E") and j == 0 and root not in byts:
                root = 4
            cands = sorted(b for b in byts if b % 12 == root) or \
                sorted(b for b in byts if b % 12 in CHORDS[ch])
            k = (j + variant) % len(cands) if (j + variant) % 3 == 2 else 0
            pat[r] = cands[k]
        # A fill, when the plain figure is taken already: the last notes climb
        # through the scale from the root.
        if attempt:
            ch = chord_at(harm, rows[-1])
            scale = sorted(b for b in byts if b % 12 in scale_of(ch) and b > pat[rows[0]])
            for j in range(min(attempt, len(rows) - 1, len(scale))):
                pat[rows[len(rows) - 1 - j]] = scale[min(len(scale) - 1, attempt - 1 - j)]
    elif role in ("perc", "pedal", "bell"):
        for r in rows:
            pat[r] = byts[0]
    for r, g in zip(rows, give):
        for k in range(1, g + 1):
            pat[r + k] = 1
    return pat
