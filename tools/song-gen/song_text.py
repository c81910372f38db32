"""The song's fixed data as text: the PatternLists, the 17 instruments unit by
unit, the delay lengths, the Tracks table and the Patterns fixed row by row.
song_parse.py reads it, so that the C++ data is made from this text alone and
cannot drift from it."""

PATTERN_LISTS = r"""
- Track 0: 1–5, 2, 6, 7, 1–5, 2, 6, 4, 0×3, 8–16, 9, 17, 18, 12, 19–22, 0×5, 23, 0×30, 24, 0, 9, 17, 18, 12, 25–27, 22, 28–35, 28–34, 36, 0×11.
- Track 1: 0×16, 37×28, 38–52, 37, 0×2, 37×11, 0, 37×24, 0×11.
- Track 2: 0×16, 53×28, 54×2, 55×2, 56×2, 54×2, 53×8, 0×2, 53×11, 57, 53×24, 0×11.
- Track 3: 0×16, then (58×3, 59) seven times, 60×2, 61–63, 63, 60, 64, (58×3, 59) twice, 0×2, (58×3, 59) twice, 58×3, 65, (58×3, 59) six times, 0×11.
- Track 4: 0×15, 66, then (67×2, 68, 69) eleven times, 0×2, (67×2, 68, 69) nine times, 0×11.
- Track 5: 0×16, 70×44, 0×2, 70×11, 71, 70×24, 0×11.
- Track 6: 0×15, 72, 73×3, 74, 73×40, 0×2, 73×11, 0, 73×24, 0×11.
- Track 7: 75–77, 4, 78, 76, 79, 4, 75–77, 4, 78, 76, 79, 4, 80×28, 0×8, 80×8, 0×6, 80×32, 0×11.
- Track 8: 0×28, 81–88, 0×8, 89–94, 30, 95, 28–34, 4, 0×14, 81–88, 96, 97, 83, 98–103, 17, 104, 105, 6, 106, 107, 36, 0×11.
- Track 9: 0×3, 108, 109, 0×2, 110, 111, 0×2, 112, 111, 0×14, 113–115, 83, 116, 117, 100–102, 0×2, 118, 0×34, 119, 96, 115, 83, 116, 117, 100–102, 96, 115, 83, 116, 117, 100–103, 120, 104, 121, 6, 122, 107, 0×12.
- Track 10: 0×3, 108, 109, 0×2, 110, 111, 0×2, 112, 111, 0×7, 123–130, 123–131, 131×7, 0×8, 131×8, 0×6, 131×7, 132, 131×24, 0×11.
- Track 11: 0×28, (133, 134) eight times, 0×8, (133, 134) four times, 0×6, (133, 134) sixteen times, 0×11.
- Track 12: 0×28, 134×16, 135×2, 136×2, 137×2, 135×2, 134×8, 0×6, 134×32, 0×11.
- Track 13: 0×38, 138, 0×2, 138, 0, 139, 0×24, 138, 0×2, 138, 0, 140, 0×35.
- Track 14: 0×44, 141–146, 104, 147, 103, 17, 104, 105, 6, 106, 107, 4, 0×21, 148, 103, 17, 104, 105, 6, 106, 107, 149, 103, 17, 104, 105, 6, 106, 107, 149, 103, 17, 104, 105, 6, 106, 107, 36, 0×3.
- Track 15: 0×16, 150–153, 0×24, 154–156, 0, 157, 0, 151, 0, 158–160, 0, 161, 0, 162, 0×3, 150–153, 0×32, 158–160, 0, 161, 0, 162, 0×4.
"""

INSTRUMENTS = r"""
- Track 0 (15 units): 0 Envelope 0 9 65 30 128 · 1 Oscillator 64 64 0 64 64 128 4 · 2 Oscillator 52 64 0 64 64 128 1 · 3 Store 0 45 (to slot 5 `colorMod`) · 4 StackOp 1 (`Pop`) · 5 Oscillator 40 64 0 64 127 128 18 · 6 StackOp 3 (`MulPop`) · 7 Filter 48 48 1 · 8 StackOp 3 (`MulPop`) · 9 Pan 64 · 10 Delay 0 128 64 64 0 0 0 8 (entries 0–7) · 11 StackOp 5 (`Swap`) · 12 Delay 65 128 101 53 0 0 16 1 (entry 16) · 13 StackOp 5 (`Swap`) · 14 Output 64 64.
- Track 1 (17 units): 0 Envelope 0 64 96 64 128 · 1 Envelope 0 72 64 64 128 · 2 Store 104 76 (to slot 9 `frequencyMod`) · 3 StackOp 1 (`Pop`) · 4 Oscillator 64 68 0 0 64 128 2 · 5 Oscillator 64 60 0 0 64 128 2 · 6 Oscillator 76 64 0 6 64 128 2 · 7 StackOp 2 (`AddPop`) · 8 StackOp 2 (`AddPop`) · 9 Filter 32 128 1 · 10 StackOp 3 (`MulPop`) · 11 Delay 64 128 64 64 0 0 8 8 (entries 8–15) · 12 Pan 64 · 13 Delay 64 128 32 64 0 0 17 1 (entry 17) · 14 StackOp 5 (`Swap`) · 15 Delay 64 128 32 64 0 0 18 1 (entry 18) · 16 Output 36 0.
- Track 2 (17 units): 0 Envelope 32 76 0 32 81 · 1 Store 106 2 (to slot 0 `gainMod`) · 2 Store 84 92 (to slot 11 `frequencyMod`) · 3 Envelope 0 60 0 0 128 · 4 Store 50 62 (to slot 7 `shapeMod`) · 5 StackOp 1 (`Pop`) · 6 Oscillator 64 70 40 64 80 126 1 · 7 Oscillator 64 48 48 64 96 128 2 · 8 StackOp 2 (`AddPop`) · 9 Filter 30 128 1 · 10 Distort 107 128 · 11 Filter 35 128 7 · 12 StackOp 3 (`MulPop`) · 13 Store 79 61 (to slot 7 `colorMod`) · 14 Pan 64 · 15 Delay 78 128 114 117 0 0 16 1 (entry 16) · 16 Output 100 0.
- Track 3 (16 units): 0 Envelope 0 72 0 16 128 · 1 Store 88 84 (to slot 10 `frequencyMod`) · 2 Distort 16 128 · 3 Oscillator 8 64 0 64 64 128 8 · 4 Distort 64 0 · 5 Store 74 92 (to slot 11 `frequencyMod`) · 6 StackOp 1 (`Pop`) · 7 Oscillator 64 62 0 64 64 128 4 · 8 Oscillator 64 74 0 16 64 128 4 · 9 StackOp 2 (`AddPop`) · 10 Filter 48 128 1 · 11 Filter 48 64 1 · 12 StackOp 3 (`MulPop`) · 13 Delay 64 128 64 64 0 0 16 1 (entry 16) · 14 Pan 64 · 15 Output 128 16.
- Track 4 (10 units): 0 Envelope 0 32 96 64 128 · 1 Store 128 2 (to slot 0 `gainMod`) · 2 Envelope 0 70 0 0 128 · 3 Distort 32 128 · 4 Store 80 49 (to slot 6 `transposeMod`) · 5 StackOp 1 (`Pop`) · 6 Oscillator 45 64 0 64 66 128 1 · 7 StackOp 3 (`MulPop`) · 8 Pan 64 · 9 Output 128 0.
- Track 5 (10 units): 0 Envelope 0 64 0 0 128 · 1 Oscillator 64 64 64 64 64 128 8 · 2 StackOp 3 (`MulPop`) · 3 Filter 128 48 4 · 4 Pan 64 · 5 Delay 64 128 96 64 0 0 19 1 (entry 19) · 6 StackOp 5 (`Swap`) · 7 Delay 64 128 64 64 0 0 16 1 (entry 16) · 8 StackOp 5 (`Swap`) · 9 Output 64 0.
- Track 6 (15 units): 0 Envelope 0 75 0 0 32 · 1 Store 128 2 (to slot 0 `gainMod`) · 2 Envelope 0 70 0 0 128 · 3 Distort 8 128 · 4 Store 76 57 (to slot 7 `transposeMod`) · 5 StackOp 1 (`Pop`) · 6 Oscillator 64 64 64 64 64 128 8 · 7 Oscillator 64 64 64 64 64 128 1 · 8 StackOp 2 (`AddPop`) · 9 StackOp 3 (`MulPop`) · 10 Filter 94 128 1 · 11 Delay 53 128 70 33 0 0 20 1 (entry 20) · 12 Delay 81 128 66 110 0 51 21 1 (entry 21) · 13 Pan 52 · 14 Output 72 6.
- Track 7 (12 units): 0 Envelope 0 96 0 64 128 · 1 Oscillator 64 73 0 64 64 128 1 · 2 Store 96 36 (to slot 4 `phaseMod`) · 3 StackOp 1 (`Pop`) · 4 Oscillator 64 64 64 64 64 128 2 · 5 StackOp 3 (`MulPop`) · 6 Filter 48 64 1 · 7 Filter 34 94 1 · 8 Store 45 37 (to slot 4 `colorMod`) · 9 Delay 64 128 31 64 0 0 16 1 (entry 16) · 10 Pan 64 · 11 Output 96 4.
- Track 8 (18 units): 0 Envelope 40 80 36 64 128 · 1 Oscillator 64 64 64 64 1 128 4 · 2 StackOp 3 (`MulPop`) · 3 Oscillator 64 50 0 64 64 64 4 · 4 StackOp 3 (`MulPop`) · 5 Oscillator 88 65 0 34 64 128 20 · 6 Filter 8 128 1 · 7 Store 96 137 (to slot 17 `gainMod`) · 8 StackOp 1 (`Pop`) · 9 Oscillator 48 64 35 64 64 128 17 · 10 Store 95 13 (to slot 1 `colorMod`) · 11 Store 92 29 (to slot 3 `colorMod`) · 12 StackOp 1 (`Pop`) · 13 Filter 60 70 1 · 14 Store 101 128 (to slot 16 `positionMod`) · 15 Delay 64 128 64 64 0 0 16 1 (entry 16) · 16 Pan 64 · 17 Output 56 30.
- Track 9 (19 units): 0 Envelope 50 0 128 61 128 · 1 Oscillator 72 64 0 64 64 128 17 · 2 Store 56 66 (to slot 8 `detuneMod`) · 3 Store 77 82 (to slot 10 `detuneMod`) · 4 StackOp 1 (`Pop`) · 5 Oscillator 48 64 0 64 64 128 17 · 6 Store 72 74 (to slot 9 `detuneMod`) · 7 StackOp 1 (`Pop`) · 8 Oscillator 64 64 0 64 64 128 4 · 9 Oscillator 64 64 0 64 64 64 4 · 10 Oscillator 64 64 0 64 64 96 2 · 11 StackOp 2 (`AddPop`) · 12 StackOp 2 (`AddPop`) · 13 Filter 76 61 1 · 14 StackOp 3 (`MulPop`) · 15 Delay 79 128 36 64 0 0 16 1 (entry 16) · 16 Pan 74 · 17 Delay 128 0 0 0 0 0 22 1 (entry 22) · 18 Output 18 20.
- Track 10 (12 units): 0 Envelope 0 83 111 65 128 · 1 Oscillator 64 65 76 64 64 128 2 · 2 Oscillator 64 43 38 64 64 77 1 · 3 StackOp 3 (`MulPop`) · 4 StackOp 3 (`MulPop`) · 5 Filter 20 60 2 · 6 Store 128 13 (to slot 1 `colorMod`) · 7 Store 58 17 (to slot 2 `transposeMod`) · 8 Store 8 23 (to slot 2 `gainMod`) · 9 Delay 64 128 99 64 0 0 16 1 (entry 16) · 10 Pan 64 · 11 Output 64 64.
- Track 11 (16 units): 0 Envelope 0 64 64 64 128 · 1 Oscillator 64 64 0 64 64 128 4 · 2 Oscillator 52 64 0 64 64 128 1 · 3 Store 96 45 (to slot 5 `colorMod`) · 4 StackOp 1 (`Pop`) · 5 Oscillator 40 64 0 64 127 128 18 · 6 StackOp 3 (`MulPop`) · 7 Filter 49 19 1 · 8 StackOp 3 (`MulPop`) · 9 Pan 64 · 10 Delay 0 128 64 64 0 0 23 1 (entry 23) · 11 StackOp 5 (`Swap`) · 12 Delay 0 128 64 64 0 0 23 1 (entry 23) · 13 StackOp 5 (`Swap`) · 14 Distort 96 90 · 15 Output 64 64.
- Track 12 (19 units): 0 Envelope 0 64 64 74 128 · 1 Envelope 0 88 16 64 128 · 2 Store 96 63 (to slot 7 `gainMod`) · 3 Store 32 84 (to slot 10 `frequencyMod`) · 4 StackOp 1 (`Pop`) · 5 Oscillator 64 68 0 64 64 128 2 · 6 Oscillator 52 58 32 32 64 128 2 · 7 Oscillator 88 62 48 48 32 32 1 · 8 StackOp 2 (`AddPop`) · 9 StackOp 2 (`AddPop`) · 10 Filter 64 64 2 · 11 Distort 120 128 · 12 StackOp 3 (`MulPop`) · 13 Pan 64 · 14 Delay 96 96 64 64 0 0 24 1 (entry 24) · 15 StackOp 5 (`Swap`) · 16 Delay 96 96 64 64 0 0 24 1 (entry 24) · 17 StackOp 5 (`Swap`) · 18 Output 64 64.
- Track 13 (25 units): 0 Envelope 0 64 88 48 128 · 1 Oscillator 16 64 0 64 64 128 17 · 2 Store 48 84 (to slot 10 `frequencyMod`) · 3 StackOp 1 (`Pop`) · 4 Oscillator 8 64 0 64 64 128 17 · 5 Store 32 100 (to slot 12 `frequencyMod`) · 6 Store 68 90 (to slot 11 `detuneMod`) · 7 Store 88 116 (to slot 14 `frequencyMod`) · 8 StackOp 1 (`Pop`) · 9 Oscillator 67 64 0 16 64 72 2 · 10 Filter 64 128 1 · 11 Oscillator 71 64 0 16 64 64 2 · 12 Filter 64 128 1 · 13 Oscillator 64 64 0 16 64 96 2 · 14 Filter 64 128 1 · 15 StackOp 2 (`AddPop`) · 16 StackOp 2 (`AddPop`) · 17 Envelope 88 88 96 96 128 · 18 Store 88 164 (to slot 20 `frequencyMod`) · 19 StackOp 1 (`Pop`) · 20 Filter 32 16 3 · 21 StackOp 3 (`MulPop`) · 22 Delay 48 96 48 128 0 0 20 1 (entry 20) · 23 Pan 64 · 24 Output 128 117.
- Track 14 (23 units): 0 Envelope 32 88 64 92 128 · 1 Oscillator 38 64 0 64 64 128 17 · 2 Store 72 108 (to slot 13 `frequencyMod`) · 3 StackOp 1 (`Pop`) · 4 Oscillator 32 64 64 64 64 128 17 · 5 Store 72 124 (to slot 15 `frequencyMod`) · 6 StackOp 1 (`Pop`) · 7 Oscillator 64 64 0 2 64 128 4 · 8 Oscillator 76 69 0 123 64 128 4 · 9 Oscillator 76 55 0 24 64 128 4 · 10 StackOp 2 (`AddPop`) · 11 StackOp 2 (`AddPop`) · 12 StackOp 4 (`Dup`) · 13 Filter 96 96 2 · 14 StackOp 5 (`Swap`) · 15 Filter 52 112 4 · 16 StackOp 2 (`AddPop`) · 17 Filter 56 128 1 · 18 StackOp 3 (`MulPop`) · 19 Store 99 61 (to slot 7 `colorMod`) · 20 Delay 112 32 32 32 48 64 25 1 (entry 25) · 21 Pan 47 · 22 Output 72 73.
- Track 15 (12 units): 0 Envelope 32 80 64 64 51 · 1 Oscillator 88 64 0 64 64 128 2 · 2 StackOp 3 (`MulPop`) · 3 Pan 64 · 4 Delay 96 64 64 64 0 0 16 1 (entry 16) · 5 StackOp 5 (`Swap`) · 6 Delay 96 64 96 64 0 0 19 1 (entry 19) · 7 StackOp 5 (`Swap`) · 8 Store 108 14 (to slot 1 `shapeMod`) · 9 Store 0 13 (to slot 1 `colorMod`) · 10 Filter 74 27 1 · 11 Output 68 13.
- Master chain (8 units): 0 Accumulate 8 · 1 Delay 40 128 11 64 0 0 0 8 (entries 0–7) · 2 StackOp 5 (`Swap`) · 3 Delay 40 128 10 64 0 0 8 8 (entries 8–15) · 4 StackOp 5 (`Swap`) · 5 Accumulate 0 · 6 StackOp 8 (`AddPairs`) · 7 Output 64 0.
"""

DELAY_TIME_TABLE = [
    1116, 1188, 1276, 1356, 1422, 1492, 1556, 1618,
    1140, 1212, 1300, 1380, 1446, 1516, 1580, 1642,
    18900, 14174, 12600, 9450, 28349,
    864, 512, 1024, 224, 1792,
]

TRACKS_TABLE = r"""
| 0 | 0 to 97 | 1 to 36 | 64 67 69 71 72 74 76 79 81 84 86 88 91 93 | 0 1 2 4 6 7 8 10 11 12 13 14 15 | 117 | 655 |
| 1 | 16 to 97 | 37 to 52 | 45 48 49 50 69 72 74 76 77 78 79 80 81 82 84 86 | 0 1 2 3 4 6 8 9 10 11 12 13 14 15 | 157 | 0 |
| 2 | 16 to 97 | 53 to 57 | 45 48 49 50 | 2 8 12 | 238 | 0 |
| 3 | 16 to 97 | 58 to 65 | 45 48 49 50 57 60 61 62 | 0 4 10 14 | 258 | 0 |
| 4 | 15 to 97 | 66 to 69 | 60 | 0 2 12 14 | 101 | 0 |
| 5 | 16 to 97 | 70, 71 | 48 | 4 12 | 159 | 0 |
| 6 | 15 to 97 | 72 to 74 | 48 | 8 14 | 81 | 0 |
| 7 | 0 to 97 | 4, 75 to 80 | 43 45 48 50 52 57 64 | 0 4 6 8 | 152 | 192 |
| 8 | 28 to 97 | 38 Patterns: 4, 6, 17, 28 to 34, 36, 81 to 107 | 57 60 62 64 67 69 72 74 76 79 81 84 86 88 89 90 91 92 93 94 96 98 | 0 1 4 6 8 9 12 14 | 78 | 570 |
| 9 | 3 to 96 | 24 Patterns: 6, 83, 96, 100 to 104, 107 to 122 | 55 57 60 62 64 67 69 71 72 74 76 79 | 0 2 3 4 5 7 8 10 11 12 14 15 | 95 | 325 |
| 10 | 3 to 97 | 108 to 112, 123 to 132 | 57 62 64 67 69 71 72 74 76 79 81 | 0 2 4 6 8 10 12 14 | 524 | 99 |
| 11 | 28 to 97 | 133, 134 | 57 | 0 2 15 | 140 | 0 |
| 12 | 28 to 97 | 134 to 137 | 57 60 61 62 | 0 2 | 128 | 0 |
| 13 | 38 to 73 | 138 to 140 | 81 | 6 8 10 12 14 | 13 | 8 |
| 14 | 44 to 105 | 18 Patterns: 4, 6, 17, 36, 103 to 107, 141 to 149 | 69 72 74 76 77 78 79 80 81 82 84 86 | 0 8 12 | 49 | 575 |
| 15 | 16 to 104 | 150 to 162 | 67 69 71 72 74 76 77 78 79 82 | 4 12 | 27 | 129 |
"""

FIXED_PATTERNS = r"""
Patterns fixed row by row (rows 0 to 15; a dot is 0):

| Pattern | rows 0 to 15 | what it does |
|---|---|---|
| 0 | . . . . . . . . . . . . . . . . | release on every row |
| 1 | 69 1 1 1 1 1 1 1 74 1 1 1 1 1 1 1 | two notes on rows 0 and 8, held on all other rows; the second sounds on into the next Pattern until that one's first byte other than 1 (Track 0) |
| 4 | 1 1 1 1 . . . . . . . . . . . . | holds the note of the previous Pattern four more Ticks, then releases (Tracks 0, 7, 8, 14) |
| 38 | 79 79 79 79 . . 48 . . . . . . . . . | the same note struck anew on four Ticks in a row, alternating between the Track's two voices (Track 1) |
| 53 | . . 45 . . . . . 45 . . . 45 . . . | one-Tick notes, each released on the next row (Track 2) |
| 68 | 60 . . . . . . . . . . . . . 60 . | the third entry of Track 4's four-entry figure 67, 67, 68, 69; 67 holds one note on row 0, 69 one on row 2 |
| 131 | 64 . 57 . 64 . 57 . 64 . 57 . 64 . 57 . | a new note on every even Tick (Track 10) |
| 139 | . . . . . . 81 1 1 1 1 . 81 . . . | a note held for five Ticks, then a one-Tick note (Track 13) |
"""
