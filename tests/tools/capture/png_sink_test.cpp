// The PNG sink's files: names, completeness, and nothing left behind when a
// write fails: no temporary file, no folder made for frames that never came,
// and a full disk said in the system's words.

#include "png_read.h"
#include "png_sink.h"
#include "tool_process.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

class PngSinkTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        folder_ = fs::temp_directory_path() / ("png-sink-test-" + std::to_string(getpid()));
        fs::remove_all(folder_);
        fs::create_directories(folder_);
        for (int i = 0; i < 4 * 3 * 3; ++i)
            pixels_.push_back(static_cast<std::uint8_t>(i * 7));
        image_ = FrameImage{4, 3, pixels_.data(), 4 * 3};
    }
    void TearDown() override { fs::remove_all(folder_); }

    fs::path folder_;
    std::vector<std::uint8_t> pixels_;
    FrameImage image_;
};

TEST_F(PngSinkTest, NamesFramesBySecondsAndMilliseconds)
{
    EXPECT_EQ(PngSink::frameFileName(0), "frame-000.000.png");
    EXPECT_EQ(PngSink::frameFileName(106500), "frame-106.500.png");
    EXPECT_EQ(PngSink::frameFileName(185000), "frame-185.000.png");
    EXPECT_EQ(PngSink::frameFileName(1234567), "frame-1234.567.png");
}

TEST_F(PngSinkTest, WritesCompleteFilesThatReadBack)
{
    PngSink sink((folder_ / "out").string(), false);
    std::string error;
    ASSERT_TRUE(sink.begin(4, 3, error)) << error;
    ASSERT_TRUE(sink.frame(3000, image_, error)) << error;
    ASSERT_TRUE(sink.frame(15250, image_, error)) << error;
    ASSERT_TRUE(sink.finish(error)) << error;
    EXPECT_EQ(tooltest::namesIn(folder_ / "out"), (std::vector<std::string>{"frame-003.000.png", "frame-015.250.png"}));

    const RgbImage back = readPng(folder_ / "out" / "frame-015.250.png");
    EXPECT_EQ(back.width, 4);
    EXPECT_EQ(back.height, 3);
    EXPECT_EQ(back.rgb, pixels_);
}

// Quoted as the sink's messages quote paths.
std::string quoted(const fs::path& path)
{
    std::string text = "'";
    text += path.string();
    text += "'";
    return text;
}

TEST_F(PngSinkTest, AnOutputThatCannotBeWrittenIsFoundBeforeAnyFrame)
{
    // The target name is taken by a folder.
    fs::create_directories(folder_ / "taken.png" / "inside");
    PngSink sink((folder_ / "taken.png").string(), true);
    std::string error;
    EXPECT_FALSE(sink.check(error));
    EXPECT_EQ(error, quoted(folder_ / "taken.png") + " is a folder; name a file");
    EXPECT_FALSE(sink.begin(4, 3, error));
    sink.abort();
    EXPECT_EQ(tooltest::namesIn(folder_), std::vector<std::string>{"taken.png"});

    // A folder that cannot be made.
    std::ofstream(folder_ / "file") << "x";
    PngSink blocked((folder_ / "file" / "frames").string(), false);
    EXPECT_FALSE(blocked.check(error));
    EXPECT_NE(error.find(quoted(folder_ / "file") + " is not a folder"), std::string::npos) << error;
    EXPECT_FALSE(blocked.begin(4, 3, error));
}

TEST_F(PngSinkTest, FoldersMadeForFramesThatNeverCameAreRemoved)
{
    const FrameImage unencodable{0, 3, pixels_.data(), 0};  // no PNG has width 0
    std::string error;
    {
        PngSink sink((folder_ / "a" / "b" / "frames").string(), false);
        ASSERT_TRUE(sink.check(error)) << error;
        ASSERT_TRUE(sink.begin(4, 3, error)) << error;
        EXPECT_TRUE(fs::is_directory(folder_ / "a" / "b" / "frames"));
        EXPECT_FALSE(sink.frame(3000, unencodable, error));
        sink.abort();
        EXPECT_EQ(tooltest::namesIn(folder_), std::vector<std::string>{}) << "the folders it made stay";
    }
    {
        // The folder of a single file, made and removed the same way.
        PngSink sink((folder_ / "c" / "shot.png").string(), true);
        ASSERT_TRUE(sink.begin(4, 3, error)) << error;
        EXPECT_FALSE(sink.frame(3000, unencodable, error));
        sink.abort();
        EXPECT_EQ(tooltest::namesIn(folder_), std::vector<std::string>{});
    }
    {
        // Once a frame is written the folder stays, with that frame.
        PngSink sink((folder_ / "d").string(), false);
        ASSERT_TRUE(sink.begin(4, 3, error)) << error;
        ASSERT_TRUE(sink.frame(3000, image_, error)) << error;
        EXPECT_FALSE(sink.frame(4000, unencodable, error));
        sink.abort();
        EXPECT_EQ(tooltest::namesIn(folder_ / "d"), std::vector<std::string>{"frame-003.000.png"});
    }
    // A folder that was there before is never removed.
    fs::create_directories(folder_ / "e");
    PngSink sink((folder_ / "e").string(), false);
    ASSERT_TRUE(sink.begin(4, 3, error)) << error;
    sink.abort();
    EXPECT_TRUE(fs::is_directory(folder_ / "e"));
}

TEST_F(PngSinkTest, AFullDiskIsSaidInTheSystemsWords)
{
    tooltest::SmallDisk disk(folder_.string(), 32);
    if (!disk.mounted())
        GTEST_SKIP() << disk.why();
    // Noise does not compress: 128 x 128 pixels make a PNG of about 48 KiB.
    std::vector<std::uint8_t> noise(128 * 128 * 3);
    std::uint32_t seed = 1;
    for (std::uint8_t& byte : noise) {
        seed = seed * 1664525u + 1013904223u;
        byte = static_cast<std::uint8_t>(seed >> 24);
    }
    const FrameImage big{128, 128, noise.data(), 128 * 3};
    PngSink sink((folder_ / "frames").string(), false);
    std::string error;
    ASSERT_TRUE(sink.begin(128, 128, error)) << error;
    EXPECT_FALSE(sink.frame(3000, big, error));
    EXPECT_EQ(error, "cannot write " + quoted(folder_ / "frames" / "frame-003.000.png") + ": No space left on device");
    sink.abort();
    EXPECT_EQ(tooltest::namesIn(folder_), std::vector<std::string>{});
}

}  // namespace
