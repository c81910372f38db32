"""A first Pattern table that keeps only the structural rules (superseded by compose.py)."""


def fill(lists, tracks, shown):
    users = {}
    for t, lst in enumerate(lists):
        for p in lst:
            users.setdefault(p, set()).add(t)
    patterns = [None] * 163
    for p, rows in shown.items():
        patterns[p] = list(rows)
    patterns[36] = [1] * 8 + [0] * 8
    patterns[66] = [0] * 12 + [60] + [0] * 3
    patterns[67] = [60] + [0] * 15
    patterns[69] = [0, 0, 60] + [0] * 13
    seen = {tuple(x) for x in patterns if x is not None}
    for p in range(163):
        if patterns[p] is not None:
            continue
        ts = users[p]
        rows = sorted(set.intersection(*[set(tracks[t]["rows"]) for t in ts]))
        byts = sorted(set.intersection(*[set(tracks[t]["bytes"]) for t in ts]))
        if p == 107:
            rows = [0]
        if p == 162:
            rows = [4]
        holds = all(tracks[t]["holds"] > 0 for t in ts)
        import itertools
        found = None
        for k in range(1, len(rows) + 1):
            for combo in itertools.combinations(rows, k):
                for shift in range(len(byts)):
                    pat = [0] * 16
                    for j, r in enumerate(combo):
                        pat[r] = byts[(p + j + shift) % len(byts)]
                    if holds:
                        for r in range(1, 16):
                            if pat[r] == 0 and pat[r - 1] != 0:
                                pat[r] = 1
                    if tuple(pat) not in seen:
                        found = pat
                        break
                if found:
                    break
            if found:
                break
        pat = found
        if pat is None:
            for n in range(1, 12):
                for b in byts:
                    pat = [0] * 16
                    pat[rows[0]] = b
                    for r in range(rows[0] + 1, min(16, rows[0] + 1 + n)):
                        pat[r] = 1
                    if tuple(pat) not in seen:
                        break
                if tuple(pat) not in seen:
                    break
        seen.add(tuple(pat))
        patterns[p] = pat
    return patterns
