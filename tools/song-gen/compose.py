"""Composes the Pattern table.

The plan, in A minor:

* One harmony per PatternList entry, shared by every Track (a second chord may
  take over from row 8 on). The intro (entries 0-15) runs Am F C G Am F Dm E
  twice. The main cycle of eight entries, Am F C G | Dm F Am Esus-E, starts at
  entries 20, 28, 52, 74, 82, 90 and 98 (the PatternLists reuse Patterns at
  exactly those distances, and Pattern 6 ties its Dm to the intro's). The
  bridge (44-51) goes C7 F, then climbs A7 (over C#) and D, and falls back to
  C; the groove Tracks hold an A pedal under everything else.
* Roles: Track 0 lead, 1 melody over a pulsing A, 2, 3 and 7 bass, 4, 5 and 6
  percussion, 8 high lead, 9 counter-melody, 10 arpeggio on every even Tick,
  11 and 12 pedal, 13 a bell on A, 14 pad, 15 an answering line.
* First the number of new notes and holds of every Pattern is solved so that
  each Track's whole-song counts and the table-wide counts come out exactly
  (solve_counts); then every Pattern is written from its Track's role, its
  harmony and those two numbers (realize_pattern), no two alike; last, a few
  count-keeping edits make every Track use each of its rows and note bytes
  (cover).
"""

import itertools

import checks

# ---------------------------------------------------------------- harmony ---

CHORDS = {
    "Am": (9, 0, 4), "F": (5, 9, 0), "C": (0, 4, 7), "G": (7, 11, 2), "Dm": (2, 5, 9),
    "Fmaj": (5, 9, 0), "E": (4, 8, 11), "Esus": (4, 9, 11), "C7": (0, 4, 7, 10), "A7": (9, 1, 4, 7),
    "D": (2, 6, 9), "Caug": (0, 4, 8),
}
ROOT = {"Am": 9, "F": 5, "Fmaj": 5, "C": 0, "G": 7, "Dm": 2, "E": 4, "Esus": 4, "C7": 0,
        "A7": 1, "D": 2, "Caug": 0}   # A7 sits on its third, C#
MINOR = (9, 11, 0, 2, 4, 5, 7)
SCALES = {
    "E": (9, 11, 0, 2, 4, 5, 8), "Esus": (9, 11, 0, 2, 4, 5, 8), "Caug": (9, 11, 0, 2, 4, 5, 8),
    "C7": (0, 2, 4, 5, 7, 9, 10), "Fmaj": (5, 7, 9, 10, 0, 2, 4), "A7": (9, 11, 1, 2, 4, 5, 7), "D": (9, 11, 0, 2, 4, 6, 7),
}

CYCLE = ["Am", "F", "C", "G", "Dm", "F", "Am", ("Esus", "E")]
INTRO = ["Am", "F", "C", "G", "Am", "F", "Dm", ("Esus", "E")]


def harmony():
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
    return h[0] if row < 8 else h[1]


# ------------------------------------------------------ deterministic noise ---

class Lcg:
    def __init__(self, seed):
        self.s = seed & 0xFFFFFFFF

    def next(self):
        self.s = (1103515245 * self.s + 12345) & 0x7FFFFFFF
        return self.s

    def below(self, n):
        return (self.next() >> 8) % n


# ------------------------------------------------------------------ roles ---

ROLE = {0: "lead", 1: "melody", 2: "bass", 3: "bass", 4: "perc", 5: "perc", 6: "perc",
        7: "bass", 8: "high", 9: "counter", 10: "arp", 11: "pedal", 12: "pedal",
        13: "bell", 14: "pad", 15: "answer"}

# Patterns whose content is already settled, beyond those shown in full:
# Track 4's figure 67, 67, 68, 69 (one note on row 0, two, one on row 2) and
# its pickup 66; Track 11 and 12's pedal 133/134 and the bridge 135-137.
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

# Preferred (notes, holds) per Pattern of one use, by role: the solver keeps
# near these while it meets the counts.
PREFER = {
    "lead": (3, 11), "melody": (6, 0), "bass": (3, 0), "perc": (1, 0), "high": (2, 12),
    "counter": (3, 9), "arp": (7, 4), "pedal": (2, 0), "bell": (2, 1), "pad": (1, 14),
    "answer": (1, 5),
}


# The Patterns that a Track repeats all through the groove decide most of its
# counts; their values are chosen here (the Track 7 figure leaves room for the
# long intro notes, Track 3's fourth entry is the busy one).
PREFER_PATTERN = {58: (3, 0), 59: (4, 0), 70: (2, 0), 73: (1, 0)}


def pattern_info(lists, tracks):
    users, uses = {}, {}
    for t, lst in enumerate(lists):
        for i, p in enumerate(lst):
            users.setdefault(p, set()).add(t)
            uses.setdefault(p, []).append((t, i))
    info = {}
    for p in range(1, 163):
        ts = sorted(users[p])
        rows = sorted(set.intersection(*[set(tracks[t]["rows"]) for t in ts]))
        byts = sorted(set.intersection(*[set(tracks[t]["bytes"]) for t in ts]))
        holds = all(tracks[t]["holds"] > 0 for t in ts)
        info[p] = dict(tracks=ts, rows=rows, bytes=byts, holds=holds, uses=uses[p],
                       role=ROLE[ts[0]])
    # The song's last new note is Track 15's, at entry 104, row 4: nothing that
    # plays at entry 104 may start a note later than that.
    info[107]["rows"] = [0]
    info[162]["rows"] = [4]
    # Patterns 4 and 36 hold the note before them: what precedes them ends sounding.
    for p in info:
        info[p]["sustain"] = False
    for lst in lists:
        for i in range(1, len(lst)):
            if lst[i] in (4, 36) and lst[i - 1] not in (0, 4, 36):
                info[lst[i - 1]]["sustain"] = True
    return info


# ------------------------------------------------------------ count solver ---

def domain(p, inf, fixed):
    if p in fixed:
        pat = fixed[p]
        return [(sum(1 for b in pat if b >= 2), pat.count(1))]
    if p == 36:
        return [(0, h) for h in range(1, 16)]
    rows = inf["rows"]
    out = []
    for n in range(1, len(rows) + 1):
        cap = 16 - n - rows[0] if inf["holds"] else 0
        for h in range(cap if inf["sustain"] else 0, cap + 1):
            out.append((n, h))
    return out


def solve_counts(lists, tracks, info, fixed, seed):
    """Chooses (notes, holds) for each Pattern so that all counts are met."""
    pats = list(range(1, 163))
    mult = {p: {} for p in pats}
    for t, lst in enumerate(lists):
        for p in lst:
            if p:
                mult[p][t] = mult[p].get(t, 0) + 1
    doms = {p: domain(p, info[p], fixed) for p in pats}

    def pref_cost(p, v):
        if p in fixed or p == 36:
            return 0.0 if p != 36 else abs(v[1] - 4) * 0.5
        role = info[p]["role"]
        pn, ph = PREFER_PATTERN.get(p, PREFER[role])
        if not info[p]["holds"]:
            ph = 0
        ph = min(ph, 16 - v[0] - info[p]["rows"][0]) if info[p]["holds"] else 0
        cost = (v[0] - pn) ** 2 * 1.0 + abs(v[1] - ph) * 0.3
        if v[0] == 1 and v[1] == 15 - info[p]["rows"][0]:
            # One note held to the end: few of those can differ from each other.
            cost += 4.0 if len(info[p]["tracks"]) > 1 else 1.0
        return cost

    # Start from the preferred value of each domain.
    val = {p: min(doms[p], key=lambda v: pref_cost(p, v)) for p in pats}
    tn = [0] * 16
    th = [0] * 16
    for p in pats:
        for t, m in mult[p].items():
            tn[t] += m * val[p][0]
            th[t] += m * val[p][1]
    gn = sum(val[p][0] for p in pats)
    gh = sum(val[p][1] for p in pats)
    target_gn, target_gh = 445, 1063

    def err(tn, th, gn, gh):
        e = abs(gn - target_gn) + abs(gh - target_gh)
        for t in range(16):
            e += abs(tn[t] - tracks[t]["notes"]) + abs(th[t] - tracks[t]["holds"])
        return e

    cur_err = err(tn, th, gn, gh)
    cur_pref = sum(pref_cost(p, val[p]) for p in pats)
    rng = Lcg(seed)
    free = [p for p in pats if len(doms[p]) > 1]
    dom_sets = {p: set(doms[p]) for p in pats}
    by_track = [[p for p in free if t in mult[p]] for t in range(16)]
    steps = 400000
    for step in range(steps):
        frac = step / steps
        temp = 2.0 * (1.0 - frac) + 0.05
        big = 2.0 + 60.0 * frac
        if rng.below(2):
            # One Pattern takes another value.
            p = free[rng.below(len(free))]
            change = [(p, doms[p][rng.below(len(doms[p]))])]
        else:
            # Two Patterns of one Track change so that the Track's count stays.
            t = rng.below(16)
            own = by_track[t]
            if len(own) < 2:
                continue
            a, b = own[rng.below(len(own))], own[rng.below(len(own))]
            if a == b:
                continue
            k = rng.below(2)
            d = 1 if rng.below(2) else -1
            ma, mb = mult[a][t], mult[b][t]
            if (d * ma) % mb:
                continue
            va, vb = list(val[a]), list(val[b])
            va[k] += d
            vb[k] -= d * ma // mb
            va, vb = tuple(va), tuple(vb)
            if va not in dom_sets[a] or vb not in dom_sets[b]:
                continue
            change = [(a, va), (b, vb)]
        if all(val[p] == new for p, new in change):
            continue
        saved = [(p, val[p]) for p, _ in change]
        new_pref = cur_pref
        for p, new in change:
            old = val[p]
            dn, dh = new[0] - old[0], new[1] - old[1]
            for t, m in mult[p].items():
                tn[t] += m * dn
                th[t] += m * dh
            gn += dn
            gh += dh
            new_pref += pref_cost(p, new) - pref_cost(p, old)
            val[p] = new
        new_err = err(tn, th, gn, gh)
        delta = big * (new_err - cur_err) + (new_pref - cur_pref)
        accept = delta <= 0 or rng.below(1000000) < 1000000 * pow(2.718281828, -delta / temp)
        if accept:
            cur_err, cur_pref = new_err, new_pref
            continue
        for p, old in reversed(saved):
            new = val[p]
            dn, dh = new[0] - old[0], new[1] - old[1]
            for t, m in mult[p].items():
                tn[t] -= m * dn
                th[t] -= m * dh
            gn -= dn
            gh -= dh
            val[p] = old
    if cur_err:
        cur_err = repair(val, doms, mult, free, tracks, tn, th, gn, gh, pref_cost)
    if cur_err:
        print("  off: global n %d h %d;" % (gn - target_gn, gh - target_gh),
              ["T%d n%+d h%+d" % (t, tn[t] - tracks[t]["notes"], th[t] - tracks[t]["holds"])
               for t in range(16) if (tn[t], th[t]) != (tracks[t]["notes"], tracks[t]["holds"])])
    return val, cur_err


def repair(val, doms, mult, free, tracks, tn, th, gn, gh, pref_cost):
    """Closes a small residual exactly with one or two changes of Pattern values:
    every change has an effect on the 34 counts; a pair whose effects cancel the
    residual is looked up by its effect."""
    def effect(p, new):
        old = val[p]
        dn, dh = new[0] - old[0], new[1] - old[1]
        e = [0] * 34
        for t, m in mult[p].items():
            e[t] = m * dn
            e[16 + t] = m * dh
        e[32], e[33] = dn, dh
        return tuple(e)

    offset = [tn[t] - tracks[t]["notes"] for t in range(16)] + \
        [th[t] - tracks[t]["holds"] for t in range(16)] + [gn - 445, gh - 1063]
    need = tuple(-x for x in offset)
    moves = {}
    for p in free:
        for v in doms[p]:
            if v != val[p]:
                moves.setdefault(effect(p, v), []).append((p, v))
    best = None
    for (p, v) in moves.get(need, []):
        cost = pref_cost(p, v) - pref_cost(p, val[p])
        if best is None or cost < best[0]:
            best = (cost, [(p, v)])
    for e1, ms1 in moves.items():
        e2 = tuple(a - b for a, b in zip(need, e1))
        for (p, v) in ms1:
            for (q, w) in moves.get(e2, []):
                if q == p:
                    continue
                cost = (pref_cost(p, v) - pref_cost(p, val[p]) +
                        pref_cost(q, w) - pref_cost(q, val[q]))
                if best is None or cost < best[0]:
                    best = (cost, [(p, v), (q, w)])
    if best is None:
        return sum(abs(x) for x in offset)
    for p, v in best[1]:
        val[p] = v
    return 0


# ---------------------------------------------------------------- realize ---

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

REGISTER = {"lead": (67, 88), "melody": (69, 86), "high": (76, 98), "counter": (55, 79),
            "arp": (57, 81), "pad": (69, 86), "answer": (67, 82), "bell": (81, 81),
            "bass": (43, 64), "pedal": (57, 62), "perc": (48, 60)}

MOTIFS = {
    "lead": [0, 1, 1, -2, 2, -1, 0, -1, 1],
    "melody": [0, 0, 1, -1, 2, 0, -2, 1],
    "high": [0, 2, -1, 1, -2],
    "counter": [0, -1, 1, 1, -2, 0, 1],
    "answer": [0, -1, 1],
    "pad": [0, 1, -1],
}


def pick_rows(inf, n, variant):
    role = inf["role"]
    order = [r for r in ROW_ORDER.get(role, inf["rows"]) if r in inf["rows"]]
    order += [r for r in inf["rows"] if r not in order]
    if not inf["holds"]:
        combos = list(itertools.combinations(order, n))
        return sorted(combos[variant % len(combos)])
    first = min(inf["rows"])
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
    return [b for b in byts if b % 12 in pcs and lo <= b <= hi]


def nearest(cands, x):
    return min(cands, key=lambda b: (abs(b - x), b))


def realize_pattern(p, inf, nh, harm, variant, state, attempt=0):
    n, h = nh
    role = inf["role"]
    byts = inf["bytes"]
    rows = pick_rows(inf, n, (variant + attempt // 6) if inf["holds"] else attempt)
    lo, hi = REGISTER[role]
    pat = [0] * 16
    give = spread_holds(rows, h, legato=role in ("pad", "high", "lead", "answer", "counter"))
    length = dict(zip(rows, give))
    if role in ("lead", "high", "counter", "answer", "pad", "melody"):
        motif = MOTIFS[role]
        prev = state.get(inf["tracks"][0], (lo + hi) // 2)
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
                pcs = SCALES.get(ch, MINOR)
            cands = pool(byts, pcs, lo, hi) or pool(byts, CHORDS[ch], 0, 127) or \
                pool(byts, SCALES.get(ch, MINOR), 0, 127) or byts
            cands = sorted(set(cands))
            if j == 0:
                aim = prev + (variant % 3 - 1) * 3
                near = sorted(cands, key=lambda b: (abs(b - aim), b))
                wider = sorted(set(pool(byts, CHORDS[ch], 0, 127)) - set(near),
                               key=lambda b: (abs(b - aim), b))
                near += wider
                near += sorted(set(pool(byts, SCALES.get(ch, MINOR), 0, 127)) - set(near),
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
        state[inf["tracks"][0]] = prev
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
            if inf["tracks"][0] in (2, 3) and harm[0] not in ("C7", "A7", "D", "C"):
                root = 9
            if inf["tracks"][0] == 7 and ch == "F":
                root = 9 if j % 2 == 0 else 0
            if inf["tracks"][0] == 7 and ch in ("Esus", "E") and j == 0 and root not in byts:
                root = 4
            cands = sorted(b for b in byts if b % 12 == root) or \
                sorted(b for b in byts if b % 12 in CHORDS[ch])
            k = (j + variant) % len(cands) if (j + variant) % 3 == 2 else 0
            pat[r] = cands[k]
        # A fill, when the plain figure is taken already: the last notes climb
        # through the scale from the root.
        if attempt:
            ch = chord_at(harm, rows[-1])
            scale = sorted(b for b in byts if b % 12 in SCALES.get(ch, MINOR) and b > pat[rows[0]])
            for j in range(min(attempt, len(rows) - 1, len(scale))):
                pat[rows[len(rows) - 1 - j]] = scale[min(len(scale) - 1, attempt - 1 - j)]
    elif role in ("perc", "pedal", "bell"):
        for r in rows:
            pat[r] = byts[0]
    for r, g in zip(rows, give):
        for k in range(1, g + 1):
            pat[r + k] = 1
    return pat


def compose(lists, tracks, shown):
    harm_entries = harmony()
    info = pattern_info(lists, tracks)
    fixed = dict(shown)
    fixed.update(FORCED)
    fixed.pop(0, None)
    for seed in range(2026, 2030):
        vals, residual = solve_counts(lists, tracks, info, fixed, seed)
        print("count solver, seed %d: residual %d" % (seed, residual))
        if residual == 0:
            break
    assert residual == 0, "counts not met: residual %d" % residual

    # The harmony of each Pattern: every entry that plays it must agree.
    harm = {}
    for p in range(1, 163):
        hs = sorted({harm_entries[i] for _, i in info[p]["uses"]})
        if p not in fixed and p not in (4, 36) and any(b for b in info[p]["bytes"]):
            assert len(hs) == 1 or info[p]["role"] in ("perc", "pedal", "bell") or \
                info[p]["tracks"][0] in (1, 2, 3, 7, 10, 11, 12), (p, hs)
        harm[p] = hs[0]

    patterns = [None] * 163
    patterns[0] = [0] * 16
    for p, pat in fixed.items():
        patterns[p] = list(pat)
    patterns[36] = [1] * vals[36][1] + [0] * (16 - vals[36][1])
    seen = {tuple(x) for x in patterns if x is not None}
    state = {}
    for p in range(1, 163):
        if patterns[p] is not None:
            continue
        for variant in range(0, 200):
            pat = realize_pattern(p, info[p], vals[p], harm[p], p, state, variant)
            if tuple(pat) not in seen:
                break
        else:
            raise AssertionError("no distinct realization for Pattern %d" % p)
        seen.add(tuple(pat))
        patterns[p] = pat
    cover(patterns, lists, tracks, info, harm)
    summary = [
        "The Pattern table is composed in A minor, one harmony per PatternList entry",
        "for all Tracks: intro Am F C G Am F Dm Esus-E; main cycle Am F C G | Dm F",
        "Am Esus-E over an A pedal; bridge C7 F A7/C# A7/C# D D C C-Caug.",
    ]
    return patterns, summary


PROTECTED = set(FORCED) | {1, 4, 36, 38, 53, 68, 131, 139}


def track_values(patterns, lists, t):
    out = {}
    for p in set(lists[t]):
        for b in patterns[p]:
            if b >= 2:
                out[b] = out.get(b, 0) + 1
    return out


def track_rows(patterns, lists, t):
    return {r for p in set(lists[t]) for r, b in enumerate(patterns[p]) if b >= 2}


def cover(patterns, lists, tracks, info, harm):
    """Makes every Track use each of its note bytes and rows at least once, by
    small count-keeping edits of the composed Patterns."""
    for t in range(16):
        for v in tracks[t]["bytes"]:
            if v not in track_values(patterns, lists, t):
                replace_note(patterns, info, harm, v, t, lists, tracks)
        for r in tracks[t]["rows"]:
            used = {q for p in set(lists[t]) for q, b in enumerate(patterns[p]) if b >= 2}
            if r not in used:
                move_to_row(patterns, info, harm, r, t, lists)
    used = {b for pat in patterns for b in pat if b >= 2}
    missing = set(checks.NOTE_VALUES) - used
    assert not missing, "note values not placed: %s" % sorted(missing)


def replace_note(patterns, info, harm, v, t, lists, tracks, relaxed=True):
    """Gives value v to one note of Track t: the same pitch class in another
    octave if it can, else a tone of the chord, else a passing tone."""
    seen = {tuple(x) for x in patterns}
    best = None
    blocked = []
    for p in sorted(set(lists[t])):
        if p == 0 or p in PROTECTED or v not in info[p]["bytes"]:
            continue
        pat = patterns[p]
        for r, b in enumerate(pat):
            if b < 2:
                continue
            span = [r]
            while span[-1] + 1 < 16 and pat[span[-1] + 1] == 1:
                span.append(span[-1] + 1)
            chords = {chord_at(harm[p], q) for q in span}
            pc = v % 12
            if b % 12 == pc:
                score = 0.0
            elif all(pc in CHORDS[c] for c in chords):
                score = 1.0
            elif len(span) <= 2 and r % 4 and all(pc in SCALES.get(c, MINOR) for c in chords):
                score = 2.0
            elif any(pc in CHORDS[c] for c in chords):
                score = 3.0
            elif all(pc in SCALES.get(c, MINOR) for c in chords):
                score = 4.0
            else:
                continue
            # Keep the line smooth: the leaps to the notes around it count.
            around = [x for x in pat[:r] if x >= 2][-1:] + [x for x in pat[r + 1:] if x >= 2][:1]
            if not [x for x in pat[:r] if x >= 2]:
                around += [x for x in neighbours(patterns, lists, t, p, -1)]
            if not [x for x in pat[r + 1:] if x >= 2]:
                around += [x for x in neighbours(patterns, lists, t, p, +1)]
            leap = sum(abs(v - x) for x in around) - sum(abs(b - x) for x in around)
            score += max(0, leap) / 12.0 + abs(b - v) / 48.0
            new = list(pat)
            new[r] = v
            if tuple(new) in seen:
                continue
            # Never take away the last use of a value, in the table or in
            # any Track that plays this Pattern.
            if sum(1 for q in patterns for x in q if x == b) <= 1 or \
                    any(track_values(patterns, lists, u).get(b, 0) <= pat.count(b)
                        for u in info[p]["tracks"]):
                if score < 2.0:
                    blocked.append((p, r, b))
                continue
            if best is None or score < best[0]:
                best = (score, p, r)
    if best is not None:
        _, p, r = best
        patterns[p][r] = v
        return True
    if not relaxed:
        return False
    # Take the note anyway when the value that it had finds a place elsewhere.
    for p, r, b in blocked:
        saved = [list(x) for x in patterns]
        patterns[p][r] = v
        if replace_note(patterns, info, harm, b, t, lists, tracks, relaxed=False):
            return True
        patterns[:] = saved
    return False


def neighbours(patterns, lists, t, p, side):
    """The notes of Track t just before (side -1) or after (+1) Pattern p,
    wherever the Track plays it."""
    out = []
    lst = lists[t]
    for i, q in enumerate(lst):
        if q != p:
            continue
        j = i + side
        if 0 <= j < len(lst) and lst[j]:
            notes = [x for x in patterns[lst[j]] if x >= 2]
            if notes:
                out.append(notes[-1] if side < 0 else notes[0])
    return out


def holds_ok(pat):
    return all(not (pat[r] == 1 and (r == 0 or pat[r - 1] == 0)) for r in range(16))


def move_to_row(patterns, info, harm, r, t, lists):
    """Moves the start of one note of Track t onto row r, keeping the counts of
    new notes, holds and releases of the Pattern."""
    seen = {tuple(x) for x in patterns}
    for p in sorted(set(lists[t]), key=lambda q: (len(info.get(q, {"uses": []})["uses"]), q)):
        if p == 0 or p in PROTECTED or r not in info[p]["rows"]:
            continue
        pat = patterns[p]
        if pat[r] >= 2:
            continue
        cands = []
        if pat[r] == 0:
            # A release row: a note of the Pattern moves here (no holds around).
            for q, b in enumerate(pat):
                if b >= 2 and (q + 1 == 16 or pat[q + 1] != 1):
                    new = list(pat)
                    new[q], new[r] = 0, b
                    cands.append(new)
        else:
            # A hold row: the note that it holds starts here instead, while
            # the note before extends (when one sounds before it).
            q = r
            while q > 0 and pat[q] == 1:
                q -= 1
            if pat[q] >= 2 and q > 0 and pat[q - 1] != 0:
                new = list(pat)
                new[q], new[r] = 1, pat[q]
                cands.append(new)
            # Or a long note splits at r and another note merges into the
            # one before it.
            for s_ in range(1, 16):
                if s_ != q and pat[s_] >= 2 and pat[s_ - 1] != 0:
                    new = list(pat)
                    ch = chord_at(harm[p], r)
                    tones = [b for b in info[p]["bytes"] if b % 12 in CHORDS[ch]]
                    if not tones:
                        continue
                    new[r] = nearest(tones, pat[q])
                    new[s_] = 1
                    cands.append(new)
        for new in cands:
            if tuple(new) in seen or not holds_ok(new):
                continue
            if any(b >= 2 and q not in info[p]["rows"] for q, b in enumerate(new)):
                continue
            before = {u: (set(track_values(patterns, lists, u)), track_rows(patterns, lists, u))
                      for u in info[p]["tracks"]}
            old = patterns[p]
            patterns[p] = new
            lost = any(before[u][0] - set(track_values(patterns, lists, u)) or
                       before[u][1] - track_rows(patterns, lists, u) for u in before)
            if lost:
                patterns[p] = old
                continue
            return True
    return False
