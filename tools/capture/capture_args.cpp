#include "capture_args.h"

#include "output_file.h"
#include "plain_number.h"
#include "scaled_source.h"
#include "video_timeline.h"

#include <cctype>
#include <cmath>
#include <sstream>
#include <sys/stat.h>

namespace {

// Scene times reach as far as the demo runs, as for a video.
constexpr double MAX_TIME_SECONDS = video::DEMO_END_SECONDS;

bool secondsToMs(double seconds, std::uint32_t& ms)
{
    if (!(seconds >= 0.0) || seconds > MAX_TIME_SECONDS)
        return false;
    ms = static_cast<std::uint32_t>(std::llround(seconds * 1000.0));
    return true;
}

bool parseInt(const std::string& text, int& value)
{
    return parseWholeNumber(text, 1000000, value);
}

bool isFolder(const std::string& path)
{
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

std::vector<std::string> split(const std::string& text, char separator)
{
    std::vector<std::string> parts;
    std::string part;
    std::istringstream stream(text);
    while (std::getline(stream, part, separator))
        parts.push_back(part);
    if (!text.empty() && text.back() == separator)
        parts.push_back("");
    return parts;
}

bool parseRect(const std::string& text, CaptureOptions& options, std::string& error)
{
    const std::vector<std::string> parts = split(text, ',');
    int v[4];
    if (parts.size() != 4 || !parseInt(parts[0], v[0]) || !parseInt(parts[1], v[1]) || !parseInt(parts[2], v[2]) ||
        !parseInt(parts[3], v[3])) {
        error = "--rect wants X,Y,W,H (four integers), not '" + text + "'";
        return false;
    }
    if (v[0] < 0 || v[1] < 0 || v[2] < 1 || v[3] < 1) {
        error = "--rect " + text + ": X and Y from 0, W and H from 1";
        return false;
    }
    options.rectGiven = true;
    options.rectX = v[0];
    options.rectY = v[1];
    options.rectWidth = v[2];
    options.rectHeight = v[3];
    return true;
}

}  // namespace

bool parseTimeList(const std::string& text, std::vector<std::uint32_t>& timesMs, std::string& error)
{
    for (const std::string& item : split(text, ',')) {
        const std::vector<std::string> range = split(item, ':');
        if (range.size() == 1) {
            double seconds = 0.0;
            std::uint32_t ms = 0;
            if (!parseDecimal(item, seconds) || !secondsToMs(seconds, ms)) {
                error = "bad time '" + item + "' (seconds from 0 to 185, such as 30 or 106.5)";
                return false;
            }
            timesMs.push_back(ms);
        } else if (range.size() == 3) {
            double start = 0.0, end = 0.0, step = 0.0;
            std::uint32_t startMs = 0, endMs = 0, stepMs = 0;
            if (!parseDecimal(range[0], start) || !parseDecimal(range[1], end) || !parseDecimal(range[2], step) ||
                !secondsToMs(start, startMs) || !secondsToMs(end, endMs) || !secondsToMs(step, stepMs) ||
                stepMs == 0 || endMs < startMs) {
                error = "bad time range '" + item + "' (START:END:STEP in seconds, END >= START, STEP >= 0.001)";
                return false;
            }
            if ((endMs - startMs) / stepMs >= 1000000) {
                error = "time range '" + item + "' has too many frames";
                return false;
            }
            for (std::uint32_t ms = startMs; ms <= endMs; ms += stepMs) {
                timesMs.push_back(ms);
                if (endMs - ms < stepMs)
                    break;
            }
        } else {
            error = "bad time '" + item + "'";
            return false;
        }
    }
    return true;
}

bool outIsPngFile(const std::string& out)
{
    if (out.size() < 4)
        return false;
    std::string tail = out.substr(out.size() - 4);
    for (char& c : tail)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return tail == ".png";
}

ParseOutcome parseCaptureArgs(int argc, const char* const* argv, CaptureOptions& options, std::string& error)
{
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        std::string value;
        bool hasInlineValue = false;
        if (arg.rfind("--", 0) == 0) {
            const std::size_t equals = arg.find('=');
            if (equals != std::string::npos) {
                value = arg.substr(equals + 1);
                arg = arg.substr(0, equals);
                hasInlineValue = true;
            }
        }
        // Fetches the option's value: after '=' or the next argument.
        auto takeValue = [&](std::string& into) {
            if (hasInlineValue) {
                into = value;
                return true;
            }
            if (i + 1 >= argc) {
                error = arg + " needs a value";
                return false;
            }
            into = argv[++i];
            return true;
        };
        auto noValue = [&]() {
            if (hasInlineValue) {
                error = arg + " takes no value";
                return false;
            }
            return true;
        };

        if (arg == "--help" || arg == "-h") {
            return ParseOutcome::Help;
        } else if (arg == "--time" || arg == "-t") {
            std::string text;
            if (!takeValue(text) || !parseTimeList(text, options.timesMs, error))
                return ParseOutcome::Error;
        } else if (arg == "--out" || arg == "-o") {
            if (!takeValue(options.out))
                return ParseOutcome::Error;
            if (options.out.empty()) {
                error = "--out needs a non-empty path";
                return ParseOutcome::Error;
            }
        } else if (arg == "--rect") {
            std::string text;
            if (!takeValue(text) || !parseRect(text, options, error))
                return ParseOutcome::Error;
        } else if (arg == "--scale") {
            std::string text;
            if (!takeValue(text))
                return ParseOutcome::Error;
            const std::optional<int> scale = parseSceneScale(text);
            if (!scale) {
                error = std::string("--scale takes ") + SCENE_SCALE_LIST + ", not '" + text + "'";
                return ParseOutcome::Error;
            }
            options.scale = *scale;
        } else if (arg == "--count-steps") {
            if (!noValue())
                return ParseOutcome::Error;
            options.countSteps = true;
        } else if (arg == "--band") {
            std::string text;
            if (!takeValue(text))
                return ParseOutcome::Error;
            if (!parseInt(text, options.bandRows) || options.bandRows < 1) {
                error = "--band wants a positive number of rows";
                return ParseOutcome::Error;
            }
        } else if (arg == "--quiet" || arg == "-q") {
            if (!noValue())
                return ParseOutcome::Error;
            options.quiet = true;
        } else if (video::isVideoOption(arg)) {
            std::string text;
            if (!takeValue(text) || !video::parseVideoOption(arg, text, options.video, error))
                return ParseOutcome::Error;
        } else {
            error = "unknown argument '" + std::string(argv[i]) + "'";
            return ParseOutcome::Error;
        }
    }
    // The rectangle lies in the picture as drawn at the scale.
    const int pictureWidth = FRAME_WIDTH / options.scale;
    const int pictureHeight = FRAME_HEIGHT / options.scale;
    if (!options.rectGiven) {
        options.rectWidth = pictureWidth;
        options.rectHeight = pictureHeight;
    } else if (options.rectX + options.rectWidth > pictureWidth || options.rectY + options.rectHeight > pictureHeight) {
        error = "--rect " + std::to_string(options.rectX) + "," + std::to_string(options.rectY) + "," +
                std::to_string(options.rectWidth) + "," + std::to_string(options.rectHeight) +
                " does not lie within the " + std::to_string(pictureWidth) + "x" + std::to_string(pictureHeight) +
                " picture" + (options.scale > 1 ? " of --scale " + std::to_string(options.scale) : std::string());
        return ParseOutcome::Error;
    }
    if (!video::checkVideoOptions(options.video, !options.timesMs.empty(),
                                  options.rectGiven || options.countSteps || !options.out.empty(), error))
        return ParseOutcome::Error;
    if (!options.video.path.empty()) {
        options.timesMs = video::captureTimesMs(options.video.range);
        return ParseOutcome::Run;
    }
    if (options.timesMs.empty()) {
        error = "no --time given";
        return ParseOutcome::Error;
    }
    if (outIsPngFile(options.out) && options.timesMs.size() != 1) {
        error = "--out " + options.out + " names one file, but " + std::to_string(options.timesMs.size()) +
                " times were given (name a folder instead)";
        return ParseOutcome::Error;
    }
    // One time and a name with another extension is a file name that the
    // capture cannot write (it writes PNG), not a folder to make.
    if (options.timesMs.size() == 1 && !options.out.empty() && !outIsPngFile(options.out) && options.out.back() != '/' &&
        !output::lowerExtension(options.out).empty() && !isFolder(options.out)) {
        error = "--out " + options.out + ": one frame is written as a PNG file; name it *.png, or name a folder " +
                "(an existing one, or one ending in '/')";
        return ParseOutcome::Error;
    }
    return ParseOutcome::Run;
}

std::string captureUsage()
{
    return "Usage: capture --time SECONDS[,SECONDS...] [options]\n"
           "       capture --video FILE [--from S] [--to S] [--fps N] [video options]\n"
           "Renders the demo's picture offscreen (EGL, no window) at the given scene\n"
           "times with the embedded scene shader, exactly as the host draws a frame\n"
           "(glFogi(GL_FOG_END, ms); glRectf(-1, -1, 1, 1)), and writes PNG files.\n"
           "\n"
           "Options:\n"
           "  -t, --time LIST     scene times in seconds from 0 to 185: 30 or\n"
           "                      3,15,106.5 or a range START:END:STEP (END\n"
           "                      included); repeatable; plain decimal numbers\n"
           "  -o, --out PATH      a .png file (one time only) or a folder, created if\n"
           "                      missing, receiving frame-SSS.mmm.png per time;\n"
           "                      default: the current folder\n"
           "      --scale N       draw the picture at 1920/N x 1080/N, N = 1, 2, 3, 4 or\n"
           "                      6 (default 1): each pixel is the full picture's pixel\n"
           "                      at its place, as the demo's --scale N draws it, at\n"
           "                      1/N^2 of the cost; for PNG files and --video\n"
           "      --rect X,Y,W,H  render only this part of the picture (pixels of the\n"
           "                      picture at the scale, top-left origin); the PNG is\n"
           "                      W x H and the shader still sees full-frame coordinates\n"
           "      --count-steps   use a build of the shader that counts march steps\n"
           "                      and report the mean steps per pixel of each frame\n"
           "      --band ROWS     rows drawn per GL call (default 36): progress steps\n"
           "  -q, --quiet         no progress on stderr, only errors\n"
           "  -h, --help          this text\n"
           "\n" +
           video::videoUsage() +
           "\n"
           "Progress, the render time of each frame and the file it went to go to\n"
           "stderr. A file is written under a hidden temporary name in its folder and\n"
           "renamed when complete (a symbolic link is followed; an existing file keeps\n"
           "its permissions); a device or pipe is written in place. A folder made for\n"
           "the frames is removed again if no frame reached it.\n"
           "Exit status: 0 done, 1 no EGL/OpenGL context, an output that cannot be\n"
           "written or a failed render or write, 2 bad arguments, 130 interrupted\n"
           "(Ctrl-C), 143 terminated (SIGTERM), 129 hung up (SIGHUP); an interruption\n"
           "leaves no unfinished file.\n";
}
