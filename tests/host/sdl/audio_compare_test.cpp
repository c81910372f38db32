// audio_compare against captures made up from a synthetic song: what it must
// let through (the device's own whole buffers of silence before the song, a
// first pull that found only part of its buffer rendered) and what it must
// catch (zeros in place of the song once rendering got ahead, too many of
// them, one changed bit, too short a capture); with skips allowed, a jump
// forward in the song, reported, but not a jump back, one skip too many or
// one too long.
#include <gtest/gtest.h>

#include <string>

#include "temp_dir.h"
#include "test_frames.h"

namespace {

using namespace test_frames;

class AudioCompare : public InTempDir {
protected:
    // Runs the tool with at least 5000 frames played, one device buffer
    // (1,024 frames) of the song allowed as zero and the skips allowed
    // ("MAX_SKIPS [LONGEST_SKIP]"); its exit status, its output in `output`.
    int run(const Frames& played, const std::string& skips = "0")
    {
        return runComparison(AUDIO_COMPARE, played, song(), "5000 1024 " + skips, output);
    }
    std::string output;
};

TEST_F(AudioCompare, AFirstPullThatFoundOnlyTwoFramesRendered)
{
    const Frames s = song();
    EXPECT_EQ(run(slice(s, 0, 2) + zeros(1022) + slice(s, 1024, SONG)), 0) << output;
    EXPECT_NE(output.find("1022 silent gaps, 0 wrong"), std::string::npos) << output;
}

TEST_F(AudioCompare, TheDevicesOwnSilenceBeforeTheSongIsNotCounted)
{
    const Frames s = song();
    EXPECT_EQ(run(zeros(2048) + slice(s, 0, 500) + zeros(524) + slice(s, 1024, SONG)), 0) << output;
    EXPECT_NE(output.find("2048 frames of its own silence"), std::string::npos) << output;
    EXPECT_NE(output.find("524 silent gaps"), std::string::npos) << output;
}

TEST_F(AudioCompare, ZerosAfterTheFirstBufferOfSoundFail)
{
    const Frames s = song();
    EXPECT_EQ(run(slice(s, 0, 1030) + zeros(10) + slice(s, 1040, SONG)), 1) << output;
    EXPECT_NE(output.find("frame 1039 was played before it was rendered"), std::string::npos) << output;
}

TEST_F(AudioCompare, MoreThanOneBufferOfTheSongAsZerosFails)
{
    const Frames s = song();
    EXPECT_EQ(run(zeros(1500) + slice(s, 1500, SONG)), 1) << output;
    EXPECT_NE(output.find("1500 frames of sound were played as silence"), std::string::npos) << output;
}

TEST_F(AudioCompare, OneChangedBitAndTooShortACaptureFail)
{
    Frames played = song();
    played[12345] ^= 1;
    EXPECT_EQ(run(played), 1) << output;
    EXPECT_NE(output.find("the first at frame 12345"), std::string::npos) << output;
    EXPECT_EQ(run(slice(song(), 0, 3000)), 1) << output;
    EXPECT_NE(output.find("only 3000 frames were played"), std::string::npos) << output;
}

TEST_F(AudioCompare, SkipsForwardAreAllowedOnlyWhereAskedForAndCounted)
{
    const Frames s = song();
    const Frames skipped = slice(s, 0, 3000) + slice(s, 9000, SONG);
    EXPECT_EQ(run(skipped), 1) << output;
    EXPECT_EQ(run(skipped, "1 5999"), 1) << output;
    EXPECT_NE(output.find("skip 1 is longer than 5999 frames"), std::string::npos) << output;
    EXPECT_EQ(run(skipped, "1 6000"), 0) << output;
    EXPECT_NE(output.find("skip 1: after 3000 played frames (song frame 3000), 6000 frames skipped (0.136 s), "
                          "then 11000 played from song frame 9000"),
              std::string::npos)
        << output;
    // A jump back (frames played again), and two skips where one is allowed.
    EXPECT_EQ(run(slice(s, 0, 6000) + slice(s, 4000, SONG), "1"), 1) << output;
    EXPECT_NE(output.find("neither the rendered frame at their position nor zero (the first at frame 6000)"),
              std::string::npos)
        << output;
    const Frames twice = slice(s, 0, 3000) + slice(s, 5000, 8000) + slice(s, 10000, SONG);
    EXPECT_EQ(run(twice, "1"), 1) << output;
    EXPECT_EQ(run(twice, "2"), 0) << output;
}

} // namespace
