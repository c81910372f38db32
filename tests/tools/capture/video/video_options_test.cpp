// The command line of `capture --video`: what it accepts, what it turns away
// and with which words, and the checks made before any rendering.

#include "capture_args.h"
#include "video_options.h"
#include "video_test_util.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <initializer_list>

using namespace video;

namespace {

// Parses a capture command line; returns the outcome and fills `options`, `error`.
ParseOutcome parse(std::initializer_list<const char*> args, CaptureOptions& options, std::string& error)
{
    std::vector<const char*> argv{"capture"};
    argv.insert(argv.end(), args.begin(), args.end());
    return parseCaptureArgs(static_cast<int>(argv.size()), argv.data(), options, error);
}

std::string rejection(std::initializer_list<const char*> args)
{
    CaptureOptions options;
    std::string error;
    return parse(args, options, error) == ParseOutcome::Error ? error : "(accepted)";
}

}  // namespace

TEST(VideoOptions, DefaultsAreTheWholeDemoAt60Fps)
{
    CaptureOptions options;
    std::string error;
    ASSERT_EQ(parse({"--video", "demo.mp4"}, options, error), ParseOutcome::Run) << error;
    EXPECT_EQ(options.video.path, "demo.mp4");
    EXPECT_EQ(options.video.range.from, 0.0);
    EXPECT_EQ(options.video.range.to, 185.0);
    EXPECT_EQ(options.video.range.fps, 60);
    EXPECT_EQ(options.video.crf, 18);
    EXPECT_EQ(options.video.audioCodec, AudioCodec::Aac);
    EXPECT_EQ(options.video.width, 0);
    ASSERT_EQ(options.timesMs.size(), 11100u);
    EXPECT_EQ(options.timesMs[1], 17u);
    EXPECT_EQ(options.timesMs.back(), 184983u);

    EncoderSettings settings = encoderSettings(options.video, 1920, 1080);
    EXPECT_EQ(settings.outputPath, "demo.mp4");
    EXPECT_EQ(settings.fps, 60);
    EXPECT_EQ(settings.outWidth, 0);
    EXPECT_EQ(settings.program, "ffmpeg");
}

TEST(VideoOptions, EveryOptionTakesItsValue)
{
    CaptureOptions options;
    std::string error;
    ASSERT_EQ(parse({"--video=out/a.MKV", "--from", "29", "--to=30", "--fps", "4", "--crf", "0", "--audio-codec",
                     "flac", "--size", "1280x720", "-q"},
                    options, error),
              ParseOutcome::Run)
        << error;
    EXPECT_EQ(options.video.path, "out/a.MKV");
    EXPECT_EQ(options.video.crf, 0);
    EXPECT_EQ(options.video.audioCodec, AudioCodec::Flac);
    EXPECT_EQ(options.video.width, 1280);
    EXPECT_EQ(options.video.height, 720);
    EXPECT_TRUE(options.quiet);
    EXPECT_EQ(options.timesMs, (std::vector<std::uint32_t>{29000, 29250, 29500, 29750}));
    EncoderSettings settings = encoderSettings(options.video, 1920, 1080);
    EXPECT_EQ(settings.crf, 0);
    EXPECT_EQ(settings.audioCodec, AudioCodec::Flac);
    EXPECT_EQ(settings.outWidth, 1280);
    EXPECT_EQ(settings.outHeight, 720);
    EXPECT_EQ(settings.fps, 4);
}

TEST(VideoOptions, BadValuesAreTurnedAway)
{
    EXPECT_EQ(rejection({"--video", "a.avi"}), "--video wants a file ending in .mp4, .mov, .m4v or .mkv, not 'a.avi'");
    EXPECT_EQ(rejection({"--video", "dir/.mp4"}), "--video wants a file name, not 'dir/.mp4'");
    EXPECT_EQ(rejection({"--video", "a.mp4", "--fps", "0"}),
              "--fps wants a whole number of frames per second from 1 to 240, not '0'");
    EXPECT_NE(rejection({"--video", "a.mp4", "--fps", "2.5"}).find("--fps wants"), std::string::npos);
    EXPECT_NE(rejection({"--video", "a.mp4", "--fps", "241"}).find("--fps wants"), std::string::npos);
    EXPECT_NE(rejection({"--video", "a.mp4", "--fps", "-4"}).find("--fps wants"), std::string::npos);
    EXPECT_NE(rejection({"--video", "a.mp4", "--crf", "52"}).find("--crf wants"), std::string::npos);
    EXPECT_NE(rejection({"--video", "a.mp4", "--crf", "-1"}).find("--crf wants"), std::string::npos);
    EXPECT_EQ(rejection({"--video", "a.mp4", "--audio-codec", "mp3"}), "--audio-codec wants aac or flac, not 'mp3'");
    EXPECT_EQ(rejection({"--video", "a.mp4", "--size", "1281x720"}),
              "--size wants an even width and height from 16x16 to 7680x4320, not '1281x720'");
    EXPECT_NE(rejection({"--video", "a.mp4", "--size", "8x8"}).find("even width and height from 16x16 to 7680x4320, not '8x8'"), std::string::npos);
    EXPECT_NE(rejection({"--video", "a.mp4", "--size", "1280"}).find("--size wants WIDTHxHEIGHT"), std::string::npos);
    EXPECT_NE(rejection({"--video", "a.mp4", "--size", "x720"}).find("--size wants WIDTHxHEIGHT"), std::string::npos);
    EXPECT_EQ(rejection({"--video", "a.mp4", "--from", "-1"}), "--from wants seconds from 0 to 185, not '-1'");
    EXPECT_EQ(rejection({"--video", "a.mp4", "--to", "185.5"}), "--to wants seconds from 0 to 185, not '185.5'");
    EXPECT_NE(rejection({"--video", "a.mp4", "--from", "abc"}).find("--from wants"), std::string::npos);
    EXPECT_NE(rejection({"--video", "a.mp4", "--to", "nan"}).find("--to wants"), std::string::npos);
    // Plain decimal only: no hexadecimal, exponent, sign or spaces.
    EXPECT_EQ(rejection({"--video", "a.mp4", "--from", "0x10"}), "--from wants seconds from 0 to 185, not '0x10'");
    EXPECT_NE(rejection({"--video", "a.mp4", "--to", "1e2"}).find("--to wants"), std::string::npos);
    EXPECT_NE(rejection({"--video", "a.mp4", "--to", "+30"}).find("--to wants"), std::string::npos);
    EXPECT_NE(rejection({"--video", "a.mp4", "--from", " 3"}).find("--from wants"), std::string::npos);
    EXPECT_NE(rejection({"--video", "a.mp4", "--from", "1.2.3"}).find("--from wants"), std::string::npos);
    EXPECT_NE(rejection({"--video", "a.mp4", "--crf", "0x1"}).find("--crf wants"), std::string::npos);
    EXPECT_NE(rejection({"--video", "a.mp4", "--size", "0x500x0x400"}).find("--size"), std::string::npos);
    EXPECT_EQ(rejection({"--video", "a.mp4", "--fps"}), "--fps needs a value");
}

TEST(VideoOptions, OptionsMustFitTogether)
{
    EXPECT_EQ(rejection({"--video", "a.mp4", "--from", "30", "--to", "30"}), "--from must come before --to");
    EXPECT_EQ(rejection({"--video", "a.mp4", "--from", "31", "--to", "30"}), "--from must come before --to");
    const std::string noPictureOptions =
        "--video renders every frame from --from to --to; it takes no --time, --rect, --count-steps or --out";
    EXPECT_EQ(rejection({"--video", "a.mp4", "--time", "3"}), noPictureOptions);
    EXPECT_EQ(rejection({"--video", "a.mp4", "--rect", "0,0,16,16"}), noPictureOptions);
    EXPECT_EQ(rejection({"--video", "a.mp4", "--out", "x"}), noPictureOptions);
    EXPECT_EQ(rejection({"--time", "3", "--fps", "4"}),
              "--from, --to, --fps, --crf, --audio-codec and --size go with --video FILE");
    // The picture capture is as it was.
    CaptureOptions options;
    std::string error;
    ASSERT_EQ(parse({"--time", "3,4"}, options, error), ParseOutcome::Run) << error;
    EXPECT_TRUE(options.video.path.empty());
    EXPECT_EQ(options.timesMs, (std::vector<std::uint32_t>{3000, 4000}));
}

TEST(VideoOptions, PreflightFindsFfmpegAndTheFolder)
{
    videotest::ScratchFolder folder;
    VideoOptions options;
    std::string error;
    options.path = folder.file("a.mp4");
    EXPECT_TRUE(preflightVideo(options, error)) << error;

    options.path = folder.file("missing/a.mp4");
    EXPECT_FALSE(preflightVideo(options, error));
    EXPECT_EQ(error, "cannot write '" + folder.file("missing/a.mp4") + "': there is no folder '" +
                         folder.file("missing") + "'");

    videotest::runCommand("mkdir " + videotest::quoted(folder.file("b.mp4")));
    options.path = folder.file("b.mp4");
    EXPECT_FALSE(preflightVideo(options, error));
    EXPECT_EQ(error, videotest::quoted(folder.file("b.mp4")) + " is a folder; name a file");

    std::string path = std::getenv("PATH");
    ::setenv("PATH", folder.path().c_str(), 1);
    options.path = folder.file("a.mp4");
    bool found = preflightVideo(options, error);
    ::setenv("PATH", path.c_str(), 1);
    EXPECT_FALSE(found);
    EXPECT_EQ(error, "ffmpeg not found on PATH; it encodes the video (on Debian: apt-get install ffmpeg)");
}
