"""Composes the Pattern table.

One harmony per PatternList entry, shared by every Track (harmony.py); a role
for every Track (roles.py). First the number of new notes and holds of every
Pattern is solved so that each Track's whole-song counts and the table-wide
counts come out exactly (count_solver.py); then every Pattern is written from
its Track's role, its harmony and those two numbers, no two alike
(realize.py); last, a few count-keeping edits make every Track use each of its
rows and note bytes (cover.py).
"""
from count_solver import CountProblem, solve_counts
from cover import Composition, cover
from harmony import harmony
from realize import PatternPlan, realize_pattern
from roles import FORCED, HOLDING, pattern_info

# The seeds that the count solver tries, in order, until one meets every count.
SEEDS = range(2026, 2030)


def compose(lists, tracks, fixed_patterns):
    """The 163 Patterns for the PatternLists `lists` and the Tracks table
    `tracks` (a TrackRule per Track), with the Patterns that the song fixes
    row by row; and the lines that describe the harmony for song_data.cpp."""
    harm_entries = harmony()
    info = pattern_info(lists, tracks)
    fixed = dict(fixed_patterns)
    fixed.update(FORCED)
    fixed.pop(0, None)
    problem = CountProblem.of(lists, tracks, info, fixed)
    for seed in SEEDS:
        vals, residual = solve_counts(problem, seed)
        print("count solver, seed %d: residual %d" % (seed, residual))
        if residual == 0:
            break
    assert residual == 0, "counts not met: residual %d" % residual

    # The harmony of each Pattern: every entry that plays it must agree.
    harm = {}
    for p in range(1, 163):
        hs = sorted({harm_entries[i] for _, i in info[p].uses})
        if p not in fixed and p not in HOLDING and any(b for b in info[p].bytes):
            assert len(hs) == 1 or info[p].role in ("perc", "pedal", "bell") or \
                info[p].tracks[0] in (1, 2, 3, 7, 10, 11, 12), (p, hs)
        harm[p] = hs[0]

    patterns = [None] * 163
    patterns[0] = [0] * 16
    for p, pat in fixed.items():
        patterns[p] = list(pat)
    patterns[36] = [1] * vals[36][1] + [0] * (16 - vals[36][1])
    seen = {tuple(x) for x in patterns if x is not None}
    last_notes = {}
    for p in range(1, 163):
        if patterns[p] is not None:
            continue
        plan = PatternPlan(info=info[p], notes=vals[p][0], holds=vals[p][1], harmony=harm[p], variant=p)
        for attempt in range(0, 200):
            pat = realize_pattern(plan, last_notes, attempt)
            if tuple(pat) not in seen:
                break
        else:
            raise AssertionError("no distinct realization for Pattern %d" % p)
        seen.add(tuple(pat))
        patterns[p] = pat
    cover(Composition(patterns=patterns, lists=lists, tracks=tracks, info=info, harm=harm,
                      protected=set(fixed) | set(HOLDING)))
    summary = [
        "The Pattern table is composed in A minor, one harmony per PatternList entry",
        "for all Tracks: intro Am F C G Am F Dm Esus-E; main cycle Am F C G | Dm F",
        "Am Esus-E over an A pedal; bridge C7 F A7/C# A7/C# D D C C-Caug.",
    ]
    return patterns, summary
