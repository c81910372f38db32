"""The last pass of the composition: small edits of the composed Patterns that
keep every count (new notes, holds and releases per Pattern) and make every
Track use each of its note bytes and rows at least once."""
from dataclasses import dataclass

import checks
from harmony import CHORDS, chord_at, scale_of
from realize import nearest


@dataclass
class Composition:
    """The Pattern table being composed, with what the edits go by."""
    patterns: list   # the Pattern table; the edits change it in place
    lists: list      # the PatternLists
    tracks: list     # the TrackRule of each Track
    info: dict       # the PatternInfo of each Pattern
    harm: dict       # the harmony of each Pattern
    protected: set   # the Patterns whose rows stay as they are


def track_values(patterns, lists, t):
    out = {}
    for p in set(lists[t]):
        for b in patterns[p]:
            if b >= 2:
                out[b] = out.get(b, 0) + 1
    return out


def track_rows(patterns, lists, t):
    return {r for p in set(lists[t]) for r, b in enumerate(patterns[p]) if b >= 2}


def cover(song):
    """Makes every Track use each of its note bytes and rows at least once, by
    small count-keeping edits of the composed Patterns."""
    patterns, lists, tracks = song.patterns, song.lists, song.tracks
    for t in range(16):
        for v in tracks[t].bytes:
            if v not in track_values(patterns, lists, t):
                replace_note(song, v, t)
        for r in tracks[t].rows:
            used = {q for p in set(lists[t]) for q, b in enumerate(patterns[p]) if b >= 2}
            if r not in used:
                move_to_row(song, r, t)
    used = {b for pat in patterns for b in pat if b >= 2}
    missing = set(checks.NOTE_VALUES) - used
    assert not missing, "note values not placed: %s" % sorted(missing)


def replace_note(song, v, t, relaxed=True):
    """Gives value v to one note of Track t: the same pitch class in another
    octave if it can, else a tone of the chord, else a passing tone. Returns
    whether it found one."""
    patterns, lists, info, harm = song.patterns, song.lists, song.info, song.harm
    seen = {tuple(x) for x in patterns}
    best = None
    blocked = []
    for p in sorted(set(lists[t])):
        if p == 0 or p in song.protected or v not in info[p].bytes:
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
            elif len(span) <= 2 and r % 4 and all(pc in scale_of(c) for c in chords):
                score = 2.0
            elif any(pc in CHORDS[c] for c in chords):
                score = 3.0
            elif all(pc in scale_of(c) for c in chords):
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
                        for u in info[p].tracks):
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
        if replace_note(song, b, t, relaxed=False):
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


def move_to_row(song, r, t):
    """Moves the start of one note of Track t onto row r, keeping the counts of
    new notes, holds and releases of the Pattern. Returns whether it could."""
    patterns, lists, info, harm = song.patterns, song.lists, song.info, song.harm
    seen = {tuple(x) for x in patterns}
    for p in sorted(set(lists[t]), key=lambda q: (len(info[q].uses) if q in info else 0, q)):
        if p == 0 or p in song.protected or r not in info[p].rows:
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
                    tones = [b for b in info[p].bytes if b % 12 in CHORDS[ch]]
                    if not tones:
                        continue
                    new[r] = nearest(tones, pat[q])
                    new[s_] = 1
                    cands.append(new)
        for new in cands:
            if tuple(new) in seen or not holds_ok(new):
                continue
            if any(b >= 2 and q not in info[p].rows for q, b in enumerate(new)):
                continue
            before = {u: (set(track_values(patterns, lists, u)), track_rows(patterns, lists, u))
                      for u in info[p].tracks}
            old = patterns[p]
            patterns[p] = new
            lost = any(before[u][0] - set(track_values(patterns, lists, u)) or
                       before[u][1] - track_rows(patterns, lists, u) for u in before)
            if lost:
                patterns[p] = old
                continue
            return True
    return False
