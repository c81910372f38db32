// The PNG sink's files: names, completeness, and nothing left behind when a
// write fails.

#include "png_read.h"
#include "png_sink.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
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

    std::vector<std::string> names(const fs::path& dir) const
    {
        std::vector<std::string> result;
        for (const auto& entry : fs::directory_iterator(dir))
            result.push_back(entry.path().filename().string());
        std::sort(result.begin(), result.end());
        return result;
    }

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
    EXPECT_EQ(names(folder_ / "out"), (std::vector<std::string>{"frame-003.000.png", "frame-015.250.png"}));

    const RgbImage back = readPng(folder_ / "out" / "frame-015.250.png");
    EXPECT_EQ(back.width, 4);
    EXPECT_EQ(back.height, 3);
    EXPECT_EQ(back.rgb, pixels_);
}

TEST_F(PngSinkTest, AFailedWriteLeavesNothingBehind)
{
    // The target name is taken by a folder: the finished temporary file
    // cannot replace it, and must not stay.
    fs::create_directories(folder_ / "taken.png" / "inside");
    PngSink sink((folder_ / "taken.png").string(), true);
    std::string error;
    ASSERT_TRUE(sink.begin(4, 3, error)) << error;
    EXPECT_FALSE(sink.frame(3000, image_, error));
    EXPECT_NE(error.find("taken.png"), std::string::npos) << error;
    sink.abort();
    EXPECT_EQ(names(folder_), std::vector<std::string>{"taken.png"});

    // A folder that cannot be made.
    std::ofstream(folder_ / "file") << "x";
    PngSink blocked((folder_ / "file" / "frames").string(), false);
    EXPECT_FALSE(blocked.begin(4, 3, error));
}

}  // namespace
