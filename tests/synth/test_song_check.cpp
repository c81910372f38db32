// Validation of the built-in song data: the checks song_check.h makes, on the
// built-in song and on songs broken on purpose.
#include <gtest/gtest.h>

#include "song_check.h"
#include "synth_test_util.h"

namespace {

TEST(SongCheck, BuiltInSongKeepsEveryRule) {
    const SongCheckReport report = checkSong(builtinSong());
    for (const std::string& problem : report.problems) ADD_FAILURE() << problem;
    EXPECT_EQ(report.instruments, 17u);
    EXPECT_EQ(report.opcodes, 264u);
    EXPECT_EQ(report.parameterBytes, 913u);
    EXPECT_EQ(report.delayLines, 92u);
    EXPECT_LE(report.delayLines + 1, DELAY_POOL_RECORDS);
    EXPECT_LE(report.longestChain, MAX_UNITS);
    EXPECT_LE(report.deepestStack, STACK_CAPACITY);
}

TEST(SongCheck, FindsBrokenData) {
    auto problemsOf = [](TestSong& song) { return checkSong(*song.finish()).problems.size(); };
    {
        TestSong song;
        ChainBuilder().unit(OP_ENVELOPE, {0, 0, 0, 0, 0}).unit(12).unit(OP_STACKOP, {STACK_POP}).appendTo(song);
        for (std::uint32_t t = 1; t <= TRACKS; ++t) song.commands.push_back(0);
        EXPECT_GE(problemsOf(song), 1u);  // opcode above 11
    }
    {
        TestSong song;
        ChainBuilder().unit(OP_OSCILLATOR, {64, 64, 0, 64, 64, 128, 1}).unit(OP_STACKOP, {STACK_POP}).appendTo(song);
        for (std::uint32_t t = 1; t <= TRACKS; ++t) song.commands.push_back(0);
        EXPECT_GE(problemsOf(song), 1u);  // a track chain without an Envelope first
    }
    {
        TestSong song;
        ChainBuilder().unit(OP_ENVELOPE, {0, 0, 0, 0, 0}).appendTo(song);
        for (std::uint32_t t = 1; t <= TRACKS; ++t) song.commands.push_back(0);
        EXPECT_GE(problemsOf(song), 1u);  // unbalanced
    }
    {
        TestSong song;
        ChainBuilder chain;
        chain.unit(OP_ENVELOPE, {0, 0, 0, 0, 0});
        for (int i = 0; i < 32; ++i) chain.unit(OP_NOP);
        chain.unit(OP_STACKOP, {STACK_POP});
        chain.appendTo(song);
        for (std::uint32_t t = 1; t <= TRACKS; ++t) song.commands.push_back(0);
        EXPECT_GE(problemsOf(song), 1u);  // more than 32 units
    }
    {
        TestSong song;
        ChainBuilder chain;
        chain.unit(OP_ENVELOPE, {0, 0, 0, 0, 0});
        for (int i = 0; i < 4; ++i) chain.unit(OP_STACKOP, {STACK_DUP});
        chain.unit(OP_OSCILLATOR, {64, 64, 0, 64, 64, 128, 1});
        for (int i = 0; i < 6; ++i) chain.unit(OP_STACKOP, {STACK_POP});
        chain.appendTo(song);
        for (std::uint32_t t = 1; t <= TRACKS; ++t) song.commands.push_back(0);
        EXPECT_GE(problemsOf(song), 1u);  // 5 values and an Oscillator's 4 working values: over 8
    }
    {
        TestSong song;
        ChainBuilder()
            .unit(OP_ENVELOPE, {0, 0, 0, 0, 0})
            .unit(OP_DELAY, {0, 0, 0, 0, 0, 0, 25, 2})
            .unit(OP_STACKOP, {STACK_POP})
            .appendTo(song);
        for (std::uint32_t t = 1; t <= TRACKS; ++t) song.commands.push_back(0);
        EXPECT_GE(problemsOf(song), 1u);  // lines beyond the DelayTimeTable
    }
    {
        TestSong song;
        ChainBuilder().unit(OP_ENVELOPE, {0, 0, 0, 0, 0}).unit(OP_STACKOP, {STACK_POP}).appendTo(song);
        for (std::uint32_t t = 1; t <= TRACKS; ++t) song.commands.push_back(0);
        song.parameters.push_back(7);
        EXPECT_GE(problemsOf(song), 1u);  // a parameter byte left over
    }
    {
        TestSong song;
        ChainBuilder()
            .unit(OP_ENVELOPE, {0, 0, 0, 0, 0})
            .unit(OP_DELAY, {0, 0, 0, 0, 0, 0, 0, 24})
            .unit(OP_DELAY, {0, 0, 0, 0, 0, 0, 0, 24})
            .unit(OP_STACKOP, {STACK_POP})
            .appendTo(song);
        for (std::uint32_t t = 1; t <= TRACKS; ++t) song.commands.push_back(0);
        EXPECT_GE(problemsOf(song), 1u);  // 96 lines: the pool is too small
    }
    {
        TestSong song;
        ChainBuilder().unit(OP_ENVELOPE, {0, 0, 0, 0, 0}).unit(OP_STACKOP, {STACK_POP}).appendTo(song);
        for (std::uint32_t t = 1; t <= TRACKS; ++t) song.commands.push_back(0);
        EXPECT_EQ(problemsOf(song), 0u);  // and a sound one passes
    }
}

}  // namespace
