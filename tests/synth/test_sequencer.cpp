// The note fetch, the end-of-note rule, the clip and the render loop
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "synth_test_util.h"

namespace {

TEST(Clip, Values) {
    EXPECT_EQ(clipSample(1.0f), 1.0f);
    EXPECT_EQ(clipSample(-1.0f), -1.0f);
    EXPECT_EQ(clipSample(1.5f), 1.0f);
    EXPECT_EQ(clipSample(-7.0f), -1.0f);
    EXPECT_EQ(clipSample(std::numeric_limits<float>::quiet_NaN()), 1.0f);
    EXPECT_EQ(clipSample(std::numeric_limits<float>::infinity()), 1.0f);
    EXPECT_EQ(clipSample(-std::numeric_limits<float>::infinity()), -1.0f);
    EXPECT_EQ(floatBits(clipSample(-0.0f)), 0x80000000u);
    EXPECT_EQ(floatBits(clipSample(0.0f)), 0u);
    EXPECT_EQ(clipSample(0.25f), 0.25f);
    EXPECT_EQ(clipSample(-0.999f), -0.999f);
    EXPECT_EQ(clipSample(std::nextafter(1.0f, 0.0f)), std::nextafter(1.0f, 0.0f));
}

// A song whose Track 3 plays one pattern over and over.
struct FetchFixture : ::testing::Test {
    TestSong song;
    SynthStatePtr s;
    void make(std::initializer_list<std::uint8_t> rows) {
        const std::uint8_t p = song.addPattern(rows);
        for (std::uint32_t i = 0; i < PATTERN_LIST_LENGTH; ++i) song.patternList[PATTERN_LIST_LENGTH * 3 + i] = p;
        for (std::uint32_t i = 0; i <= TRACKS; ++i) song.commands.push_back(0);
        s = makeSynthState(song.finish());
    }
    Voice& first() { return s->voices[6]; }
    Voice& second() { return s->voices[7]; }
};

TEST_F(FetchFixture, HoldChangesNothing) {
    make({1, 1});
    first().note = 60;
    first().slots[3].f = 0.5f;
    second().releaseCount = 2;
    fetchTrackNote(*s, 3, 0);
    EXPECT_EQ(first().note, 60u);
    EXPECT_EQ(first().releaseCount, 0u);
    EXPECT_EQ(first().slots[3].f, 0.5f);
    EXPECT_EQ(second().releaseCount, 2u);
    EXPECT_EQ(s->voiceToggle[3], 0u);
}

TEST_F(FetchFixture, ReleaseIncrementsBothCounters) {
    make({0});
    second().releaseCount = 5;
    first().note = 60;
    fetchTrackNote(*s, 3, 0);
    EXPECT_EQ(first().releaseCount, 1u);
    EXPECT_EQ(second().releaseCount, 6u);
    EXPECT_EQ(first().note, 60u);
    EXPECT_EQ(s->voiceToggle[3], 0u);
}

TEST_F(FetchFixture, BytesFrom128ReleaseAndStartNothing) {
    make({128, 200, 255});
    for (std::uint32_t tick = 0; tick < 3; ++tick) fetchTrackNote(*s, 3, tick);
    EXPECT_EQ(first().releaseCount, 3u);
    EXPECT_EQ(second().releaseCount, 3u);
    EXPECT_EQ(first().note, 0u);
    EXPECT_EQ(second().note, 0u);
    EXPECT_EQ(s->voiceToggle[3], 0u);
}

TEST_F(FetchFixture, NewNotesAlternateVoicesAndReleaseTheOther) {
    make({60, 1, 0, 62, 1, 64, 0, 0, 66});
    first().mainOut[0] = 0.25f;
    first().slots[17].f = 3.0f;
    first().releaseCount = 9;
    fetchTrackNote(*s, 3, 0);  // 60 -> first voice
    EXPECT_EQ(first().note, 60u);
    EXPECT_EQ(first().releaseCount, 0u);
    EXPECT_EQ(first().slots[17].u, 0u);
    EXPECT_EQ(first().mainOut[0], 0.25f);  // output words stay
    EXPECT_EQ(second().releaseCount, 1u);
    EXPECT_EQ(s->voiceToggle[3], 1u);
    fetchTrackNote(*s, 3, 1);  // hold
    fetchTrackNote(*s, 3, 2);  // release: both
    EXPECT_EQ(first().releaseCount, 1u);
    EXPECT_EQ(second().releaseCount, 2u);
    fetchTrackNote(*s, 3, 3);  // 62 -> second voice
    EXPECT_EQ(second().note, 62u);
    EXPECT_EQ(second().releaseCount, 0u);
    EXPECT_EQ(first().releaseCount, 2u);
    EXPECT_EQ(first().note, 60u);
    fetchTrackNote(*s, 3, 5);  // 64 -> first voice again
    EXPECT_EQ(first().note, 64u);
    EXPECT_EQ(second().releaseCount, 1u);
    EXPECT_EQ(s->voiceToggle[3], 1u);
}

TEST_F(FetchFixture, ReadsPatternListAndPatternByTick) {
    // Tick 37: entry 2, row 5.
    const std::uint8_t quiet = song.addPattern({});
    const std::uint8_t p = song.addPattern({0, 0, 0, 0, 0, 77});
    (void)quiet;
    song.patternList[PATTERN_LIST_LENGTH * 3 + 2] = p;
    for (std::uint32_t i = 0; i <= TRACKS; ++i) song.commands.push_back(0);
    s = makeSynthState(song.finish());
    fetchTrackNote(*s, 3, 37);
    EXPECT_EQ(first().note, 77u);
}

TEST(EndOfNote, SetsNoteZeroInTheFrameTheEnvelopeIsDone) {
    TestSong song;
    ChainBuilder().unit(OP_ENVELOPE, {0, 64, 64, 0, 128}).appendTo(song);
    auto s = makeSynthState(song.finish());
    s->voices[0].note = 60;
    s->voices[1].note = 61;
    s->commandPos = s->parameterPos = 0;
    runTrackVoices(*s, 0);
    EXPECT_EQ(s->commandPos, 2u);
    EXPECT_EQ(s->parameterPos, 5u);
    s->stack.depth = 0;
    s->voices[0].releaseCount = 1;
    s->commandPos = s->parameterPos = 0;
    runTrackVoices(*s, 0);
    EXPECT_EQ(s->voices[0].note, 0u);  // DONE in this very frame
    EXPECT_EQ(s->voices[1].note, 61u);
    s->stack.depth = 0;
    s->commandPos = s->parameterPos = 0;
    runTrackVoices(*s, 0);
    EXPECT_EQ(s->voices[0].slots[0].u & 0xFF, DONE);  // stays DONE while silent
}

// A small song: Track 0 plays an Envelope-Oscillator voice, the master adds
// the main outputs.
TestSong smallSong() {
    TestSong song;
    const std::uint8_t p = song.addPattern({60, 1, 1, 0, 64, 1, 0, 0, 67, 0, 0, 0, 0, 0, 0, 0});
    for (std::uint32_t i = 0; i < PATTERN_LIST_LENGTH; ++i) song.patternList[i] = p;
    ChainBuilder()
        .unit(OP_ENVELOPE, {0, 40, 64, 40, 128})
        .unit(OP_OSCILLATOR, {64, 64, 0, 64, 64, 128, OSC_SINE})
        .unit(OP_STACKOP, {STACK_MUL_POP})
        .unit(OP_PAN, {64})
        .unit(OP_OUTPUT, {128, 0})
        .appendTo(song);
    for (std::uint32_t t = 1; t < TRACKS; ++t) song.commands.push_back(0);
    ChainBuilder()
        .unit(OP_ACCUMULATE, {0})
        .unit(OP_OUTPUT, {128, 0})
        .appendTo(song);
    return song;
}

TEST(RenderLoop, MasterNoteIs16AndFramesAreTheClippedMasterOutput) {
    TestSong song = smallSong();
    auto s = makeSynthState(song.finish());
    std::vector<StereoFrame> out(10000);
    for (std::uint32_t i = 0; i < out.size(); ++i) {
        ASSERT_EQ(renderSongFramesReference(*s, &out[i], 1), 1u);
        ASSERT_EQ(s->voices[MASTER_VOICE].note, 16u);
        ASSERT_EQ(s->stack.depth, 0u);
        ASSERT_EQ(floatBits(out[i].left), floatBits(clipSample(s->voices[MASTER_VOICE].mainOut[0])));
        ASSERT_EQ(floatBits(out[i].right), floatBits(clipSample(s->voices[MASTER_VOICE].mainOut[1])));
    }
    EXPECT_EQ(s->nextFrame, 10000u);
    // A note starts at its Tick's first frame: frame 0 already sounds.
    EXPECT_NE(out[1].left, 0.0f);
}

TEST(RenderLoop, NotesStartAtTheirTicksFirstFrame) {
    TestSong song = smallSong();
    auto s = makeSynthState(song.finish());
    std::vector<StereoFrame> out(SAMPLES_PER_TICK * 4 + 1);
    renderSongFramesReference(*s, out.data(), static_cast<std::uint32_t>(out.size()));
    // Tick 4 (frame 18900) starts note 64 on the second voice.
    EXPECT_EQ(s->voices[1].note, 64u);
    EXPECT_EQ(s->voices[0].releaseCount, 2u);
}

TEST(RenderLoop, ProgressCountsFinishedFrames) {
    TestSong song = smallSong();
    auto s = makeSynthState(song.finish());
    std::atomic<std::uint32_t> progress{0};
    std::vector<StereoFrame> out(500);
    renderSongFrames(*s, out.data(), 200, &progress);
    EXPECT_EQ(progress.load(), 200u);
    renderSongFrames(*s, out.data() + 200, 300, &progress);
    EXPECT_EQ(progress.load(), 500u);
}

TEST(RenderLoop, FastLoopCountsNonFiniteOutputsBeforeTheClip) {
    // The master's Output (chain position 1) with an infinite gain
    // modulation: its words are infinite or NaN, the frames clip to +-1, and
    // the fast loop counts them.
    TestSong song = smallSong();
    auto s = makeSynthState(song.finish());
    s->voices[MASTER_VOICE].slots[8 * 1 + 1].f = std::numeric_limits<float>::infinity();
    std::vector<StereoFrame> out(100);
    renderSongFrames(*s, out.data(), 100);
    EXPECT_EQ(fastCounters(*s).nonFiniteOutputs, 100u);
    for (const StereoFrame& f : out) {
        EXPECT_TRUE(std::fabs(f.left) == 1.0f) << f.left;
        EXPECT_TRUE(std::fabs(f.right) == 1.0f) << f.right;
    }
    auto clean = makeSynthState(song.finish());
    renderSongFrames(*clean, out.data(), 100);
    EXPECT_EQ(fastCounters(*clean).nonFiniteOutputs, 0u);
}

TEST(RenderLoop, StopsAtTheSongsEnd) {
    TestSong song = smallSong();
    auto s = makeSynthState(song.finish());
    s->nextFrame = SONG_FRAMES - 3;
    std::vector<StereoFrame> out(10, StereoFrame{9.0f, 9.0f});
    EXPECT_EQ(renderSongFrames(*s, out.data(), 10), 3u);
    EXPECT_EQ(s->nextFrame, SONG_FRAMES);
    EXPECT_EQ(out[3].left, 9.0f);
    EXPECT_EQ(renderSongFrames(*s, out.data(), 10), 0u);
}

}  // namespace
