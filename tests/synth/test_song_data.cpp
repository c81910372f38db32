// The committed song data's instrument streams and delay table: the rules
// that the unit machine relies on through the one checker (checkSong), and
// the counts and contents that the song's instruments have. The Pattern
// table and the PatternLists are checked by the song generator's one check
// (tools/song-gen/checks.py, run on the committed data by song_gen_test.py).

#include "song_check.h"
#include "song_data.h"
#include "song_format.h"
#include "synth.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <map>
#include <set>
#include <vector>

namespace {

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

// ------------------------------------------------------------ the streams ---

TEST(SongStreams, KeepEveryRuleOfTheUnitMachine) {
    const SongCheckReport report = checkSong(builtinSong());
    for (const std::string& problem : report.problems) ADD_FAILURE() << problem;
    EXPECT_EQ(report.instruments, 17u);
    EXPECT_EQ(report.opcodes, 264u);
    EXPECT_EQ(report.parameterBytes, sizeof PARAMETER_STREAM);
    EXPECT_EQ(report.longestChain, 25u);
    EXPECT_EQ(report.delayLines, 92u);  // two voices per Track
}

TEST(SongStreams, SeventeenInstrumentsReadEveryByteTrack13TheLongest) {
    const Streams s = readStreams();
    ASSERT_FALSE(s.badOpcode);
    EXPECT_EQ(s.commandBytes, sizeof COMMAND_STREAM);
    EXPECT_EQ(s.parameterBytes, 913u);
    ASSERT_EQ(s.instruments.size(), 17u);
    EXPECT_EQ(std::count(COMMAND_STREAM, COMMAND_STREAM + sizeof COMMAND_STREAM, 0), 17);
    EXPECT_EQ(s.instruments[13].size(), 25u);  // the longest chain
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

TEST(SongStreams, EveryChainStartsAndEndsRightAndStaysShallow) {
    const Streams s = readStreams();
    ASSERT_EQ(s.instruments.size(), 17u);
    for (std::size_t i = 0; i < s.instruments.size(); ++i) {
        const auto& chain = s.instruments[i];
        ASSERT_FALSE(chain.empty());
        EXPECT_EQ(chain.front().op, i < 16 ? OP_ENVELOPE : OP_ACCUMULATE) << "instrument " << i;
        EXPECT_EQ(chain.back().op, OP_OUTPUT) << "instrument " << i;
        // The stack's balance is checkSong's; how deep it goes is the song's.
        int depth = 0, deepest = 0;
        for (const Unit& u : chain) {
            const std::uint8_t count = unitParamCount(u.op);
            const StackEffect effect = unitStackEffect(u.op, count ? u.params[count - 1] : 0);
            depth += effect.pushes - effect.pops;
            deepest = std::max(deepest, depth);
        }
        EXPECT_LE(deepest, 4) << "instrument " << i;
    }
}

TEST(SongStreams, DelayLinesAre38OfTheTracksAnd16OfTheMaster) {
    const Streams s = readStreams();
    ASSERT_EQ(s.instruments.size(), 17u);
    int trackLines = 0, masterLines = 0;
    for (std::size_t i = 0; i < s.instruments.size(); ++i) {
        for (const Unit& u : s.instruments[i]) {
            if (u.op != OP_DELAY) continue;
            (i < 16 ? trackLines : masterLines) += u.params[7];  // lineCount
        }
    }
    EXPECT_EQ(trackLines, 38);
    EXPECT_EQ(masterLines, 16);
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

}  // namespace
