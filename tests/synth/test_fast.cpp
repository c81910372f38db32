// The fast render loop against the straightforward reference loop: frames
// and states bit-identical, on the built-in song's opening and on random
// hand-made songs that exercise every unit, modulation of arbitrary words,
// silent, quiet and waking voices, and renders in pieces.
#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <vector>

#include "song_check.h"
#include "state_compare.h"

namespace {

void compareRenders(const SongData* song, std::uint32_t startFrame, std::uint32_t frames, std::uint32_t seed,
                    bool expectFast = true, FastCounters* counters = nullptr) {
    auto reference = makeSynthState(song);
    auto fast = makeSynthState(song);
    reference->nextFrame = fast->nextFrame = startFrame;
    std::vector<StereoFrame> a(frames), b(frames);
    ASSERT_EQ(renderSongFramesReference(*reference, a.data(), frames), frames);
    // The fast loop in pieces of varying length.
    std::mt19937 rng(seed);
    std::uint32_t done = 0;
    while (done < frames) {
        std::uint32_t piece = 1 + rng() % 7000;
        if (piece > frames - done) piece = frames - done;
        ASSERT_EQ(renderSongFramesFast(*fast, b.data() + done, piece), piece);
        done += piece;
    }
    ASSERT_TRUE(sameFrames(a.data(), b.data(), frames, startFrame));
    ASSERT_TRUE(sameState(*reference, *fast));
    // The fast loop really ran (it counts its voice runs), or fell back.
    EXPECT_EQ(fastCounters(*fast).voiceRuns > 0, expectFast);
    if (counters) *counters = fastCounters(*fast);
}

TEST(FastLoop, MatchesReferenceOnTheSongsOpening) {
    const std::uint32_t frames = 3 * SAMPLE_RATE;
    compareRenders(&builtinSong(), 0, frames, 1);
}

TEST(FastLoop, MatchesReferenceLaterInTheSong) {
    // From a fresh state at entry 16 (where most Tracks start), 2 s.
    compareRenders(&builtinSong(), 16 * 16 * SAMPLES_PER_TICK, 2 * SAMPLE_RATE, 2);
}

// A random instrument that keeps the unit machine's rules.
void randomInstrument(std::mt19937& rng, TestSong& song, bool master, std::uint32_t maxLines, bool accumulate = false) {
    auto byte = [&](int lo, int hi) { return static_cast<std::uint8_t>(lo + static_cast<int>(rng() % (hi - lo + 1))); };
    auto level = [&] { return rng() % 8 == 0 ? byte(129, 255) : byte(0, 128); };
    ChainBuilder chain;
    std::uint32_t depth = 0;
    std::uint32_t lines = 0;
    if (!master) {
        chain.unit(OP_ENVELOPE, {byte(0, 40), byte(0, 60), byte(0, 128), byte(0, 40), byte(32, 128)});
        depth = 1;
    } else {
        chain.unit(OP_ACCUMULATE, {static_cast<std::uint8_t>(rng() % 2 ? 8 : 0)});
        depth = 2;
    }
    const std::uint32_t units = 3 + rng() % 18;
    for (std::uint32_t u = 0; u < units; ++u) {
        const std::uint32_t choice = rng() % 13;
        if (choice == 0 && depth <= 4) {
            chain.unit(OP_ENVELOPE, {byte(0, 60), byte(0, 80), level(), byte(0, 60), level()});
            ++depth;
        } else if (choice <= 2 && depth <= 4) {
            const std::uint8_t shapes[] = {OSC_SINE, OSC_TRISAW, OSC_PULSE, OSC_NOISE};
            std::uint8_t flags = shapes[rng() % 4];
            if (rng() % 3 == 0) flags |= OSC_LFO;
            chain.unit(OP_OSCILLATOR, {byte(30, 100), byte(0, 127), level(), level(), byte(1, 127), level(), flags});
            ++depth;
        } else if (choice == 3 && depth >= 1) {
            chain.unit(OP_FILTER, {byte(0, 128), byte(0, 128), byte(0, 15)});
        } else if (choice == 4 && depth >= 1) {
            chain.unit(OP_DISTORT, {byte(1, 127), byte(0, 128)});
        } else if (choice == 5 && depth >= 1 && lines < maxLines) {
            const std::uint8_t count = static_cast<std::uint8_t>(1 + rng() % std::min<std::uint32_t>(3, maxLines - lines));
            const std::uint8_t index = static_cast<std::uint8_t>(rng() % (song.delayTimes.size() - count + 1));
            const std::uint8_t depthByte = rng() % 3 == 0 ? byte(1, 40) : 0;
            chain.unit(OP_DELAY, {byte(0, 128), byte(0, 128), byte(0, 120), byte(0, 128),
                                  rng() % 3 == 0 ? byte(0, 128) : std::uint8_t{0}, depthByte, index, count});
            lines += count;
        } else if (choice == 6 && depth >= 1) {
            // A Store to any word: the modulation inputs mostly, any word at times.
            const std::uint8_t target = rng() % 4 == 0 ? byte(0, 255) : static_cast<std::uint8_t>(8 * (rng() % (units + 1)) + rng() % 8);
            chain.unit(OP_STORE, {level(), target});
        } else if (choice == 7 && depth >= 1 && depth <= 6) {
            chain.unit(OP_PAN, {level()});
            ++depth;
        } else if (choice == 8 && depth >= 2) {
            const std::uint8_t ops[] = {STACK_ADD_POP, STACK_MUL_POP, STACK_SWAP, STACK_ADD, STACK_MUL};
            const std::uint8_t op = ops[rng() % 5];
            chain.unit(OP_STACKOP, {op});
            if (op == STACK_ADD_POP || op == STACK_MUL_POP) --depth;
        } else if (choice == 9 && depth >= 1 && depth <= 6) {
            chain.unit(OP_STACKOP, {STACK_DUP});
            ++depth;
        } else if (choice == 10) {
            chain.unit(rng() % 2 ? std::uint8_t{OP_NOP} : static_cast<std::uint8_t>(12 + rng() % 200));
        } else if (choice == 11 && depth >= 4) {
            chain.unit(OP_STACKOP, {STACK_ADD_PAIRS});
            depth -= 2;
        } else if (choice == 12 && accumulate && depth <= 4) {
            // A track chain that reads the other voices' output words.
            chain.unit(OP_ACCUMULATE, {static_cast<std::uint8_t>(rng() % 2 ? 8 : 0)});
            depth += 2;
        }
    }
    while (depth > 2) {
        chain.unit(OP_STACKOP, {STACK_POP});
        --depth;
    }
    if (depth == 0) chain.unit(OP_OSCILLATOR, {64, 64, 0, 64, 64, 128, OSC_SINE}), depth = 1;
    if (depth == 1) chain.unit(OP_PAN, {level()});
    chain.unit(OP_OUTPUT, {level(), level()});
    chain.appendTo(song);
}

TestSong randomSong(std::uint32_t seed) {
    std::mt19937 rng(seed);
    TestSong song;
    song.delayTimes = {37, 64, 101, 150, 224, 300, 512, 777, 1024, 40, 90, 333};
    for (int p = 0; p < 40; ++p) {
        std::vector<std::uint8_t> rows(16);
        for (auto& r : rows) {
            const std::uint32_t x = rng() % 10;
            r = x < 3 ? static_cast<std::uint8_t>(2 + rng() % 120) : x < 6 ? 1 : x < 9 ? 0 : static_cast<std::uint8_t>(128 + rng() % 128);
        }
        song.patterns.insert(song.patterns.end(), rows.begin(), rows.end());
    }
    for (auto& entry : song.patternList) entry = static_cast<std::uint8_t>(rng() % 41);
    // Every third song has track chains that read other voices, which the
    // fast loop runs frame by frame instead of voice by voice.
    for (std::uint32_t t = 0; t < TRACKS; ++t) randomInstrument(rng, song, false, 2, seed % 3 == 0);
    randomInstrument(rng, song, true, 12);
    return song;
}

TEST(FastLoop, MatchesReferenceOnRandomSongs) {
    std::uint64_t silent = 0, skipped = 0, zeroPath = 0, fullPath = 0;
    for (std::uint32_t seed = 1; seed <= 6; ++seed) {
        SCOPED_TRACE(seed);
        TestSong song = randomSong(seed);
        const SongData* data = song.finish();
        FastCounters c{};
        compareRenders(data, (seed * 5 % 100) * 16 * SAMPLES_PER_TICK, 6 * SAMPLES_PER_TICK + 1234, seed, true, &c);
        silent += c.silentRuns;
        skipped += c.skippedRuns;
        zeroPath += c.delayZero;
        fullPath += c.delayFull;
    }
    // The songs reach every path of the fast loop.
    EXPECT_GT(silent, 0u);
    EXPECT_GT(skipped, 0u);
    EXPECT_GT(zeroPath, 0u);
    EXPECT_GT(fullPath, 0u);
    std::printf("silent runs %llu, skipped runs %llu, delay zero path %llu, full path %llu\n",
                static_cast<unsigned long long>(silent), static_cast<unsigned long long>(skipped),
                static_cast<unsigned long long>(zeroPath), static_cast<unsigned long long>(fullPath));
}

TEST(FastLoop, FallsBackToTheReferenceForBrokenData) {
    // An unbalanced chain: the fast loop cannot trust it and must still give
    // the reference's frames.
    TestSong song;
    const std::uint8_t p = song.addPattern({60, 1, 1, 1});
    for (std::uint32_t i = 0; i < PATTERN_LIST_LENGTH; ++i) song.patternList[i] = p;
    ChainBuilder()
        .unit(OP_ENVELOPE, {0, 64, 64, 64, 128})
        .unit(OP_OSCILLATOR, {64, 64, 0, 64, 64, 128, OSC_SINE})
        .unit(OP_PAN, {64})
        .unit(OP_OUTPUT, {128, 0})
        .appendTo(song);
    for (std::uint32_t t = 1; t < TRACKS; ++t) song.commands.push_back(0);
    ChainBuilder().unit(OP_ACCUMULATE, {0}).unit(OP_OUTPUT, {128, 0}).appendTo(song);
    EXPECT_FALSE(checkSong(*song.finish()).ok());
    compareRenders(song.finish(), 0, 3000, 3, false);
}

TEST(FastLoop, AResetStateRendersTheSongAgainFromItsStart) {
    // A state that is untouched (made, or reset after a render) starts
    // without scanning its delay lines; both give the reference's frames.
    auto reference = makeSynthState();
    auto fast = makeSynthState();
    const std::uint32_t frames = 30000;
    std::vector<StereoFrame> a(frames), b(frames), c(frames);
    renderSongFramesReference(*reference, a.data(), frames);
    renderSongFramesFast(*fast, b.data(), frames);
    resetSynthState(*fast);
    renderSongFramesFast(*fast, c.data(), frames);
    EXPECT_TRUE(sameFrames(a.data(), b.data(), frames));
    EXPECT_TRUE(sameFrames(a.data(), c.data(), frames));
    EXPECT_TRUE(sameState(*reference, *fast));
}

TEST(FastLoop, ReferenceAndFastMayAlternateOnOneState) {
    auto a = makeSynthState();
    auto b = makeSynthState();
    std::vector<StereoFrame> x(60000), y(60000);
    renderSongFramesReference(*a, x.data(), 60000);
    renderSongFramesFast(*b, y.data(), 20000);
    renderSongFramesReference(*b, y.data() + 20000, 20000);
    renderSongFramesFast(*b, y.data() + 40000, 20000);
    EXPECT_TRUE(sameFrames(x.data(), y.data(), 60000));
    EXPECT_TRUE(sameState(*a, *b));
}

}  // namespace
