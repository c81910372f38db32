// render-song's formats through ffmpeg, chosen by the output's extension:
// FLAC, Opus and MP3 decode (by ffmpeg) to the rendered length and carry the
// title and version tags; the FLAC's samples are the float song rounded to
// 24 bits; an unknown extension is refused before the render; a failure of
// ffmpeg (a full disk) and an interruption while it encodes leave nothing.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "synth.h"
#include "tool_process.h"

namespace {

namespace fs = std::filesystem;
using tooltest::namesIn;
using tooltest::ToolEnd;

const std::string TOOL = RENDER_SONG_PATH;

struct RenderSongFormats : ::testing::Test {
    fs::path dir;
    std::string errors;
    void SetUp() override {
        dir = fs::temp_directory_path() / ("render-song-formats-" + std::to_string(::getpid()) + "-" +
                                           ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir);
        fs::create_directories(dir / "out");
        errors = (dir / "errors.txt").string();
    }
    void TearDown() override { fs::remove_all(dir); }
    ToolEnd run(const std::vector<std::string>& args) { return tooltest::runTool(TOOL, args, errors); }
};

std::string shell(const std::string& command) {
    std::FILE* pipe = ::popen(command.c_str(), "r");
    std::string output;
    char buffer[65536];
    std::size_t got;
    while (pipe && (got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, got);
    if (pipe) ::pclose(pipe);
    return output;
}

// The file decoded by ffmpeg into 32-bit integer stereo samples.
std::vector<std::int32_t> decoded(const fs::path& file) {
    const std::string raw = shell("ffmpeg -v error -i '" + file.string() + "' -f s32le -ac 2 -");
    std::vector<std::int32_t> samples(raw.size() / 4);
    std::memcpy(samples.data(), raw.data(), samples.size() * 4);
    return samples;
}

TEST_F(RenderSongFormats, EachDecodesToTheSongsLengthWithItsTagsAndTheFlacHoldsTheSongIn24Bits) {
    const std::uint32_t frames = 30000;
    struct Case {
        const char* name;
        std::size_t decodedFrames;  // Opus runs at 48 kHz
    };
    const Case cases[] = {
        {"song.flac", frames},
        {"song.opus", (frames * 48000ull + 44099) / 44100},
        {"song.mp3", frames},
    };
    for (const Case& c : cases) {
        const fs::path out = dir / "out" / c.name;
        const ToolEnd end = run({"--frames", std::to_string(frames), "--out", out.string()});
        ASSERT_TRUE(end.exited && end.code == 0) << c.name << ": " << end.errors;
        EXPECT_EQ(namesIn(dir / "out"), std::vector<std::string>{c.name});
        EXPECT_EQ(decoded(out).size(), 2 * c.decodedFrames) << c.name;
        const std::string tags = shell("ffprobe -v error -show_entries format_tags:stream_tags -of flat '" +
                                       out.string() + "'");
        EXPECT_NE(tags.find("tags.title=\"demo\""), std::string::npos) << c.name << ": " << tags;
        EXPECT_NE(tags.find(std::string("tags.version=\"") + PROJECT_VERSION + "\""), std::string::npos)
            << c.name << ": " << tags;
        if (std::string(c.name) == "song.flac") {
            EXPECT_NE(shell("ffprobe -v error -show_entries stream=bits_per_raw_sample -of csv=p=0 '" +
                            out.string() + "'").find("24"), std::string::npos);
            auto state = makeSynthState();
            std::vector<StereoFrame> song(frames);
            ASSERT_EQ(renderSongFrames(*state, song.data(), frames), frames);
            const std::vector<std::int32_t> samples = decoded(out);
            ASSERT_EQ(samples.size(), 2u * frames);
            std::size_t differing = 0;
            for (std::uint32_t i = 0; i < frames; ++i) {
                const float pair[2] = {song[i].left, song[i].right};
                for (int channel = 0; channel < 2; ++channel) {
                    // 24 bits in the top of ffmpeg's 32-bit samples; the low byte is 0.
                    const std::int32_t got = samples[2 * i + channel];
                    const double want = std::min(std::nearbyint(pair[channel] * 8388608.0), 8388607.0);
                    if ((got & 0xFF) != 0 || got / 256 != static_cast<std::int32_t>(want)) ++differing;
                }
            }
            EXPECT_EQ(differing, 0u) << "samples not the float song rounded to 24 bits";
        }
        fs::remove(out);
    }
}

TEST_F(RenderSongFormats, AnUnknownExtensionIsRefusedInOneLineBeforeTheRender) {
    for (const char* name : {"song.mp3x", "song.ogg", "song"}) {
        const std::string out = (dir / "out" / name).string();
        const auto start = std::chrono::steady_clock::now();
        const ToolEnd end = run({"--out", out});  // the whole song, were it rendered
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2)) << name;
        EXPECT_TRUE(end.exited && end.code == 2) << name;
        EXPECT_EQ(end.errors, "demo-render-song: --out '" + out +
                                  "': the song is written as .wav, .flac, .opus or .mp3; name it so\n");
    }
    EXPECT_TRUE(namesIn(dir / "out").empty());
}

TEST_F(RenderSongFormats, AFullDiskFoundByFfmpegIsAFailureThatLeavesNothing) {
    const fs::path small = dir / "out";
    tooltest::SmallDisk disk(small.string(), 64);
    if (!disk.mounted()) GTEST_SKIP() << disk.why();
    // 20,000 frames of FLAC are about 90 KB: more than the 64 KiB there are.
    const std::string out = (small / "song.flac").string();
    const ToolEnd end = run({"--frames", "20000", "--out", out});
    EXPECT_TRUE(end.exited && end.code == 1) << end.errors;
    EXPECT_NE(end.errors.find("demo-render-song: ffmpeg could not write '" + out + "'"), std::string::npos) << end.errors;
    EXPECT_NE(end.errors.find("No space left on device"), std::string::npos) << end.errors;
    EXPECT_TRUE(namesIn(small).empty());
}

// Ctrl-C once ffmpeg writes its file: the tool ends with 130, the file is
// gone and no ffmpeg is left writing it.
TEST_F(RenderSongFormats, AnInterruptionWhileFfmpegEncodesLeavesNeitherFileNorFfmpeg) {
    const pid_t pid = tooltest::startTool(TOOL, {"--out", (dir / "out" / "song.flac").string()}, errors);
    std::string part;
    for (int i = 0; i < 600 && part.empty(); ++i) {  // the render takes ~6 s; up to 60 s on a busy machine
        const std::vector<std::string> names = namesIn(dir / "out");
        if (!names.empty()) part = names[0];
        else std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    ASSERT_FALSE(part.empty()) << "no temporary file appeared";
    ASSERT_EQ(::kill(pid, SIGINT), 0);
    const ToolEnd end = tooltest::waitTool(pid, errors);
    EXPECT_TRUE(end.exited && end.code == 130) << "signal " << end.signal << ": " << end.errors;
    EXPECT_TRUE(namesIn(dir / "out").empty());
    // No process has the temporary file's name on its command line any more.
    for (const auto& entry : fs::directory_iterator("/proc")) {
        std::ifstream cmdline(entry.path() / "cmdline", std::ios::binary);
        const std::string text{std::istreambuf_iterator<char>(cmdline), std::istreambuf_iterator<char>()};
        EXPECT_EQ(text.find(part), std::string::npos) << "still running: " << entry.path();
    }
}

}  // namespace
