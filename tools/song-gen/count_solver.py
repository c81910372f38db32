"""Chooses the number of new notes and holds of every Pattern so that each
Track's whole-song counts and the table-wide counts come out exactly: a
simulated annealing over the Patterns' values, near each role's preferred
values, then an exact repair of what is left over."""
from dataclasses import dataclass

import checks
from roles import PREFER, PREFER_PATTERN


class Lcg:
    """A small deterministic random source, so that the song is the same on
    every run and every Python."""

    def __init__(self, seed):
        self.s = seed & 0xFFFFFFFF

    def next(self):
        self.s = (1103515245 * self.s + 12345) & 0x7FFFFFFF
        return self.s

    def below(self, n):
        return (self.next() >> 8) % n


def domain(p, inf, fixed):
    """The (notes, holds) values that Pattern p may take."""
    if p in fixed:
        pat = fixed[p]
        return [(sum(1 for b in pat if b >= 2), pat.count(1))]
    if p == 36:
        return [(0, h) for h in range(1, 16)]
    rows = inf.rows
    out = []
    for n in range(1, len(rows) + 1):
        cap = 16 - n - rows[0] if inf.holds else 0
        for h in range(cap if inf.sustain else 0, cap + 1):
            out.append((n, h))
    return out


@dataclass
class CountProblem:
    """The counts to meet and the values that the Patterns may take."""
    tracks: list   # TrackRule of each Track: its whole-song counts
    mult: dict     # mult[p][t]: how many entries of Track t play Pattern p
    doms: dict     # doms[p]: the values that Pattern p may take
    free: list     # the Patterns that may take more than one value
    info: dict     # PatternInfo of each Pattern
    fixed: dict    # the Patterns whose rows are settled

    @staticmethod
    def of(lists, tracks, info, fixed):
        pats = list(range(1, 163))
        mult = {p: {} for p in pats}
        for t, lst in enumerate(lists):
            for p in lst:
                if p:
                    mult[p][t] = mult[p].get(t, 0) + 1
        doms = {p: domain(p, info[p], fixed) for p in pats}
        free = [p for p in pats if len(doms[p]) > 1]
        return CountProblem(tracks=tracks, mult=mult, doms=doms, free=free, info=info, fixed=fixed)

    def pref_cost(self, p, v):
        """How far the value v = (notes, holds) of Pattern p is from its
        role's preference."""
        if p in self.fixed or p == 36:
            return 0.0 if p != 36 else abs(v[1] - 4) * 0.5
        inf = self.info[p]
        pn, ph = PREFER_PATTERN.get(p, PREFER[inf.role])
        if not inf.holds:
            ph = 0
        ph = min(ph, 16 - v[0] - inf.rows[0]) if inf.holds else 0
        cost = (v[0] - pn) ** 2 * 1.0 + abs(v[1] - ph) * 0.3
        if v[0] == 1 and v[1] == 15 - inf.rows[0]:
            # One note held to the end: few of those can differ from each other.
            cost += 4.0 if len(inf.tracks) > 1 else 1.0
        return cost


@dataclass
class Tally:
    """The counts that the Patterns' values give: new notes and holds per
    Track, and in the whole table."""
    notes: list
    holds: list
    table_notes: int
    table_holds: int

    @staticmethod
    def of(val, mult):
        tally = Tally(notes=[0] * 16, holds=[0] * 16, table_notes=0, table_holds=0)
        for p in sorted(val):
            tally.move(mult[p], (0, 0), val[p])
        return tally

    def move(self, mult_p, old, new):
        """Pattern values change from old to new; mult_p is mult[p]."""
        dn, dh = new[0] - old[0], new[1] - old[1]
        for t, m in mult_p.items():
            self.notes[t] += m * dn
            self.holds[t] += m * dh
        self.table_notes += dn
        self.table_holds += dh

    def offsets(self, tracks):
        """How far each of the 34 counts is off: the Tracks' notes, their
        holds, then the table's notes and holds."""
        return ([self.notes[t] - tracks[t].notes for t in range(16)] +
                [self.holds[t] - tracks[t].holds for t in range(16)] +
                [self.table_notes - checks.TABLE_NOTES, self.table_holds - checks.TABLE_HOLDS])

    def error(self, tracks):
        return sum(abs(x) for x in self.offsets(tracks))

    def report(self, tracks):
        """The counts that are off, for the solver's message."""
        return "  off: global n %d h %d; %s" % (
            self.table_notes - checks.TABLE_NOTES, self.table_holds - checks.TABLE_HOLDS,
            ["T%d n%+d h%+d" % (t, self.notes[t] - tracks[t].notes, self.holds[t] - tracks[t].holds)
             for t in range(16) if (self.notes[t], self.holds[t]) != (tracks[t].notes, tracks[t].holds)])


def solve_counts(problem, seed):
    """Chooses (notes, holds) for each Pattern so that all counts are met.
    Returns the values and the residual error (0: every count met)."""
    pats = list(range(1, 163))
    doms, mult, pref_cost = problem.doms, problem.mult, problem.pref_cost
    # Start from the preferred value of each domain.
    val = {p: min(doms[p], key=lambda v: pref_cost(p, v)) for p in pats}
    tally = Tally.of(val, mult)
    cur_err = tally.error(problem.tracks)
    cur_pref = sum(pref_cost(p, val[p]) for p in pats)
    rng = Lcg(seed)
    free = problem.free
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
            tally.move(mult[p], old, new)
            new_pref += pref_cost(p, new) - pref_cost(p, old)
            val[p] = new
        new_err = tally.error(problem.tracks)
        delta = big * (new_err - cur_err) + (new_pref - cur_pref)
        accept = delta <= 0 or rng.below(1000000) < 1000000 * pow(2.718281828, -delta / temp)
        if accept:
            cur_err, cur_pref = new_err, new_pref
            continue
        for p, old in reversed(saved):
            tally.move(mult[p], val[p], old)
            val[p] = old
    if cur_err:
        cur_err = repair(problem, val, tally)
    if cur_err:
        print(tally.report(problem.tracks))
    return val, cur_err


def repair(problem, val, tally):
    """Closes a small residual exactly with one or two changes of Pattern
    values: every change has an effect on the 34 counts; a pair whose effects
    cancel the residual is looked up by its effect. Returns the residual
    error left (0 when closed); `val` and `tally` then hold the values and
    counts of the closing changes."""
    mult, pref_cost = problem.mult, problem.pref_cost

    def effect(p, new):
        old = val[p]
        dn, dh = new[0] - old[0], new[1] - old[1]
        e = [0] * 34
        for t, m in mult[p].items():
            e[t] = m * dn
            e[16 + t] = m * dh
        e[32], e[33] = dn, dh
        return tuple(e)

    offset = tally.offsets(problem.tracks)
    need = tuple(-x for x in offset)
    moves = {}
    for p in problem.free:
        for v in problem.doms[p]:
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
        tally.move(mult[p], val[p], v)
        val[p] = v
    return 0
