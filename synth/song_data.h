#pragma once

#include <cstdint>

// The song: read-only data blocks in the formats that the sequencer and the
// unit machine read. Defined in song_data.cpp, which depends on nothing but
// the standard library. song_data.cpp is written by tools/song-gen/song_gen.py,
// which composes the Pattern table and checks every count before it writes.

// 163 Patterns of 16 note bytes; byte 16*p + r is row r of Pattern p.
extern const std::uint8_t PATTERN_TABLE[2608];
// 16 Tracks x 109 entries, Track-major: byte 109*t + i is the Pattern that
// Track t plays during Ticks 16*i to 16*i + 15.
extern const std::uint8_t PATTERN_LIST_TABLE[1744];
// 17 instruments (Tracks 0 to 15, then the master chain): opcodes 1 to 11,
// each instrument ended by a 0 byte.
extern const std::uint8_t COMMAND_STREAM[281];
// The parameter bytes of every unit of COMMAND_STREAM, in the same order.
extern const std::uint8_t PARAMETER_STREAM[913];
// Delay line lengths in frames, indexed by a Delay unit's timeIndex.
extern const std::uint16_t DelayTimeTable[26];
