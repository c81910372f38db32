// The render-song tool: its WAV file, its arguments and its errors.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "synth_state.h"

namespace {

namespace fs = std::filesystem;

int runTool(const std::string& arguments) {
    const std::string command = std::string(RENDER_SONG_PATH) + " " + arguments + " >/dev/null 2>&1";
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

struct RenderSongTool : ::testing::Test {
    fs::path dir;
    void SetUp() override {
        dir = fs::temp_directory_path() / ("render-song-test-" + std::to_string(::getpid()) + "-" +
                                           ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(dir);
    }
    void TearDown() override { fs::remove_all(dir); }
};

std::uint32_t u32(const std::vector<unsigned char>& b, std::size_t at) {
    return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (static_cast<std::uint32_t>(b[at + 3]) << 24);
}
std::uint16_t u16(const std::vector<unsigned char>& b, std::size_t at) {
    return static_cast<std::uint16_t>(b[at] | (b[at + 1] << 8));
}

TEST_F(RenderSongTool, WritesAFloatStereoWavOfExactlyTheRenderedFrames) {
    const std::uint32_t frames = 5000;
    const fs::path out = dir / "song.wav";
    ASSERT_EQ(runTool("--frames " + std::to_string(frames) + " --out " + out.string()), 0);
    std::ifstream in(out, std::ios::binary);
    std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ASSERT_EQ(bytes.size(), 44u + frames * 8u);
    EXPECT_EQ(std::memcmp(bytes.data(), "RIFF", 4), 0);
    EXPECT_EQ(u32(bytes, 4), 36u + frames * 8u);
    EXPECT_EQ(std::memcmp(bytes.data() + 8, "WAVEfmt ", 8), 0);
    EXPECT_EQ(u32(bytes, 16), 16u);
    EXPECT_EQ(u16(bytes, 20), 3u);  // IEEE float
    EXPECT_EQ(u16(bytes, 22), 2u);
    EXPECT_EQ(u32(bytes, 24), 44100u);
    EXPECT_EQ(u32(bytes, 28), 44100u * 8u);
    EXPECT_EQ(u16(bytes, 32), 8u);
    EXPECT_EQ(u16(bytes, 34), 32u);
    EXPECT_EQ(std::memcmp(bytes.data() + 36, "data", 4), 0);
    EXPECT_EQ(u32(bytes, 40), frames * 8u);
    // The data are the synthesizer's frames, byte for byte.
    auto state = makeSynthState();
    std::vector<StereoFrame> expected(frames);
    ASSERT_EQ(renderSongFrames(*state, expected.data(), frames), frames);
    EXPECT_EQ(std::memcmp(bytes.data() + 44, expected.data(), frames * 8u), 0);
    // Nothing else is left in the folder (the temporary file was renamed).
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 1);
}

TEST_F(RenderSongTool, RejectsBadArgumentsAndLeavesNoFile) {
    const std::string out = (dir / "x.wav").string();
    EXPECT_EQ(runTool(""), 2);                                  // --out missing
    EXPECT_EQ(runTool("--out"), 2);                             // no file name
    EXPECT_EQ(runTool("--out " + out + " --frames"), 2);       // no number
    EXPECT_EQ(runTool("--out " + out + " --frames 0"), 2);
    EXPECT_EQ(runTool("--out " + out + " --frames -5"), 2);
    EXPECT_EQ(runTool("--out " + out + " --frames 12x"), 2);
    EXPECT_EQ(runTool("--out " + out + " --frames 8240401"), 2);  // beyond the song
    EXPECT_EQ(runTool("--out " + out + " --bogus"), 2);
    EXPECT_FALSE(fs::exists(out));
    EXPECT_EQ(runTool("--help"), 0);
}

TEST_F(RenderSongTool, FailsOnAnUnwritablePath) {
    EXPECT_EQ(runTool("--frames 10 --out " + (dir / "missing" / "x.wav").string()), 1);
    EXPECT_EQ(runTool("--frames 10 --out " + dir.string()), 1);  // a folder
    EXPECT_FALSE(fs::exists(dir / "missing"));
}

TEST_F(RenderSongTool, AnInterruptedRenderLeavesNothingBehind) {
    const std::string out = (dir / "song.wav").string();
    for (int signalNumber : {SIGINT, SIGTERM}) {
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            std::freopen("/dev/null", "w", stderr);
            execl(RENDER_SONG_PATH, RENDER_SONG_PATH, "--out", out.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        ::usleep(500 * 1000);  // well inside the whole song's render
        ::kill(child, signalNumber);
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signalNumber) << "status " << status;
        EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 0);
    }
}

}  // namespace
