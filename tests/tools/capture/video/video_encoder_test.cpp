// The encoder side of `capture --video`, driven by frames and sound made up
// here (small pictures, no OpenGL, no synthesizer): what ffmpeg is told, what
// comes out of it, and that every way of failing leaves no file behind.

#include "encoder_process.h"
#include "video_encoder.h"
#include "container_check.h"
#include "interrupt_cleanup.h"
#include "video_progress.h"
#include "video_timeline.h"
#include "video_test_util.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstring>
#include <fstream>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <thread>
#include <utility>
#include <unistd.h>

using namespace video;
using videotest::ScratchFolder;

namespace {

constexpr int W = 64;
constexpr int H = 36;

// Frame k: the top half one colour, the bottom half another, both changing
// with k, so that a picture upside down or out of order shows.
std::vector<std::uint8_t> syntheticFrame(int width, int height, std::uint32_t k)
{
    std::vector<std::uint8_t> rgb(static_cast<std::size_t>(width) * height * 3);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            std::uint8_t* p = &rgb[(static_cast<std::size_t>(y) * width + x) * 3];
            if (y < height / 2) {
                p[0] = 220, p[1] = static_cast<std::uint8_t>(20 * k), p[2] = 40;
            } else {
                p[0] = 30, p[1] = 60, p[2] = static_cast<std::uint8_t>(200 - 20 * k);
            }
        }
    }
    return rgb;
}

// A made-up song: smooth tones, both clip values and a few edge values.
float syntheticSample(std::size_t frame, int channel)
{
    if (frame % 5000 == 7)
        return channel == 0 ? 1.0f : -1.0f;
    if (frame % 5000 == 8)
        return channel == 0 ? -1.0f : 1.0f;
    if (frame % 5000 == 9)
        return channel == 0 ? -0.0f : 1e-9f;
    return channel == 0 ? 0.8f * std::sin(frame * 0.031f) : 0.5f * std::cos(frame * 0.0007f) * std::sin(frame * 0.2f);
}

// Sound of `frames` stereo frames of the made-up song, handed out in pieces
// of varying size.
AudioProducer syntheticSound(std::size_t frames)
{
    auto next = std::make_shared<std::size_t>(0);
    return [next, frames](float* samples, std::size_t maxFrames) {
        std::size_t count = std::min({maxFrames, frames - *next, std::size_t{3001}});
        for (std::size_t i = 0; i < count; ++i) {
            samples[2 * i] = syntheticSample(*next + i, 0);
            samples[2 * i + 1] = syntheticSample(*next + i, 1);
        }
        *next += count;
        return count;
    };
}

EncoderSettings smallSettings(const std::string& output)
{
    EncoderSettings s;
    s.outputPath = output;
    s.width = W;
    s.height = H;
    s.fps = 4;
    return s;
}

// Encodes `frames` frames and the matching sound; returns the error, empty on success.
std::string encode(const EncoderSettings& settings, std::uint32_t frames)
{
    VideoEncoder encoder;
    std::string error;
    std::size_t soundFrames = static_cast<std::size_t>(frames) * AUDIO_RATE / settings.fps;
    if (!encoder.start(settings, syntheticSound(soundFrames), error))
        return error;
    for (std::uint32_t k = 0; k < frames; ++k) {
        if (!encoder.writeFrame(syntheticFrame(settings.width, settings.height, k).data(), error))
            return error;
    }
    if (!encoder.finish(error))
        return error;
    return {};
}

// Settings for out.mp4 in `folder`, with the shell script `body`, written
// there as fake-ffmpeg, in ffmpeg's place.
EncoderSettings withFakeFfmpeg(const ScratchFolder& folder, const std::string& body)
{
    const std::string fake = folder.file("fake-ffmpeg");
    std::ofstream(fake) << "#!/bin/sh\n" << body << "\n";
    ::chmod(fake.c_str(), 0755);
    EncoderSettings s = smallSettings(folder.file("out.mp4"));
    s.program = fake;
    return s;
}

// What a failed encode with the fake must leave in its folder: the fake alone.
const std::vector<std::string> ONLY_THE_FAKE = {"fake-ffmpeg"};

}  // namespace

TEST(VideoTimeline, FrameTimesAreTheDemoClockRounded)
{
    CaptureRange whole;  // 0 to 185 s at 60 fps
    EXPECT_EQ(frameCount(whole), 11100u);
    EXPECT_EQ(frameTimeMs(whole, 0), 0u);
    EXPECT_EQ(frameTimeMs(whole, 1), 17u);  // 16.67
    EXPECT_EQ(frameTimeMs(whole, 2), 33u);  // 33.33
    EXPECT_EQ(frameTimeMs(whole, 3), 50u);
    EXPECT_EQ(frameTimeMs(whole, 11099), 184983u);
    EXPECT_EQ(audioFirstFrame(whole), 0u);
    EXPECT_EQ(audioFrameCount(whole), 185u * 44100u);

    CaptureRange range{29.0, 30.0, 4};
    EXPECT_EQ(frameCount(range), 4u);
    EXPECT_EQ(frameTimeMs(range, 0), 29000u);
    EXPECT_EQ(frameTimeMs(range, 3), 29750u);
    EXPECT_EQ(audioFirstFrame(range), 1278900u);
    EXPECT_EQ(audioFrameCount(range), 44100u);

    CaptureRange halves{0.0, 1.0, 16};
    EXPECT_EQ(frameTimeMs(halves, 1), 63u);  // 62.5 rounds up
    EXPECT_EQ(frameTimeMs(halves, 3), 188u);  // 187.5

    CaptureRange odd{10.1, 10.6, 4};  // 0.5 s: two frames, the range's 22,050 song frames
    EXPECT_EQ(frameCount(odd), 2u);
    EXPECT_EQ(frameTimeMs(odd, 1), 10350u);
    EXPECT_EQ(audioFirstFrame(odd), 445410u);
    EXPECT_EQ(audioFrameCount(odd), 22050u);

    CaptureRange partial{0.0, 1.1, 4};  // the last frame starts inside the range
    EXPECT_EQ(frameCount(partial), 5u);
    // The sound is as long as the frames: 5 / 4 s, not the range's 1.1 s.
    EXPECT_EQ(audioFrameCount(partial), 55125u);
    EXPECT_DOUBLE_EQ(captureEndSeconds(partial), 1.25);

    CaptureRange tenth{30.0, 30.1, 4};  // one frame of 0.25 s
    EXPECT_EQ(frameCount(tenth), 1u);
    EXPECT_EQ(audioFirstFrame(tenth), 1323000u);
    EXPECT_EQ(audioFrameCount(tenth), 11025u);
}

TEST(VideoEncoderArguments, CarryTheChosenFormats)
{
    EncoderSettings s;
    s.outputPath = "/x/demo.mp4";
    s.fps = 30;
    s.crf = 23;
    s.outWidth = 1280;
    s.outHeight = 720;
    std::vector<std::string> args = ffmpegArguments(s, "/x/.demo.part.mp4", 3);
    auto has = [&](const std::string& option, const std::string& value) {
        for (std::size_t i = 0; i + 1 < args.size(); ++i) {
            if (args[i] == option && args[i + 1] == value)
                return true;
        }
        return false;
    };
    // The frames and the sound as the pipes carry them, then the encoding.
    const std::pair<const char*, const char*> expected[] = {
        {"-video_size", "1920x1080"}, {"-pix_fmt", "rgb24"}, {"-framerate", "30"}, {"-i", "pipe:0"},
        {"-f", "f32le"},              {"-ar", "44100"},      {"-ac", "2"},         {"-i", "pipe:3"},
        {"-c:v", "libx264"},          {"-crf", "23"},        {"-c:a", "aac"},      {"-movflags", "+faststart"},
    };
    for (const auto& [option, value] : expected)
        EXPECT_TRUE(has(option, value)) << option << " " << value;
    auto vf = std::find(args.begin(), args.end(), "-vf");
    ASSERT_NE(vf, args.end());
    EXPECT_EQ(vf[1].rfind("scale=1280:720:", 0), 0u) << vf[1];
    EXPECT_NE(vf[1].find("format=yuv420p"), std::string::npos);
    EXPECT_EQ(args.back(), "/x/.demo.part.mp4");

    s.audioCodec = AudioCodec::Flac;
    s.outWidth = s.outHeight = 0;
    s.outputPath = "/x/demo.mkv";
    args = ffmpegArguments(s, "/x/.demo.part.mkv", 3);
    EXPECT_TRUE(has("-c:a", "flac"));
    EXPECT_TRUE(has("-sample_fmt", "s32"));
    vf = std::find(args.begin(), args.end(), "-vf");
    EXPECT_EQ(vf[1].rfind("scale=1920:1080:", 0), 0u) << vf[1];
    EXPECT_EQ(std::find(args.begin(), args.end(), "-movflags"), args.end());
}

TEST(VideoEncoderFiles, PartFileIsHiddenBesideTheOutput)
{
    std::string pid = std::to_string(::getpid());
    EXPECT_EQ(partPathFor("/a/b/demo.mp4", 0), "/a/b/.demo.part-" + pid + "-0.mp4");
    EXPECT_EQ(partPathFor("demo.MP4", 2), ".demo.part-" + pid + "-2.mp4");
    EXPECT_EQ(partPathFor("/a.b/demo", 1), "/a.b/.demo.part-" + pid + "-1");
}

TEST(VideoEncoderFiles, FindsProgramsOnPath)
{
    EXPECT_FALSE(output::findOnPath("sh").empty());
    EXPECT_EQ(output::findOnPath("/bin/sh"), "/bin/sh");
    EXPECT_TRUE(output::findOnPath("no-such-program-for-video-test").empty());
    EXPECT_TRUE(output::findOnPath("/no/such/ffmpeg").empty());
}

TEST(VideoProgress, ShowsFramesRateAndTimeLeft)
{
    EXPECT_EQ(durationText(5.4), "5s");
    EXPECT_EQ(durationText(185.0), "3m05s");
    EXPECT_EQ(durationText(3 * 3600.0 + 120.0), "3h02m");
    EXPECT_EQ(durationText(-1.0), "--");
    EXPECT_EQ(progressText(0, 100, 0.0, 10), "[..........] 0/100 frames  0.00 fps  -- left");
    EXPECT_EQ(progressText(25, 100, 50.0, 10), "[##........] 25/100 frames  0.50 fps  2m30s left");
    EXPECT_EQ(progressText(600, 1200, 20.0, 4), "[##..] 600/1200 frames  30.0 fps  20s left");
    EXPECT_EQ(progressText(100, 100, 10.0, 4), "[####] 100/100 frames  10.0 fps  0s left");
}

TEST(VideoProgress, LogGetsTheFirstAndLastLine)
{
    std::FILE* log = std::tmpfile();
    ASSERT_NE(log, nullptr);
    {
        ProgressBar bar(3, log);
        bar.frameDone();
        bar.frameDone();
        bar.frameDone();
        bar.close();
        EXPECT_EQ(bar.done(), 3u);
    }
    std::rewind(log);
    char text[512] = {};
    std::size_t got = std::fread(text, 1, sizeof text - 1, log);
    std::fclose(log);
    std::string lines(text, got);
    // Not a terminal: plain lines, no carriage returns, none for the frames between.
    EXPECT_EQ(lines.find('\r'), std::string::npos) << lines;
    EXPECT_EQ(lines.rfind("[", 0), 0u) << lines;
    EXPECT_NE(lines.find("] 0/3 frames  0.00 fps  -- left\n"), std::string::npos) << lines;
    EXPECT_NE(lines.find("] 3/3 frames  "), std::string::npos) << lines;
    EXPECT_EQ(lines.find("1/3 frames"), std::string::npos) << lines;
    EXPECT_EQ(std::count(lines.begin(), lines.end(), '\n'), 2) << lines;
}

TEST(VideoEncoder, FlacSoundIsTheSamplesWithin24Bits)
{
    ScratchFolder folder;
    EncoderSettings s = smallSettings(folder.file("out.mp4"));
    s.audioCodec = AudioCodec::Flac;
    ASSERT_EQ(encode(s, 8), "");
    EXPECT_EQ(folder.entries(), std::vector<std::string>{"out.mp4"});
    videotest::expectFlacVideo(s.outputPath, W, H, 8, 4, 2.0);

    // 24-bit FLAC keeps each sample to one step of 2^-23 (ffmpeg cuts the
    // low bits of its 32-bit integers rather than rounding them).
    std::vector<float> decoded = videotest::decodeAudio(s.outputPath);
    ASSERT_EQ(decoded.size(), 2u * 88200u);
    const double step = std::ldexp(1.0, -23);
    double worst = 0.0;
    for (std::size_t i = 0; i < decoded.size(); ++i)
        worst = std::max(worst, std::abs(double(decoded[i]) - syntheticSample(i / 2, int(i % 2))));
    EXPECT_LE(worst, step);

    // The picture the right way up, each frame in its place.
    std::vector<std::uint8_t> frames = videotest::decodeVideo(s.outputPath);
    ASSERT_EQ(frames.size(), 8u * W * H * 3);
    for (std::uint32_t k = 0; k < 8; ++k) {
        std::vector<std::uint8_t> expected = syntheticFrame(W, H, k);
        for (int y : {2, H / 4, 3 * H / 4, H - 3}) {
            std::size_t at = ((k * H + y) * W + W / 2) * 3;
            std::size_t want = (static_cast<std::size_t>(y) * W + W / 2) * 3;
            for (int c = 0; c < 3; ++c)
                EXPECT_NEAR(frames[at + c], expected[want + c], 12) << "frame " << k << " row " << y << " channel " << c;
        }
    }
}

TEST(VideoEncoder, ScalesAndEncodesAacByDefault)
{
    ScratchFolder folder;
    EncoderSettings s = smallSettings(folder.file("small.mp4"));
    s.outWidth = 32;
    s.outHeight = 18;
    ASSERT_EQ(encode(s, 4), "");
    auto video = videotest::probeStream(s.outputPath, "v:0");
    EXPECT_EQ(video["width"], "32");
    EXPECT_EQ(video["height"], "18");
    EXPECT_EQ(video["nb_read_frames"], "4");
    EXPECT_EQ(video["color_space"], "bt709");
    auto audio = videotest::probeStream(s.outputPath, "a:0");
    EXPECT_EQ(audio["codec_name"], "aac");
    EXPECT_EQ(audio["sample_rate"], "44100");
    EXPECT_EQ(audio["channels"], "2");
    EXPECT_NEAR(std::stod(videotest::probeFormat(s.outputPath)["duration"]), 1.0, 0.03);
}

TEST(VideoEncoder, MissingFfmpegIsOneClearErrorAndNoFile)
{
    ScratchFolder folder;
    EncoderSettings s = smallSettings(folder.file("out.mp4"));
    s.program = "ffmpeg-not-installed-here";
    std::string error = encode(s, 2);
    EXPECT_NE(error.find("ffmpeg-not-installed-here not found on PATH"), std::string::npos) << error;
    EXPECT_TRUE(folder.entries().empty());
}

TEST(VideoEncoder, FailingEncoderLeavesNoFileAndKeepsAnOldOne)
{
    ScratchFolder folder;
    EncoderSettings s = withFakeFfmpeg(folder, "echo 'something in the encoder broke' >&2\nexit 3");
    std::ofstream(folder.file("out.mp4")) << "an earlier capture";
    std::string error = encode(s, 4);
    EXPECT_NE(error.find("ffmpeg exited with status 3"), std::string::npos) << error;
    EXPECT_NE(error.find("something in the encoder broke"), std::string::npos) << error;
    auto names = folder.entries();
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"fake-ffmpeg", "out.mp4"}));
    std::ifstream old(folder.file("out.mp4"));
    std::string text((std::istreambuf_iterator<char>(old)), {});
    EXPECT_EQ(text, "an earlier capture");
}

TEST(VideoEncoder, EncoderKilledBySignalIsAnError)
{
    ScratchFolder folder;
    std::string error = encode(withFakeFfmpeg(folder, "kill -SEGV $$"), 2);
    EXPECT_NE(error.find("ffmpeg ended by signal " + std::to_string(SIGSEGV)), std::string::npos) << error;
    EXPECT_EQ(folder.entries(), ONLY_THE_FAKE);
}

TEST(VideoEncoder, BrokenPipeIsAnError)
{
    ScratchFolder folder;
    // An encoder that stops reading its input and then claims success.
    EncoderSettings s = withFakeFfmpeg(folder, "exec 0<&- 3<&-\nsleep 1\nexit 0");
    s.width = 1920;  // a frame larger than a pipe holds
    s.height = 1080;
    std::string error = encode(s, 3);
    EXPECT_NE(error.find("ffmpeg stopped taking frames (Broken pipe)"), std::string::npos) << error;
    EXPECT_EQ(folder.entries(), ONLY_THE_FAKE);
}

TEST(VideoEncoder, UnwritableFolderIsAnError)
{
    ScratchFolder folder;
    EncoderSettings s = smallSettings(folder.file("no-such-folder/out.mp4"));
    std::string error = encode(s, 1);
    EXPECT_NE(error.find("cannot write '" + s.outputPath + "': there is no folder"), std::string::npos) << error;
    EXPECT_TRUE(folder.entries().empty());
}

// A process started with SIGCHLD ignored has its children reaped unseen, and
// waitpid then fails: the encoder must still learn that ffmpeg failed.
TEST(VideoEncoder, AFailedEncoderIsSeenWhenSigchldWasIgnored)
{
    ScratchFolder folder;
    // Writes a broken file where it was told to, then fails.
    EncoderSettings s = withFakeFfmpeg(folder, "for last; do :; done\necho broken > \"$last\"\ncat >/dev/null\nexit 1");
    struct sigaction ignore {}, previous {};
    ignore.sa_handler = SIG_IGN;
    ASSERT_EQ(::sigaction(SIGCHLD, &ignore, &previous), 0);
    std::string error = encode(s, 2);
    ::sigaction(SIGCHLD, &previous, nullptr);
    EXPECT_NE(error.find("ffmpeg exited with status 1"), std::string::npos) << error;
    EXPECT_EQ(folder.entries(), ONLY_THE_FAKE);
}

TEST(VideoEncoder, AnEndThatCannotBeLearntIsAFailure)
{
    ScratchFolder folder;
    EncoderSettings s = withFakeFfmpeg(folder, "exit 0");
    VideoEncoder encoder;
    std::string error;
    ASSERT_TRUE(encoder.start(s, syntheticSound(0), error)) << error;
    // Someone else reaps ffmpeg first: its status is gone.
    int status = 0;
    ASSERT_EQ(::waitpid(encoder.pid(), &status, 0), encoder.pid());
    EXPECT_FALSE(encoder.finish(error));
    EXPECT_NE(error.find("how ffmpeg ended cannot be known"), std::string::npos) << error;
    EXPECT_EQ(folder.entries(), ONLY_THE_FAKE);
}

// The video output through links, over an existing file, and into a device.
TEST(VideoEncoder, OutputsThatAreNotNewFiles)
{
    ScratchFolder folder;
    ::mkdir(folder.file("real").c_str(), 0755);
    std::ofstream(folder.file("real/out.mp4")) << "an earlier capture";
    ASSERT_EQ(::chmod(folder.file("real/out.mp4").c_str(), 0640), 0);
    ASSERT_EQ(::symlink("real/out.mp4", folder.file("out.mp4").c_str()), 0);
    ASSERT_EQ(encode(smallSettings(folder.file("out.mp4")), 4), "");
    struct stat info {};
    ASSERT_EQ(::lstat(folder.file("out.mp4").c_str(), &info), 0);
    EXPECT_TRUE(S_ISLNK(info.st_mode));
    ASSERT_EQ(::stat(folder.file("real/out.mp4").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0640u);
    EXPECT_EQ(videotest::probeStream(folder.file("out.mp4"), "v:0")["nb_read_frames"], "4");
    auto names = folder.entries();
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"out.mp4", "real"}));

    // A device node named *.mp4: ffmpeg writes it in place; it stays a device.
    if (::mknod(folder.file("null.mp4").c_str(), S_IFCHR | 0666, makedev(1, 3)) != 0)
        GTEST_SKIP() << "cannot make device nodes here (" << std::strerror(errno) << ")";
    ASSERT_EQ(encode(smallSettings(folder.file("null.mp4")), 4), "");
    ASSERT_EQ(::stat(folder.file("null.mp4").c_str(), &info), 0);
    EXPECT_TRUE(S_ISCHR(info.st_mode));
    names = folder.entries();
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"null.mp4", "out.mp4", "real"}));
}

// ffmpeg's word is not taken for a whole file: one that says nothing, ends
// with 0 and reports the size it wrote, but leaves a file cut short (as a
// full disk does at its trailer), is a failure, and nothing is left.
TEST(VideoEncoder, AFileCutShortIsAFailureWhateverFfmpegSays)
{
    ScratchFolder folder;
    EncoderSettings s = withFakeFfmpeg(
        folder, "for last; do :; done\nprintf '\\000\\000\\000\\040ftypisom' > \"$last\"\ncat >/dev/null &\ncat <&3 >/dev/null\nwait\n"
                "printf 'total_size=12\\nprogress=end\\n' >&2\nexit 0");
    std::string error = encode(s, 2);
    EXPECT_NE(error.find("ffmpeg did not finish the video: it ends inside a box at byte 0"), std::string::npos) << error;
    EXPECT_EQ(folder.entries(), ONLY_THE_FAKE);

    // A whole file whose size is not the one ffmpeg reported.
    s = withFakeFfmpeg(folder, "for last; do :; done\necho broken > \"$last\"\ncat >/dev/null &\ncat <&3 >/dev/null\nwait\n"
                               "printf 'total_size=9000\\nprogress=end\\n' >&2\nexit 0");
    error = encode(s, 2);
    EXPECT_NE(error.find("the file holds 7 bytes of the 9000 that ffmpeg wrote"), std::string::npos) << error;
    // An error said, with status 0 (as after a trailer that could not be written).
    s = withFakeFfmpeg(folder, "cat >/dev/null\necho 'Error writing trailer of x.mp4: Input/output error' >&2\nexit 0");
    error = encode(s, 2);
    EXPECT_NE(error.find("cannot write '" + s.outputPath + "': Input/output error"), std::string::npos) << error;
    EXPECT_EQ(folder.entries(), ONLY_THE_FAKE);
}

// The container check on real files of both kinds, whole and cut: a cut
// anywhere (at the index, in the middle, one byte short) is seen.
TEST(ContainerCheck, WholeFilesPassAndCutOnesDoNot)
{
    ScratchFolder folder;
    for (const std::string name : {"whole.mp4", "whole.mkv"}) {
        const std::string path = folder.file(name);
        ASSERT_EQ(encode(smallSettings(path), 4), "") << name;
        const std::string ext = lowerExtension(path);
        EXPECT_EQ(containerFault(path, ext), "") << name;
        struct stat info {};
        ASSERT_EQ(::stat(path.c_str(), &info), 0);
        for (off_t length : {off_t{0}, off_t{40}, info.st_size / 2, info.st_size - 1}) {
            const std::string cut = folder.file("cut-" + std::to_string(length) + ext);
            ASSERT_EQ(std::system(("head -c " + std::to_string(length) + " " + path + " > " + cut).c_str()), 0);
            EXPECT_NE(containerFault(cut, ext), "") << name << " cut to " << length << " bytes";
        }
    }
}

TEST(VideoEncoder, UnknownContainerIsAnError)
{
    ScratchFolder folder;
    EncoderSettings s = smallSettings(folder.file("out.nosuchformat"));
    std::string error = encode(s, 1);
    EXPECT_NE(error.find("ffmpeg exited with status"), std::string::npos) << error;
    EXPECT_TRUE(folder.entries().empty());
}

TEST(VideoEncoder, AbortStopsFfmpegAndRemovesThePartialFile)
{
    ScratchFolder folder;
    EncoderSettings s = smallSettings(folder.file("out.mp4"));
    VideoEncoder encoder;
    std::string error;
    ASSERT_TRUE(encoder.start(s, syntheticSound(10 * AUDIO_RATE), error)) << error;
    pid_t pid = encoder.pid();
    ASSERT_GT(pid, 0);
    for (std::uint32_t k = 0; k < 3; ++k)
        ASSERT_TRUE(encoder.writeFrame(syntheticFrame(W, H, k).data(), error)) << error;
    EXPECT_EQ(folder.entries().size(), 1u);  // the hidden part file
    encoder.abort();
    EXPECT_TRUE(folder.entries().empty());
    EXPECT_EQ(::kill(pid, 0), -1);  // reaped, gone
    EXPECT_EQ(errno, ESRCH);
}

TEST(VideoEncoder, InterruptRemovesThePartialFile)
{
    ScratchFolder folder;
    std::string output = folder.file("out.mp4");
    pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // An endless capture, a frame every 50 ms, until a signal ends it.
        output::installInterruptCleanup("interrupted\n");
        VideoEncoder encoder;
        std::string error;
        EncoderSettings s = smallSettings(output);
        if (!encoder.start(s, syntheticSound(3600 * AUDIO_RATE), error))
            ::_exit(2);
        for (std::uint32_t k = 0;; ++k) {
            if (!encoder.writeFrame(syntheticFrame(W, H, k % 8).data(), error))
                ::_exit(3);
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    }
    // Wait until ffmpeg has begun writing, then press Ctrl-C.
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (folder.entries().empty() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    ASSERT_EQ(::kill(child, SIGINT), 0);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 128 + SIGINT);
    EXPECT_TRUE(folder.entries().empty());
}
