// The whole `capture --video` tool on the real shader (llvmpipe here) and the
// real song: a short range at a low rate, compared with what the synthesizer
// and the PNG capture give for the same times; and the ways it must refuse or
// stop without leaving a file.

#include "synth_state.h"
#include "tool_process.h"
#include "video_test_util.h"
#include "video_timeline.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cmath>
#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using videotest::quoted;
using videotest::ScratchFolder;

extern char** environ;

namespace {

const std::string capture = CAPTURE_BINARY;

// Runs capture with `arguments` (shell words); returns what it wrote on both
// streams, and its exit status in `status`.
std::string runCapture(const std::string& arguments, int& status)
{
    return videotest::runCommand(quoted(capture) + " " + arguments + " 2>&1", &status);
}

// Mean absolute difference of a W x H RGB rectangle at (x, y) of a 1920x1080
// frame and a W x H picture.
double meanDifference(const std::uint8_t* frame, int x, int y, const std::vector<std::uint8_t>& picture, int w, int h)
{
    double sum = 0.0;
    for (int row = 0; row < h; ++row) {
        for (int col = 0; col < w * 3; ++col) {
            int a = frame[(static_cast<std::size_t>(y + row) * 1920 + x) * 3 + col];
            int b = picture[static_cast<std::size_t>(row) * w * 3 + col];
            sum += std::abs(a - b);
        }
    }
    return sum / (w * h * 3.0);
}

}  // namespace

// 29.0 to 30.0 s at 4 fps with FLAC: four 1920x1080 frames drawn at 29.000,
// 29.250, 29.500 and 29.750 s and the song's frames 1,278,900 to 1,322,999.
TEST(VideoCapture, ShortRangeHasTheFramesAndTheSongsSamples)
{
    ScratchFolder folder;
    const std::string out = folder.file("range.mp4");
    int status = -1;
    std::string log = runCapture("--video " + quoted(out) + " --from 29 --to 30 --fps 4 --audio-codec flac", status);
    ASSERT_EQ(status, 0) << log;
    EXPECT_NE(log.find("4/4 frames"), std::string::npos) << log;
    EXPECT_EQ(folder.entries(), std::vector<std::string>{"range.mp4"});
    videotest::expectFlacVideo(out, 1920, 1080, 4, 4, 1.0);
    EXPECT_NEAR(std::stod(videotest::probeFormat(out)["duration"]), 1.0, 1e-6);

    // The sound: the song from round(29 * 44100) for one second. 24-bit FLAC
    // holds each sample to one step of 2^-23 (ffmpeg drops the low bits of the
    // 32-bit integer it converts the float to).
    const video::CaptureRange range{29.0, 30.0, 4};
    const std::uint32_t first = video::audioFirstFrame(range);
    const std::uint32_t count = video::audioFrameCount(range);
    ASSERT_EQ(first, 1278900u);
    ASSERT_EQ(count, 44100u);
    std::vector<StereoFrame> song(first + count);
    SynthStatePtr state = makeSynthState();
    ASSERT_EQ(renderSongFrames(*state, song.data(), first + count), first + count);
    std::vector<float> decoded = videotest::decodeAudio(out);
    ASSERT_EQ(decoded.size(), 2u * count);
    const double step = std::ldexp(1.0, -23);
    double worst = 0.0, energy = 0.0;
    for (std::uint32_t i = 0; i < count; ++i) {
        const StereoFrame& expected = song[first + i];
        worst = std::max({worst, std::abs(double(decoded[2 * i]) - expected.left),
                          std::abs(double(decoded[2 * i + 1]) - expected.right)});
        energy += double(expected.left) * expected.left + double(expected.right) * expected.right;
    }
    EXPECT_GT(energy / count, 1e-4) << "the song is silent at 29 s: the comparison would prove nothing";
    EXPECT_LE(worst, step);
    // One frame off (a seek error) would not pass.
    double shifted = 0.0;
    for (std::uint32_t i = 0; i + 1 < count; ++i)
        shifted = std::max(shifted, std::abs(double(decoded[2 * i]) - song[first + i + 1].left));
    EXPECT_GT(shifted, 100 * step);

    // The picture: frame 2 is the one the PNG capture draws at 29.5 s, the
    // right way up (a 160x90 patch right of the centre).
    const int x = 1000, y = 500, w = 160, h = 90;
    const std::string png = folder.file("patch.png");
    log = runCapture("--quiet --time 29.5 --rect " + std::to_string(x) + "," + std::to_string(y) + "," +
                         std::to_string(w) + "," + std::to_string(h) + " --out " + quoted(png),
                     status);
    ASSERT_EQ(status, 0) << log;
    std::vector<std::uint8_t> patch = videotest::decodeVideo(png);
    ASSERT_EQ(patch.size(), std::size_t(w) * h * 3);
    std::vector<std::uint8_t> frames = videotest::decodeVideo(out);
    ASSERT_EQ(frames.size(), 4u * 1920 * 1080 * 3);
    double differences[4];
    for (int k = 0; k < 4; ++k)
        differences[k] = meanDifference(frames.data() + std::size_t(k) * 1920 * 1080 * 3, x, y, patch, w, h);
    // A flipped picture: the same patch mirrored top to bottom.
    double flipped = meanDifference(frames.data() + 2u * 1920 * 1080 * 3, x, 1080 - y - h, patch, w, h);
    std::printf("mean difference to the patch at 29.5 s: frames %.2f %.2f %.2f %.2f, frame 2 flipped %.2f\n",
                differences[0], differences[1], differences[2], differences[3], flipped);
    EXPECT_LT(differences[2], 4.0) << "frame 2 is not the picture at 29.5 s";
    EXPECT_GT(flipped, differences[2]);
    for (int k : {0, 1, 3})
        EXPECT_GT(differences[k], differences[2]) << "frame " << k << " matches the picture at 29.5 s as well";
}

// A preview at --scale 4: the video has the drawn size, 480x270, and its
// frames are the pictures that the PNG capture draws at that scale.
TEST(VideoCapture, AtAScaleTheVideoHasTheDrawnSizeAndPictures)
{
    ScratchFolder folder;
    const std::string out = folder.file("preview.mp4");
    int status = -1;
    std::string log = runCapture("--video " + quoted(out) + " --scale 4 --from 30 --to 31 --fps 2", status);
    ASSERT_EQ(status, 0) << log;
    EXPECT_NE(log.find("480x270"), std::string::npos) << log;
    auto video = videotest::probeStream(out, "v:0");
    EXPECT_EQ(video["width"], "480");
    EXPECT_EQ(video["height"], "270");
    EXPECT_EQ(video["nb_read_frames"], "2");
    EXPECT_NEAR(std::stod(video["duration"]), 1.0, 1e-6);

    const std::string pngs = folder.file("pngs");
    log = runCapture("--quiet --scale 4 --time 30,30.5 --out " + quoted(pngs + "/"), status);
    ASSERT_EQ(status, 0) << log;
    const std::vector<std::uint8_t> frames = videotest::decodeVideo(out);
    ASSERT_EQ(frames.size(), 2u * 480 * 270 * 3);
    const char* names[] = {"/frame-030.000.png", "/frame-030.500.png"};
    double same[2];
    double crossed[2];
    for (int k = 0; k < 2; ++k) {
        const std::vector<std::uint8_t> picture = videotest::decodeVideo(pngs + names[k]);
        ASSERT_EQ(picture.size(), std::size_t(480) * 270 * 3);
        auto frame = [&](int index) { return frames.data() + std::size_t(index) * 480 * 270 * 3; };
        double sum = 0.0;
        double other = 0.0;
        for (std::size_t i = 0; i < picture.size(); ++i) {
            sum += std::abs(int(frame(k)[i]) - int(picture[i]));
            other += std::abs(int(frame(1 - k)[i]) - int(picture[i]));
        }
        same[k] = sum / picture.size();
        crossed[k] = other / picture.size();
    }
    std::printf("mean difference of the preview's frames to the scaled PNGs: %.2f %.2f (crossed %.2f %.2f)\n",
                same[0], same[1], crossed[0], crossed[1]);
    for (int k = 0; k < 2; ++k) {
        EXPECT_LT(same[k], 4.0) << "frame " << k;
        EXPECT_GT(crossed[k], same[k]) << "frame " << k;
    }
}

// At density 2 the video is the dense picture, native 3840x2160 (one frame,
// four frames' work), and that frame is the PNG capture's dense picture.
TEST(VideoCaptureDensity, AtDensityTwoTheVideoIsTheNative4kPicture)
{
    ScratchFolder folder;
    const std::string out = folder.file("4k.mp4");
    int status = -1;
    std::string log = videotest::runCommand(quoted(capture) + " --video " + quoted(out) +
                                                " --density 2 --from 30 --to 30.25 --fps 4 2>&1",
                                            &status);
    ASSERT_EQ(status, 0) << log;
    EXPECT_NE(log.find("3840x2160"), std::string::npos) << log;
    auto video = videotest::probeStream(out, "v:0");
    EXPECT_EQ(video["width"], "3840");
    EXPECT_EQ(video["height"], "2160");
    EXPECT_EQ(video["nb_read_frames"], "1");

    // A part with edges, in dense pixels, at the frame's time and 0.25 s later.
    const int x = 1960, y = 1280, w = 192, h = 192;
    const std::string rect = " --rect " + std::to_string(x) + "," + std::to_string(y) + "," + std::to_string(w) +
                             "," + std::to_string(h);
    log = videotest::runCommand(quoted(capture) + " --quiet --density 2 --time 30,30.25" + rect + " --out " +
                                    quoted(folder.file("pngs") + "/") + " 2>&1",
                                &status);
    ASSERT_EQ(status, 0) << log;
    const std::vector<std::uint8_t> frame = videotest::decodeVideo(out);
    ASSERT_EQ(frame.size(), std::size_t(3840) * 2160 * 3);
    double difference[2];
    const char* names[] = {"/pngs/frame-030.000.png", "/pngs/frame-030.250.png"};
    for (int k = 0; k < 2; ++k) {
        const std::vector<std::uint8_t> part = videotest::decodeVideo(folder.path() + names[k]);
        ASSERT_EQ(part.size(), std::size_t(w) * h * 3);
        double sum = 0.0;
        for (int row = 0; row < h; ++row)
            for (int col = 0; col < w * 3; ++col)
                sum += std::abs(int(frame[(std::size_t(y + row) * 3840 + x) * 3 + col]) - int(part[std::size_t(row) * w * 3 + col]));
        difference[k] = sum / (w * h * 3.0);
    }
    std::printf("mean difference of the 4K frame to the dense PNG: %.2f (0.25 s later: %.2f)\n", difference[0],
                difference[1]);
    EXPECT_LT(difference[0], 4.0);
    EXPECT_GT(difference[1], difference[0]);
}

// A disk that fills up while the video is written: ffmpeg may end with 0
// after a trailer it could not write, yet the capture fails with one line
// naming the cause and leaves nothing. A disk plainly too small for the sound
// is refused before the first frame. (Root only: the test mounts a tmpfs.)
TEST(VideoCapture, AFullDiskIsOneLineAndNoFile)
{
    struct Case {
        std::string name;
        std::string codec;
        int freeKilobytes;  // left on a 200 kB disk
        std::string range;
        std::string said;
    };
    const std::vector<Case> cases = {
        {"v.mp4", "aac", 24, "--to 1", "No space left on device"},
        {"v.mkv", "flac", 100, "--to 1", "No space left on device"},
        {"v.mkv", "aac", 24, "--to 30", "its disk has 0.02 MB free, and the sound alone takes 0.48 MB or more"},
    };
    for (const Case& c : cases) {
        ScratchFolder folder;
        const std::string small = folder.file("small");
        ASSERT_EQ(::mkdir(small.c_str(), 0755), 0);
        tooltest::SmallDisk disk(small, 200);
        if (!disk.mounted())
            GTEST_SKIP() << disk.why();
        std::ofstream(small + "/filler", std::ios::binary) << std::string((200 - c.freeKilobytes) * 1024, 'x');
        int status = -1;
        const std::string out = small + "/" + c.name;
        const std::string log = runCapture("-q --video " + quoted(out) + " --audio-codec " + c.codec +
                                               " --scale 6 --from 0 " + c.range + " --fps 5",
                                           status);
        EXPECT_EQ(status, 1) << c.name << ": " << log;
        EXPECT_EQ(log, "demo-capture: cannot write '" + out + "': " +
                           (c.said == "No space left on device"
                                ? c.said + " (ffmpeg could not finish it; nothing is left)"
                                : c.said) +
                           "\n")
            << c.name;
        EXPECT_EQ(videotest::runCommand("ls -A " + quoted(small)), "filler\n") << c.name;
    }
}

// A container that must seek, into a named pipe: refused at once, before the
// first frame (and before the pipe is opened), naming the one that streams.
TEST(VideoCapture, AnMp4IntoAPipeIsRefusedAtOnce)
{
    ScratchFolder folder;
    const std::string fifo = folder.file("p.mp4");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
    int status = -1;
    const auto start = std::chrono::steady_clock::now();
    const std::string log = runCapture("--video " + quoted(fifo) + " --scale 6 --to 3 --fps 4", status);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_EQ(status, 1) << log;
    EXPECT_EQ(log, "demo-capture: '" + fifo + "' is a pipe or device that cannot seek, and a .mp4 file is finished by "
                   "going back to write its index; stream a .mkv there instead\n");
    EXPECT_LT(seconds, 1.0);
    struct stat info {};
    ASSERT_EQ(::stat(fifo.c_str(), &info), 0);
    EXPECT_TRUE(S_ISFIFO(info.st_mode));
}

TEST(VideoCapture, WithoutFfmpegOneClearErrorAndNoFile)
{
    ScratchFolder folder;
    const std::string out = folder.file("none.mp4");
    int status = -1;
    // A PATH with the shell's tools but no ffmpeg.
    const std::string bin = folder.file("bin");
    videotest::runCommand("mkdir " + quoted(bin) + " && ln -s /bin/sh " + quoted(bin + "/sh"));
    std::string log = videotest::runCommand("PATH=" + quoted(bin) + " " + quoted(capture) + " --video " + quoted(out) +
                                                " --from 29 --to 30 --fps 4 2>&1",
                                            &status);
    EXPECT_EQ(status, 1) << log;
    EXPECT_EQ(log, "demo-capture: ffmpeg not found on PATH; it encodes the video (on Debian: apt-get install ffmpeg)\n");
    EXPECT_FALSE(videotest::fileExists(out));
    EXPECT_EQ(folder.entries(), std::vector<std::string>{"bin"});
}

TEST(VideoCapture, CtrlCInsideAFrameStopsAndRemovesTheFile)
{
    ScratchFolder folder;
    const std::string out = folder.file("stopped.mp4");
    const std::string logPath = folder.file("log.txt");
    const char* argv[] = {capture.c_str(), "--video", out.c_str(), "--from", "10", "--to", "12", "--fps", "2", nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, logPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    pid_t pid = -1;
    ASSERT_EQ(::posix_spawn(&pid, capture.c_str(), &actions, nullptr, const_cast<char**>(argv), environ), 0);
    posix_spawn_file_actions_destroy(&actions);

    // The hidden file appears once ffmpeg runs, as the first frame starts.
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    while (folder.entries().size() < 2 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(folder.entries().size(), 2u);
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    const auto pressed = std::chrono::steady_clock::now();
    ASSERT_EQ(::kill(pid, SIGINT), 0);
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - pressed).count();
    std::string log = videotest::runCommand("cat " + quoted(logPath));
    ASSERT_TRUE(WIFEXITED(status)) << log;
    EXPECT_EQ(WEXITSTATUS(status), 128 + SIGINT) << log;
    EXPECT_LT(seconds, 5.0) << "a frame takes far longer than this on a software renderer: it did not wait for it";
    EXPECT_NE(log.find("interrupted"), std::string::npos) << log;
    EXPECT_EQ(folder.entries(), std::vector<std::string>{"log.txt"});
}
