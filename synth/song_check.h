#pragma once
// Validation of song data against the rules that the unit machine relies
// on and does not test while it runs: the built-in song is checked by a
// test, and the fast loop makes the checks it needs before it trusts a song.

#include <cstdint>
#include <string>
#include <vector>

#include "song_format.h"

struct SongCheckReport {
    std::vector<std::string> problems;  // empty: the data keeps every rule
    std::uint32_t instruments = 0;      // terminated instruments found
    std::uint32_t opcodes = 0;          // units in all instruments
    std::uint32_t parameterBytes = 0;   // parameter bytes the units consume
    std::uint32_t delayLines = 0;       // lines that the Delay units of one frame take
    std::uint32_t longestChain = 0;
    std::uint32_t deepestStack = 0;     // most values on the stack, units' working values included
    bool ok() const { return problems.empty(); }
};

// Checks: opcodes 1 to 11 only; 17 instruments; at most 32 units a chain;
// every chain balanced and within the stack capacity of 8 (counting the
// working values of Envelope and Oscillator); every track chain starting
// with an Envelope; the ParameterStream consumed exactly; every Delay's
// timeIndex + lineCount within the DelayTimeTable, lineCount >= 1, no table
// entry 0; the pool large enough for the lines of one frame plus one;
// StackOp operations 1 to 8; Accumulate sources 0 or 8; Oscillators with
// exactly one shape bit; Pattern indices within the Pattern table.
SongCheckReport checkSong(const SongData& song);
