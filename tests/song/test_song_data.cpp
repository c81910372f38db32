// The committed song data: the two instrument streams, the delay table, the
// PatternLists and the Pattern table, checked against the counts and rules
// that the song keeps. Reads the blocks of song_data.cpp, with the unit
// formats of song_format.h.

#include "song_data.h"
#include "song_format.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <map>
#include <set>
#include <vector>

namespace {

constexpr int kTracks = 16;
constexpr int kEntries = 109;
constexpr int kPatterns = 163;
constexpr int kRows = 16;

struct Unit {
    std::uint8_t op;
    const std::uint8_t* params;  // unitParamCount(op) bytes of PARAMETER_STREAM
};

struct Streams {
    std::vector<std::vector<Unit>> instruments;
    std::size_t commandBytes = 0;
    std::size_t parameterBytes = 0;
    bool badOpcode = false;
};

// Walks the CommandStream instrument by instrument, as the unit machine does,
// never reading past either stream.
Streams readStreams() {
    Streams s;
    std::vector<Unit> chain;
    for (std::size_t c = 0; c < sizeof COMMAND_STREAM; ++c) {
        const std::uint8_t op = COMMAND_STREAM[c];
        s.commandBytes = c + 1;
        if (op == OP_END) {
            s.instruments.push_back(chain);
            chain.clear();
            continue;
        }
        const std::size_t n = unitParamCount(op);
        if (op >= OPCODE_COUNT || s.parameterBytes + n > sizeof PARAMETER_STREAM) {
            s.badOpcode = true;
            break;
        }
        chain.push_back({op, PARAMETER_STREAM + s.parameterBytes});
        s.parameterBytes += n;
    }
    return s;
}

std::uint8_t pattern(int track, int entry) { return PATTERN_LIST_TABLE[kEntries * track + entry]; }
std::uint8_t noteByte(int p, int row) { return PATTERN_TABLE[kRows * p + row]; }
bool isNote(std::uint8_t b) { return b >= 2 && b < 128; }

// The Tracks table: the note bytes and rows of each Track's new notes and its
// whole-song counts of new notes and holds.
struct TrackRule {
    std::set<int> bytes;
    std::set<int> rows;
    int notes;
    int holds;
    int firstActive;
    int lastActive;
};

const std::array<TrackRule, kTracks>& trackRules() {
    static const std::array<TrackRule, kTracks> rules{{
        {{64, 67, 69, 71, 72, 74, 76, 79, 81, 84, 86, 88, 91, 93},
         {0, 1, 2, 4, 6, 7, 8, 10, 11, 12, 13, 14, 15}, 117, 655, 0, 97},
        {{45, 48, 49, 50, 69, 72, 74, 76, 77, 78, 79, 80, 81, 82, 84, 86},
         {0, 1, 2, 3, 4, 6, 8, 9, 10, 11, 12, 13, 14, 15}, 157, 0, 16, 97},
        {{45, 48, 49, 50}, {2, 8, 12}, 238, 0, 16, 97},
        {{45, 48, 49, 50, 57, 60, 61, 62}, {0, 4, 10, 14}, 258, 0, 16, 97},
        {{60}, {0, 2, 12, 14}, 101, 0, 15, 97},
        {{48}, {4, 12}, 159, 0, 16, 97},
        {{48}, {8, 14}, 81, 0, 15, 97},
        {{43, 45, 48, 50, 52, 57, 64}, {0, 4, 6, 8}, 152, 192, 0, 97},
        {{57, 60, 62, 64, 67, 69, 72, 74, 76, 79, 81, 84, 86, 88, 89, 90, 91, 92, 93, 94, 96, 98},
         {0, 1, 4, 6, 8, 9, 12, 14}, 78, 570, 28, 97},
        {{55, 57, 60, 62, 64, 67, 69, 71, 72, 74, 76, 79},
         {0, 2, 3, 4, 5, 7, 8, 10, 11, 12, 14, 15}, 95, 325, 3, 96},
        {{57, 62, 64, 67, 69, 71, 72, 74, 76, 79, 81}, {0, 2, 4, 6, 8, 10, 12, 14}, 524, 99, 3, 97},
        {{57}, {0, 2, 15}, 140, 0, 28, 97},
        {{57, 60, 61, 62}, {0, 2}, 128, 0, 28, 97},
        {{81}, {6, 8, 10, 12, 14}, 13, 8, 38, 73},
        {{69, 72, 74, 76, 77, 78, 79, 80, 81, 82, 84, 86}, {0, 8, 12}, 49, 575, 44, 105},
        {{67, 69, 71, 72, 74, 76, 77, 78, 79, 82}, {4, 12}, 27, 129, 16, 104},
    }};
    return rules;
}

// ------------------------------------------------------------ the streams ---

TEST(SongStreams, SeventeenInstrumentsOf264UnitsReadEveryParameterByte) {
    const Streams s = readStreams();
    ASSERT_FALSE(s.badOpcode);
    EXPECT_EQ(s.commandBytes, sizeof COMMAND_STREAM);
    EXPECT_EQ(s.parameterBytes, sizeof PARAMETER_STREAM);
    EXPECT_EQ(s.parameterBytes, 913u);
    ASSERT_EQ(s.instruments.size(), 17u);
    EXPECT_EQ(std::count(COMMAND_STREAM, COMMAND_STREAM + sizeof COMMAND_STREAM, 0), 17);
    std::size_t units = 0;
    for (const auto& chain : s.instruments) {
        units += chain.size();
        EXPECT_LE(chain.size(), 32u);
        for (const Unit& u : chain) {
            EXPECT_GE(u.op, OP_ENVELOPE);
            EXPECT_LE(u.op, OP_NOP);
        }
    }
    EXPECT_EQ(units, 264u);
    EXPECT_EQ(s.instruments[13].size(), 25u);  // the longest chain
    for (const auto& chain : s.instruments) EXPECT_LE(chain.size(), 25u);
}

TEST(SongStreams, Track0sChainAndTrack2sFirstUnits) {
    const std::vector<std::uint8_t> track0{1, 2, 2, 7, 6, 2, 6, 3, 6, 8, 5, 6, 5, 6, 9, 0};
    EXPECT_TRUE(std::equal(track0.begin(), track0.end(), COMMAND_STREAM));
    const std::vector<std::uint8_t> params{0, 9, 65, 30, 128, 64, 64, 0, 64, 64, 128, 4};
    EXPECT_TRUE(std::equal(params.begin(), params.end(), PARAMETER_STREAM));

    const Streams s = readStreams();
    ASSERT_EQ(s.instruments.size(), 17u);
    const auto& t2 = s.instruments[2];
    ASSERT_GE(t2.size(), 4u);
    EXPECT_EQ(t2[0].op, OP_ENVELOPE);
    EXPECT_EQ(t2[1].op, OP_STORE);
    EXPECT_EQ(t2[2].op, OP_STORE);
    EXPECT_EQ(t2[3].op, OP_ENVELOPE);
    // The Store right after the Envelope writes that Envelope's own gainMod.
    EXPECT_EQ(t2[1].params[1], 2);
}

TEST(SongStreams, EveryChainStartsRightAndLeavesTheStackEmpty) {
    const Streams s = readStreams();
    ASSERT_EQ(s.instruments.size(), 17u);
    for (std::size_t i = 0; i < s.instruments.size(); ++i) {
        const auto& chain = s.instruments[i];
        ASSERT_FALSE(chain.empty());
        EXPECT_EQ(chain.front().op, i < 16 ? OP_ENVELOPE : OP_ACCUMULATE) << "instrument " << i;
        EXPECT_EQ(chain.back().op, OP_OUTPUT) << "instrument " << i;
        int depth = 0, deepest = 0;
        for (const Unit& u : chain) {
            const std::uint8_t count = unitParamCount(u.op);
            const std::uint8_t last = count ? u.params[count - 1] : 0;
            if (u.op == OP_STACKOP) {
                EXPECT_TRUE(isStackOperation(last)) << "StackOp " << int(last);
            }
            const StackEffect effect = unitStackEffect(u.op, last);
            EXPECT_GE(depth, effect.pops) << "instrument " << i;
            depth += effect.pushes - effect.pops;
            deepest = std::max(deepest, depth);
        }
        EXPECT_EQ(depth, 0) << "instrument " << i;
        EXPECT_LE(deepest, 4) << "instrument " << i;
    }
}

TEST(SongStreams, DelayUnitsOfOneFrameUse92LinesWithinTheTable) {
    const Streams s = readStreams();
    ASSERT_EQ(s.instruments.size(), 17u);
    int trackLines = 0, masterLines = 0;
    for (std::size_t i = 0; i < s.instruments.size(); ++i) {
        for (const Unit& u : s.instruments[i]) {
            if (u.op != OP_DELAY) continue;
            const int timeIndex = u.params[6], lineCount = u.params[7];
            EXPECT_GE(lineCount, 1);
            EXPECT_LE(timeIndex + lineCount, 26) << "instrument " << i;
            (i < 16 ? trackLines : masterLines) += lineCount;
        }
    }
    EXPECT_EQ(trackLines, 38);
    EXPECT_EQ(masterLines, 16);
    EXPECT_EQ(2 * trackLines + masterLines, 92);  // two voices per Track
}

TEST(SongStreams, EveryStoreTargetsAModulationInputOfItsOwnChain) {
    // The UnitSlot words that each unit reads as modulation inputs.
    const std::map<std::uint8_t, std::set<int>> inputs{
        {OP_ENVELOPE, {2}}, {OP_OSCILLATOR, {1, 2, 4, 5, 6, 7}}, {OP_FILTER, {4}},
        {OP_PAN, {0}}, {OP_OUTPUT, {1}},
    };
    const Streams s = readStreams();
    int stores = 0, later = 0, earlier = 0;
    for (std::size_t i = 0; i < s.instruments.size(); ++i) {
        const auto& chain = s.instruments[i];
        for (std::size_t k = 0; k < chain.size(); ++k) {
            if (chain[k].op != OP_STORE) continue;
            ++stores;
            const int target = chain[k].params[1];
            const std::size_t slot = static_cast<std::size_t>(target / 8);
            const int word = target % 8;
            ASSERT_LT(slot, chain.size()) << "instrument " << i << " unit " << k;
            const auto it = inputs.find(chain[slot].op);
            ASSERT_NE(it, inputs.end()) << "instrument " << i << " unit " << k;
            EXPECT_TRUE(it->second.count(word)) << "instrument " << i << " unit " << k;
            (slot > k ? later : earlier)++;
        }
    }
    EXPECT_GT(stores, 0);
    EXPECT_GT(later, 0);
    EXPECT_GT(earlier, 0);
}

TEST(SongStreams, ParameterBytesAndFlagsStayInTheirRanges) {
    const Streams s = readStreams();
    std::set<int> oscFlags, filterFlags, stackOps, sources, bigBytes;
    for (const auto& chain : s.instruments) {
        for (const Unit& u : chain) {
            for (int j = 0; j < unitParamCount(u.op); ++j) {
                if (u.params[j] > 128) {
                    EXPECT_EQ(u.op, OP_STORE);
                    EXPECT_EQ(j, 1);
                    bigBytes.insert(u.params[j]);
                }
            }
            if (u.op == OP_OSCILLATOR) oscFlags.insert(u.params[6]);
            if (u.op == OP_FILTER) filterFlags.insert(u.params[2]);
            if (u.op == OP_STACKOP) stackOps.insert(u.params[0]);
            if (u.op == OP_ACCUMULATE) sources.insert(u.params[0]);
        }
    }
    EXPECT_EQ(bigBytes, (std::set<int>{137, 164}));
    EXPECT_EQ(oscFlags, (std::set<int>{1, 2, 4, 8, 17, 18, 20}));
    EXPECT_EQ(filterFlags, (std::set<int>{1, 2, 3, 4, 7}));
    EXPECT_EQ(stackOps, (std::set<int>{1, 2, 3, 4, 5, 8}));
    EXPECT_EQ(sources, (std::set<int>{0, 8}));
}

TEST(SongDelayTable, LengthsFitALineAndFollowTheTickGrid) {
    for (int i = 0; i < 26; ++i) {
        EXPECT_GT(DelayTimeTable[i], 0);
        EXPECT_LT(int(DelayTimeTable[i]), 65536);
    }
    for (int i = 0; i < 8; ++i) EXPECT_EQ(DelayTimeTable[i + 8], DelayTimeTable[i] + 24) << i;
    constexpr int tick = 4725;
    EXPECT_EQ(DelayTimeTable[16], 4 * tick);
    EXPECT_EQ(DelayTimeTable[17], 3 * tick - 1);
    EXPECT_EQ(3 * DelayTimeTable[18], 8 * tick);
    EXPECT_EQ(DelayTimeTable[19], 2 * tick);
    EXPECT_EQ(DelayTimeTable[20], 6 * tick - 1);
}

// ------------------------------------------------------------ the Patterns ---

TEST(SongPatterns, OnlyPatternZeroIsEmptyAndNoTwoAreAlike) {
    std::set<std::vector<std::uint8_t>> seen;
    for (int p = 0; p < kPatterns; ++p) {
        std::vector<std::uint8_t> rows(PATTERN_TABLE + kRows * p, PATTERN_TABLE + kRows * (p + 1));
        const bool empty = std::all_of(rows.begin(), rows.end(), [](std::uint8_t b) { return b == 0; });
        EXPECT_EQ(empty, p == 0) << "Pattern " << p;
        EXPECT_TRUE(seen.insert(rows).second) << "Pattern " << p << " repeats an earlier one";
    }
}

TEST(SongPatterns, FixedPatternsHaveTheirExactRows) {
    const std::map<int, std::array<int, kRows>> fixed{
        {0, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
        {1, {69, 1, 1, 1, 1, 1, 1, 1, 74, 1, 1, 1, 1, 1, 1, 1}},
        {4, {1, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
        {38, {79, 79, 79, 79, 0, 0, 48, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
        {53, {0, 0, 45, 0, 0, 0, 0, 0, 45, 0, 0, 0, 45, 0, 0, 0}},
        {68, {60, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 60, 0}},
        {131, {64, 0, 57, 0, 64, 0, 57, 0, 64, 0, 57, 0, 64, 0, 57, 0}},
        {139, {0, 0, 0, 0, 0, 0, 81, 1, 1, 1, 1, 0, 81, 0, 0, 0}},
    };
    for (const auto& [p, rows] : fixed)
        for (int r = 0; r < kRows; ++r) EXPECT_EQ(noteByte(p, r), rows[r]) << "Pattern " << p << " row " << r;
    // Track 4's figure: 67 one note on row 0, 69 one on row 2.
    for (int r = 0; r < kRows; ++r) {
        EXPECT_EQ(isNote(noteByte(67, r)), r == 0) << r;
        EXPECT_EQ(isNote(noteByte(69, r)), r == 2) << r;
    }
}

TEST(SongPatterns, Patterns4And36HoldThePreviousNoteThenRelease) {
    for (int p : {4, 36}) {
        int r = 0;
        while (r < kRows && noteByte(p, r) == 1) ++r;
        EXPECT_GT(r, 0) << "Pattern " << p;
        EXPECT_LT(r, kRows) << "Pattern " << p;
        for (; r < kRows; ++r) EXPECT_EQ(noteByte(p, r), 0) << "Pattern " << p << " row " << r;
    }
}

TEST(SongPatterns, NumberedInTheOrderOfFirstUse) {
    std::vector<int> order;
    std::set<int> seen;
    for (int t = 0; t < kTracks; ++t) {
        for (int i = 0; i < kEntries; ++i) {
            const int p = pattern(t, i);
            ASSERT_LT(p, kPatterns);
            if (p != 0 && seen.insert(p).second) order.push_back(p);
        }
    }
    ASSERT_EQ(order.size(), 162u);
    for (int k = 0; k < 162; ++k) EXPECT_EQ(order[k], k + 1);
}

TEST(SongPatterns, TableWideCountsAndNoteValues) {
    int releases = 0, holds = 0, notes = 0;
    std::set<int> values;
    for (std::uint8_t b : PATTERN_TABLE) {
        EXPECT_LT(b, 128);
        if (b == 0) ++releases;
        else if (b == 1) ++holds;
        else { ++notes; values.insert(b); }
    }
    EXPECT_EQ(releases, 1100);
    EXPECT_EQ(holds, 1063);
    EXPECT_EQ(notes, 445);
    EXPECT_EQ(values, (std::set<int>{43, 45, 48, 49, 50, 52, 55, 57, 60, 61, 62, 64, 67, 69, 71, 72,
                                     74, 76, 77, 78, 79, 80, 81, 82, 84, 86, 88, 89, 90, 91, 92, 93,
                                     94, 96, 98}));
}

// -------------------------------------------------------------- the Tracks ---

TEST(SongTracks, NewNotesOnlyOnEachTracksRowsAndBytes) {
    for (int t = 0; t < kTracks; ++t) {
        const TrackRule& rule = trackRules()[t];
        std::set<int> bytesUsed, rowsUsed;
        for (int i = 0; i < kEntries; ++i) {
            const int p = pattern(t, i);
            for (int r = 0; r < kRows; ++r) {
                const std::uint8_t b = noteByte(p, r);
                if (!isNote(b)) continue;
                EXPECT_TRUE(rule.rows.count(r)) << "Track " << t << " Pattern " << p << " row " << r;
                EXPECT_TRUE(rule.bytes.count(b)) << "Track " << t << " Pattern " << p << " byte " << int(b);
                bytesUsed.insert(b);
                rowsUsed.insert(r);
            }
        }
        // Every byte and row of the rule is used somewhere in the Track.
        EXPECT_EQ(bytesUsed, rule.bytes) << "Track " << t;
        EXPECT_EQ(rowsUsed, rule.rows) << "Track " << t;
    }
}

TEST(SongTracks, WholeSongCountsOfNewNotesAndHolds) {
    for (int t = 0; t < kTracks; ++t) {
        int notes = 0, holds = 0;
        for (int i = 0; i < kEntries; ++i) {
            for (int r = 0; r < kRows; ++r) {
                const std::uint8_t b = noteByte(pattern(t, i), r);
                notes += isNote(b);
                holds += b == 1;
            }
        }
        EXPECT_EQ(notes, trackRules()[t].notes) << "Track " << t;
        EXPECT_EQ(holds, trackRules()[t].holds) << "Track " << t;
    }
}

TEST(SongTracks, ActiveEntriesAndSharedPatterns) {
    std::map<int, std::set<int>> players;
    for (int t = 0; t < kTracks; ++t) {
        int first = -1, last = -1;
        for (int i = 0; i < kEntries; ++i) {
            if (pattern(t, i) == 0) continue;
            if (first < 0) first = i;
            last = i;
            players[pattern(t, i)].insert(t);
        }
        EXPECT_EQ(first, trackRules()[t].firstActive) << "Track " << t;
        EXPECT_EQ(last, trackRules()[t].lastActive) << "Track " << t;
    }
    const std::map<int, std::set<int>> shared{
        {4, {0, 7, 8, 14}}, {6, {0, 8, 9, 14}}, {17, {0, 8, 14}}, {36, {0, 8, 14}},
        {28, {0, 8}}, {34, {0, 8}}, {83, {8, 9}}, {96, {8, 9}}, {102, {8, 9}},
        {103, {8, 9, 14}}, {104, {8, 9, 14}}, {107, {8, 9, 14}}, {105, {8, 14}}, {106, {8, 14}},
        {108, {9, 10}}, {112, {9, 10}}, {134, {11, 12}}, {131, {10}}, {37, {1}},
    };
    for (const auto& [p, tracks] : shared) EXPECT_EQ(players[p], tracks) << "Pattern " << p;
}

TEST(SongTracks, HoldsOnlyExtendASoundingNote) {
    // A hold right after a release would hold silence: every hold follows a
    // new note or another hold of the same Track.
    for (int t = 0; t < kTracks; ++t) {
        std::uint8_t previous = 0;
        for (int tick = 0; tick < kEntries * kRows; ++tick) {
            const std::uint8_t b = noteByte(pattern(t, tick / kRows), tick % kRows);
            if (b == 1) {
                EXPECT_NE(previous, 0) << "Track " << t << " Tick " << tick;
            }
            previous = b;
        }
    }
}

// --------------------------------------------------------- the arrangement ---

TEST(SongArrangement, EntriesSixtyAndSixtyOneAreABreak) {
    for (int t = 0; t < kTracks; ++t) {
        EXPECT_EQ(pattern(t, 60), 0) << "Track " << t;
        EXPECT_EQ(pattern(t, 61), 0) << "Track " << t;
        for (int tick = 960; tick <= 991; ++tick)
            EXPECT_FALSE(isNote(noteByte(pattern(t, tick / kRows), tick % kRows)));
    }
}

TEST(SongArrangement, LastNoteAtTick1668AndOnlyPatternZeroAfterEntry105) {
    int last = -1, lastTrack = -1;
    for (int t = 0; t < kTracks; ++t) {
        for (int tick = 0; tick < kEntries * kRows; ++tick) {
            if (isNote(noteByte(pattern(t, tick / kRows), tick % kRows)) && tick > last) {
                last = tick;
                lastTrack = t;
            }
        }
        for (int i = 106; i < kEntries; ++i) EXPECT_EQ(pattern(t, i), 0) << "Track " << t;
        if (t != 14 && t != 15) {
            for (int i = 98; i < kEntries; ++i) EXPECT_EQ(pattern(t, i), 0) << "Track " << t;
        }
    }
    EXPECT_EQ(last, 1668);
    EXPECT_EQ(lastTrack, 15);
}

}  // namespace
