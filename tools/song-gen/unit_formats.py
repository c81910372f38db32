"""The synthesizer's unit formats, read from its own table (UNIT_FORMATS in
synth/song_format.h), so that the generator writes the streams by the counts
that the synthesizer reads them by: each opcode's name, as the instrument
listings of song_text.py write it, and its parameter bytes."""
import os
import re

HEADER = os.path.normpath(os.path.join(os.path.dirname(os.path.abspath(__file__)),
                                       "..", "..", "synth", "song_format.h"))

_ROW = re.compile(r'\{\.opcode = (OP_\w+), \.name = "(\w+)", \.parameters = (\d+),')


def read_unit_formats(path=HEADER):
    """[(name, parameter bytes)] in opcode order, opcode 0 (the chain's end)
    first."""
    text = open(path).read()
    start = text.index("UNIT_FORMATS[OPCODE_COUNT] = {")
    table = text[start:text.index("};", start)]
    rows = _ROW.findall(table)
    opcodes = dict(re.findall(r"\b(OP_\w+) = (\d+),", text))
    if not rows or [int(opcodes[op]) for op, _, _ in rows] != list(range(len(rows))):
        raise ValueError("%s: UNIT_FORMATS not read as a table in opcode order" % path)
    return [(name, int(count)) for _, name, count in rows]


FORMATS = read_unit_formats()
# Opcode by name, and name and parameter bytes by opcode (1 to 11).
OPCODES = {name: op for op, (name, _) in enumerate(FORMATS) if op}
NAMES = {op: name for op, (name, _) in enumerate(FORMATS) if op}
PARAM_COUNT = {op: count for op, (_, count) in enumerate(FORMATS) if op}
