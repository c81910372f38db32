#include "video_options.h"

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace video {
namespace {

bool parseNumber(const std::string& text, double& value)
{
    if (text.empty() || std::isspace(static_cast<unsigned char>(text[0])))
        return false;
    char* end = nullptr;
    errno = 0;
    value = std::strtod(text.c_str(), &end);
    return errno == 0 && end == text.c_str() + text.size() && std::isfinite(value);
}

bool parseWhole(const std::string& text, int& value)
{
    if (text.empty() || !(std::isdigit(static_cast<unsigned char>(text[0]))))
        return false;
    char* end = nullptr;
    errno = 0;
    long v = std::strtol(text.c_str(), &end, 10);
    if (errno != 0 || end != text.c_str() + text.size() || v > 1000000)
        return false;
    value = static_cast<int>(v);
    return true;
}

}  // namespace

bool isVideoOption(const std::string& name)
{
    return name == "--video" || name == "--from" || name == "--to" || name == "--fps" || name == "--crf" ||
           name == "--audio-codec" || name == "--size";
}

bool parseVideoOption(const std::string& name, const std::string& value, VideoOptions& options, std::string& error)
{
    if (name == "--video") {
        std::string ext = lowerExtension(value);
        if (ext != ".mp4" && ext != ".mov" && ext != ".m4v" && ext != ".mkv") {
            error = "--video wants a file ending in .mp4, .mov, .m4v or .mkv, not '" + value + "'";
            return false;
        }
        if (value.back() == '/' || value.substr(value.find_last_of('/') + 1) == ext) {
            error = "--video wants a file name, not '" + value + "'";
            return false;
        }
        options.path = value;
        return true;
    }
    options.tuned = true;
    if (name == "--from" || name == "--to") {
        double seconds = 0.0;
        if (!parseNumber(value, seconds) || seconds < 0.0 || seconds > DEMO_END_SECONDS) {
            error = name + " wants seconds from 0 to 185, not '" + value + "'";
            return false;
        }
        (name == "--from" ? options.range.from : options.range.to) = seconds;
        return true;
    }
    if (name == "--fps") {
        if (!parseWhole(value, options.range.fps) || options.range.fps < 1 || options.range.fps > 240) {
            error = "--fps wants a whole number of frames per second from 1 to 240, not '" + value + "'";
            return false;
        }
        return true;
    }
    if (name == "--crf") {
        if (!parseWhole(value, options.crf) || options.crf > 51) {
            error = "--crf wants a whole number from 0 (lossless) to 51, not '" + value + "'";
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
            error = "--audio-codec wants aac or flac, not '" + value + "'";
            return false;
        }
        return true;
    }
    if (name == "--size") {
        std::size_t x = value.find('x');
        int width = 0, height = 0;
        if (x == std::string::npos || !parseWhole(value.substr(0, x), width) ||
            !parseWhole(value.substr(x + 1), height)) {
            error = "--size wants WIDTHxHEIGHT, e.g. 1280x720, not '" + value + "'";
            return false;
        }
        if (width < 16 || height < 16 || width > 7680 || height > 4320 || width % 2 != 0 || height % 2 != 0) {
            error = "--size " + value + ": width and height must be even, from 16x16 to 7680x4320";
            return false;
        }
        options.width = width;
        options.height = height;
        return true;
    }
    error = "unknown video option '" + name + "'";
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
    EncoderSettings settings = encoderSettings(options, 1920, 1080);
    if (findProgram(settings.program).empty()) {
        error = settings.program + " not found on PATH; it encodes the video (on Debian: apt-get install ffmpeg)";
        return false;
    }
    std::string folder = folderOf(options.path);
    struct stat info {};
    if (::stat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
        error = "cannot write into " + folder + ": no such folder";
        return false;
    }
    if (::access(folder.c_str(), W_OK | X_OK) != 0) {
        error = "cannot write into " + folder + ": " + std::strerror(errno);
        return false;
    }
    if (::stat(options.path.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) {
        error = options.path + " is a folder";
        return false;
    }
    return true;
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
    return "Video (instead of PNG files):\n"
           "      --video FILE    render every frame from --from to --to at --fps and\n"
           "                      write them with the song's sound to FILE (.mp4, .mov,\n"
           "                      .m4v or .mkv) through ffmpeg: H.264 yuv420p and AAC\n"
           "      --from SECONDS  the range's start on the demo's clock (default 0)\n"
           "      --to SECONDS    the range's end (default 185, the demo's end)\n"
           "      --fps N         frames per second (default 60); frame n is drawn at\n"
           "                      round((from + n / fps) * 1000) ms\n"
           "      --crf N         H.264 quality, 0 lossless to 51 (default 18)\n"
           "      --audio-codec C aac (default) or flac (lossless, 24-bit)\n"
           "      --size WxH      scale the video to W x H (even numbers); the frames\n"
           "                      are still rendered at 1920x1080\n"
           "The sound is the song from round(from * 44100) for the range's length.\n"
           "The file appears only when complete; Ctrl-C stops and removes it.\n";
}

}  // namespace video
