// played_compare against captures made up from a synthetic song: what it
// must let through (zeros before the render thread got going, silence that
// the output path inserted, the buffer's zeros after the song) and what it
// must catch (a repeat, a skip, one changed bit, zeros in place of the song
// after the start-up, sound past the song's end, too short a capture).
#include <gtest/gtest.h>

#include <string>

#include "temp_dir.h"
#include "test_frames.h"

namespace {

using namespace test_frames;

class PlayedCompare : public InTempDir {
protected:
    // Runs the tool with at least 5000 song frames and song frames played as
    // zero allowed in the first 1000; its exit status, its output in `output`.
    int run(const Frames& played, std::size_t minFrames = 5000, const Frames& songFrames = song())
    {
        return runComparison(PLAYED_COMPARE, played, songFrames, std::to_string(minFrames) + " 1000", output);
    }
    std::string output;
};

TEST_F(PlayedCompare, TheWholeSongAndTheBufferZerosAfterIt)
{
    EXPECT_EQ(run(song() + zeros(3000)), 0) << output;
    EXPECT_NE(output.find("then the buffer's zeros"), std::string::npos) << output;
}

TEST_F(PlayedCompare, ZerosBeforeTheRenderThreadGotGoingAndInsertedSilence)
{
    const Frames s = song();
    // The first 700 frames not yet rendered, then at 5000 a late feeding
    // thread's 441 frames of silence, after which the song goes on.
    const Frames played = zeros(700) + slice(s, 700, 5000) + zeros(441) + slice(s, 5000, SONG);
    EXPECT_EQ(run(played), 0) << output;
    EXPECT_NE(output.find("700 song frames in 1 runs were played as zero"), std::string::npos) << output;
    EXPECT_NE(output.find("1 runs, 441 frames in all"), std::string::npos) << output;
}

TEST_F(PlayedCompare, ASongWhoseFirstFramesAreSilentLosesNothingWhenPlayedFromItsStart)
{
    // The song's own zeros at its start are no frames played as silence,
    // with or without silence that the output path put in front of them.
    const Frames s = zeros(3) + slice(song(), 3, SONG);
    EXPECT_EQ(run(s, 5000, s), 0) << output;
    EXPECT_NE(output.find("no song frame was played as zero"), std::string::npos) << output;
    EXPECT_EQ(run(zeros(500) + s, 5000, s), 0) << output;
    EXPECT_NE(output.find("no song frame was played as zero"), std::string::npos) << output;
    EXPECT_EQ(run(zeros(10) + slice(s, 10, SONG), 5000, s), 0) << output;
    EXPECT_NE(output.find("7 song frames in 1 runs were played as zero"), std::string::npos) << output;
}

TEST_F(PlayedCompare, AnInterruptedStartUpWithinTheLimit)
{
    const Frames s = song();
    const Frames played = zeros(300) + slice(s, 300, 600) + zeros(200) + slice(s, 800, SONG);
    EXPECT_EQ(run(played), 0) << output;
    EXPECT_NE(output.find("ahead for good from song frame 800"), std::string::npos) << output;
}

TEST_F(PlayedCompare, ZerosInPlaceOfTheSongAfterTheStartUpFail)
{
    const Frames s = song();
    const Frames played = slice(s, 0, 9000) + zeros(100) + slice(s, 9100, SONG);
    EXPECT_EQ(run(played), 1) << output;
    EXPECT_NE(output.find("past the start-up"), std::string::npos) << output;
}

TEST_F(PlayedCompare, ARepeatFails)
{
    const Frames s = song();
    EXPECT_EQ(run(slice(s, 0, 9000) + slice(s, 8559, SONG)), 1) << output;
    EXPECT_NE(output.find("441 frames repeated"), std::string::npos) << output;
}

TEST_F(PlayedCompare, ASkipFails)
{
    const Frames s = song();
    EXPECT_EQ(run(slice(s, 0, 9000) + slice(s, 9441, SONG)), 1) << output;
    EXPECT_NE(output.find("441 frames skipped"), std::string::npos) << output;
}

TEST_F(PlayedCompare, OneChangedBitFails)
{
    Frames played = song();
    played[12345] ^= 1;
    EXPECT_EQ(run(played), 1) << output;
    EXPECT_NE(output.find("played frame 12345"), std::string::npos) << output;
}

TEST_F(PlayedCompare, SilenceAfterWhichTheSongDoesNotGoOnFails)
{
    const Frames s = song();
    // Zeros, and then a frame of the song from far away.
    EXPECT_EQ(run(slice(s, 0, 9000) + zeros(50) + slice(s, 15000, SONG)), 1) << output;
    EXPECT_NE(output.find("the song does not go on"), std::string::npos) << output;
}

TEST_F(PlayedCompare, SoundPastTheSongsEndFails)
{
    EXPECT_EQ(run(song() + slice(song(), 0, 100)), 1) << output;
}

TEST_F(PlayedCompare, TooLittleOfTheSongFails)
{
    EXPECT_EQ(run(slice(song(), 0, 3000)), 1) << output;
    EXPECT_NE(output.find("only 3000 frames of the song"), std::string::npos) << output;
}

TEST_F(PlayedCompare, NothingButZerosFails)
{
    EXPECT_EQ(run(zeros(8000)), 1) << output;
}

} // namespace
