#include "video_options.h"

#include "encoder_process.h"
#include "output_file.h"
#include "plain_number.h"
#include "quoted.h"
#include "output_check.h"
#include "frame_size.h"
#include "scene_time_line.h"
#include "video_timeline.h"

using command_line::parseDecimal;
using command_line::parseWholeNumber;
using command_line::quoted;

namespace video {

std::span<const command_line::Option> videoOptions()
{
    static const command_line::Option options[] = {
        {.name = "--video"}, {.name = "--from"},        {.name = "--to"},   {.name = "--fps"},
        {.name = "--crf"},   {.name = "--audio-codec"}, {.name = "--size"},
    };
    return options;
}

bool parseVideoOption(const std::string& name, const std::string& value, VideoOptions& options, std::string& error)
{
    if (name == "--video") {
        if (value == "-") {  // standard output, as a Matroska stream
            options.path = value;
            return true;
        }
        std::string ext = lowerExtension(value);
        if (ext != ".mp4" && ext != ".mov" && ext != ".m4v" && ext != ".mkv") {
            error = "--video wants a file ending in .mp4, .mov, .m4v or .mkv, not " + quoted(value);
            return false;
        }
        if (value.back() == '/' || value.substr(value.find_last_of('/') + 1) == ext) {
            error = "--video wants a file name, not " + quoted(value);
            return false;
        }
        options.path = value;
        return true;
    }
    options.tuned = true;
    if (name == "--from" || name == "--to") {
        double seconds = 0.0;
        if (!parseDecimal(value, seconds) || seconds > DEMO_END_SECONDS) {
            error = name + " wants seconds from 0 to " + secondsText(DEMO_END_SECONDS) + ", not " + quoted(value);
            return false;
        }
        (name == "--from" ? options.range.from : options.range.to) = seconds;
        return true;
    }
    if (name == "--fps") {
        if (!parseWholeNumber(value, 1000000, options.range.fps) || options.range.fps < 1 || options.range.fps > 240) {
            error = "--fps wants a whole number of frames per second from 1 to 240, not " + quoted(value);
            return false;
        }
        return true;
    }
    if (name == "--crf") {
        if (!parseWholeNumber(value, 1000000, options.crf) || options.crf > 51) {
            error = "--crf wants a whole number from 0 (lossless) to 51, not " + quoted(value);
            return false;
        }
        return true;
    }
    if (name == "--audio-codec") {
        if (value == "aac") {
            options.audioCodec = AudioCodec::Aac;
        } else if (value == "flac") {
            options.audioCodec = AudioCodec::Flac;
        } else {
            error = "--audio-codec wants aac or flac, not " + quoted(value);
            return false;
        }
        return true;
    }
    if (name == "--size") {
        int width = 0, height = 0;
        if (!command_line::parseSize(value, width, height)) {
            error = "--size wants WIDTHxHEIGHT, e.g. 1280x720, not " + quoted(value);
            return false;
        }
        if (width < 16 || height < 16 || width > 7680 || height > 4320 || width % 2 != 0 || height % 2 != 0) {
            error = "--size wants an even width and height from 16x16 to 7680x4320, not " + quoted(value);
            return false;
        }
        options.width = width;
        options.height = height;
        return true;
    }
    error = "unknown video option " + quoted(name);
    return false;
}

bool checkVideoOptions(const VideoOptions& options, bool timesGiven, bool pictureOptionsGiven, std::string& error)
{
    if (options.path.empty()) {
        if (options.tuned) {
            error = "--from, --to, --fps, --crf, --audio-codec and --size go with --video FILE";
            return false;
        }
        return true;
    }
    if (timesGiven || pictureOptionsGiven) {
        error = "--video renders every frame from --from to --to; it takes no --time, --rect, --count-steps or --out";
        return false;
    }
    if (!(options.range.from < options.range.to)) {
        error = "--from must come before --to";
        return false;
    }
    return true;
}

bool preflightVideo(const VideoOptions& options, std::string& error)
{
    std::string warning;
    return preflightVideo(options, FRAME_WIDTH, FRAME_HEIGHT, warning, error);
}

bool preflightVideo(const VideoOptions& options, int width, int height, std::string& warning, std::string& error)
{
    EncoderSettings settings = encoderSettings(options, width, height);
    if (output::findOnPath(settings.program).empty()) {
        error = settings.program + " not found on PATH; it encodes the video (on Debian: apt-get install ffmpeg)";
        return false;
    }
    output::OutputPlan plan;
    if (!checkVideoOutput(options.path, plan, error))
        return false;
    const int outWidth = options.width > 0 ? options.width : width;
    const int outHeight = options.height > 0 ? options.height : height;
    const double seconds = static_cast<double>(frameCount(options.range)) / options.range.fps;
    error = roomFault(plan, expectedVideoBytes(options.audioCodec, seconds, outWidth, outHeight, options.range.fps),
                      warning);
    return error.empty();
}

EncoderSettings encoderSettings(const VideoOptions& options, int width, int height)
{
    EncoderSettings settings;
    settings.outputPath = options.path;
    settings.width = width;
    settings.height = height;
    settings.fps = options.range.fps;
    settings.outWidth = options.width;
    settings.outHeight = options.height;
    settings.crf = options.crf;
    settings.audioCodec = options.audioCodec;
    return settings;
}

std::string videoUsage()
{
    // The facts that the text names, from the constants that hold them.
    const std::string end = secondsText(DEMO_END_SECONDS);
    const std::string frame = std::to_string(FRAME_WIDTH) + "x" + std::to_string(FRAME_HEIGHT);
    return "Video (instead of PNG files):\n"
           "      --video FILE    render every frame from --from to --to at --fps and\n"
           "                      write them with the song's sound to FILE (.mp4, .mov,\n"
           "                      .m4v or .mkv) through ffmpeg: H.264 yuv420p and AAC;\n"
           "                      - is standard output, as Matroska; a pipe or\n"
           "                      terminal takes only .mkv (.mp4 needs to seek)\n"
           "      --from SECONDS  the range's start on the demo's clock (default 0)\n"
           "      --to SECONDS    the range's end (default " + end + ", the demo's end)\n"
           "      --fps N         frames per second (default 60); frame n is drawn at\n"
           "                      round((from + n / fps) * 1000) ms\n"
           "      --crf N         H.264 quality, 0 lossless to 51 (default 18)\n"
           "      --audio-codec C aac (default) or flac (lossless, 24-bit)\n"
           "      --size WxH      scale the video to W x H (even numbers); the frames\n"
           "                      are still rendered at " + frame + " (or at the size of\n"
           "                      --scale, --density or --supersample, which is the\n"
           "                      video's size without --size)\n"
           "A range that is not a whole number of frames ends with its last frame:\n"
           "--from 30 --to 30.1 --fps 4 is one frame, 0.25 s. The sound is the song\n"
           "from round(from * " + std::to_string(SAMPLE_RATE) + "), exactly as long as the frames.\n"
           "The file appears only when complete; Ctrl-C (130), SIGTERM (143) and\n"
           "SIGHUP (129) stop the capture at once and remove it.\n";
}

}  // namespace video
