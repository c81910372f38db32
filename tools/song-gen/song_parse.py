"""Parsing of the song's fixed data in song_text.py.

Gives the PatternLists, the CommandStream, the ParameterStream, the
DelayTimeTable, the Tracks table and the Patterns that the song fixes row by
row.
"""
import re
from dataclasses import dataclass

import song_text
from unit_formats import OPCODES, PARAM_COUNT

NUMBER_WORDS = {
    "twice": 2, "three times": 3, "four times": 4, "five times": 5, "six times": 6,
    "seven times": 7, "eight times": 8, "nine times": 9, "ten times": 10,
    "eleven times": 11, "twelve times": 12, "sixteen times": 16,
}


def _split_top(text):
    """Splits at commas that are not inside brackets."""
    items, depth, cur = [], 0, ""
    for ch in text:
        if ch == "(":
            depth += 1
        elif ch == ")":
            depth -= 1
        if ch == "," and depth == 0:
            items.append(cur.strip())
            cur = ""
        else:
            cur += ch
    if cur.strip():
        items.append(cur.strip())
    return items


def _expand_item(item):
    item = item.strip()
    if item.startswith("then "):
        item = item[5:].strip()
    m = re.fullmatch(r"\((.*)\)\s+(.*)", item)
    if m:
        inner, times = m.group(1), m.group(2).strip()
        n = NUMBER_WORDS[times]
        body = []
        for sub in _split_top(inner):
            body += _expand_item(sub)
        return body * n
    m = re.fullmatch(r"(\d+)×(\d+)", item)
    if m:
        return [int(m.group(1))] * int(m.group(2))
    m = re.fullmatch(r"(\d+)–(\d+)", item)
    if m:
        a, b = int(m.group(1)), int(m.group(2))
        assert a < b
        return list(range(a, b + 1))
    m = re.fullmatch(r"(\d+)", item)
    if m:
        return [int(m.group(1))]
    raise ValueError("cannot read PatternList item %r" % item)


def pattern_lists():
    """The 16 PatternLists of 109 entries."""
    lists = {}
    for line in song_text.PATTERN_LISTS.strip().splitlines():
        m = re.fullmatch(r"- Track (\d+): (.*)\.", line.strip())
        assert m, line
        t = int(m.group(1))
        entries = []
        for item in _split_top(m.group(2)):
            entries += _expand_item(item)
        assert len(entries) == 109, (t, len(entries))
        lists[t] = entries
    assert sorted(lists) == list(range(16))
    return [lists[t] for t in range(16)]


def instruments():
    """Returns a list of 17 instruments, each a list of (opcode, [bytes])."""
    result = []
    for line in song_text.INSTRUMENTS.strip().splitlines():
        m = re.fullmatch(r"- (Track \d+|Master chain) \((\d+) units\): (.*)\.", line.strip())
        assert m, line
        count = int(m.group(2))
        units = []
        for k, part in enumerate(m.group(3).split(" · ")):
            part = re.sub(r"\(.*?\)", "", part).strip()
            words = part.split()
            assert int(words[0]) == k, (line, part)
            op = OPCODES[words[1]]
            params = [int(w) for w in words[2:]]
            assert len(params) == PARAM_COUNT[op], (line, part)
            assert all(0 <= b <= 255 for b in params)
            units.append((op, params))
        assert len(units) == count, line
        result.append(units)
    assert len(result) == 17
    return result


def streams():
    """The CommandStream and the ParameterStream, as lists of bytes."""
    cmd, par = [], []
    for units in instruments():
        for op, params in units:
            cmd.append(op)
            par += params
        cmd.append(0)
    return cmd, par


def delay_time_table():
    return list(song_text.DELAY_TIME_TABLE)


@dataclass
class TrackRule:
    """A Track's row of the Tracks table."""
    bytes: list   # the note bytes of its new notes, ascending
    rows: list    # the rows its new notes start on, ascending
    notes: int    # its new notes over the whole song
    holds: int    # its holds over the whole song
    first: int    # its first and last PatternList entry other than Pattern 0
    last: int
    patterns: tuple  # the Patterns other than 0 that its list names, ascending


def pattern_numbers(cell):
    """'38 Patterns: 4, 6, 17, 28 to 34' or '70, 71': the Pattern numbers."""
    numbers = []
    for part in cell.split(":")[-1].split(","):
        words = part.split()
        if "to" in words:
            numbers += range(int(words[0]), int(words[2]) + 1)
        else:
            numbers.append(int(words[0]))
    return tuple(sorted(numbers))


def tracks_table():
    """The TrackRule of each Track."""
    out = []
    for line in song_text.TRACKS_TABLE.strip().splitlines():
        cells = [c.strip() for c in line.strip().strip("|").split("|")]
        t = int(cells[0])
        assert t == len(out)
        out.append(TrackRule(
            bytes=sorted(int(x) for x in cells[3].split()),
            rows=sorted(int(x) for x in cells[4].split()),
            notes=int(cells[5]),
            holds=int(cells[6]),
            first=int(cells[1].split()[0]),
            last=int(cells[1].split()[2]),
            patterns=pattern_numbers(cells[2]),
        ))
    assert len(out) == 16
    return out


def fixed_patterns():
    """{Pattern: its 16 rows} of the Patterns that the song fixes."""
    fixed = {}
    for line in song_text.FIXED_PATTERNS.strip().splitlines():
        cells = [c.strip() for c in line.strip().strip("|").split("|")]
        if not cells[0].isdigit():
            continue
        rows = [0 if w == "." else int(w) for w in cells[1].split()]
        assert len(rows) == 16
        fixed[int(cells[0])] = rows
    return fixed
