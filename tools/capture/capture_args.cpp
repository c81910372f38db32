#include "capture_args.h"

#include "option_reader.h"
#include "output_file.h"
#include "plain_number.h"
#include "quoted.h"
#include "scale_arguments.h"
#include "frame_size.h"
#include "scene_scales.h"
#include "scene_time_line.h"
#include "video_timeline.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <sstream>
#include <sys/stat.h>

using command_line::GivenOption;
using command_line::Option;
using command_line::parseDecimal;
using command_line::quoted;
using command_line::Takes;

namespace {

// A band is never taller than the tallest picture (--density 4's), which
// it would draw in one call.
constexpr int MAX_BAND_ROWS = FRAME_HEIGHT * MAX_SCENE_DENSITY;
// The name that stands for standard output.
const std::string STANDARD_OUTPUT = "-";

// Scene times reach as far as the demo runs, as for a video.
constexpr double MAX_TIME_SECONDS = video::DEMO_END_SECONDS;

bool secondsToMs(double seconds, std::uint32_t& ms)
{
    if (!(seconds >= 0.0) || seconds > MAX_TIME_SECONDS)
        return false;
    ms = static_cast<std::uint32_t>(std::llround(seconds * 1000.0));
    return true;
}

bool parseInt(std::string_view text, int& value)
{
    return command_line::parseWholeNumber(text, 1000000, value);
}

bool isFolder(const std::string& path)
{
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool hasPngName(const std::string& out)
{
    return output::lowerExtension(out) == ".png";
}

// An existing device, pipe or terminal: written in place, so it takes one frame.
bool isWrittenInPlace(const std::string& out)
{
    output::OutputPlan plan;
    std::string ignored;
    return output::planOutput(out, false, plan, ignored) && plan.kind == output::OutputKind::InPlace;
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
        error = "--rect wants X,Y,W,H (four integers), not " + quoted(text);
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

// A scene time as the capture names it: "106.500 s".
std::string formatSeconds(std::uint32_t ms)
{
    char text[32];
    std::snprintf(text, sizeof text, "%u.%03u s", ms / 1000u, ms % 1000u);
    return text;
}

// Each time is one frame and one file: a time that comes twice (after
// rounding to the millisecond) is a mistake, not two frames.
bool checkTimesDiffer(const std::vector<std::uint32_t>& timesMs, std::string& error)
{
    std::vector<std::uint32_t> sorted = timesMs;
    std::sort(sorted.begin(), sorted.end());
    const auto twice = std::adjacent_find(sorted.begin(), sorted.end());
    if (twice == sorted.end())
        return true;
    error = "--time gives " + formatSeconds(*twice) + " twice";
    return false;
}

// The options of the frame capture, then those of the video.
std::span<const Option> captureOptions()
{
    static const std::vector<Option> options = [] {
        std::vector<Option> list = {
            {.name = "--time", .shortName = "-t", .repeatable = true},
            {.name = "--out", .shortName = "-o"},
            {.name = "--rect"},
            {.name = "--scale"},
            {.name = "--density"},
            {.name = "--supersample", .takes = Takes::Nothing},
            {.name = "--count-steps", .takes = Takes::Nothing},
            {.name = "--band"},
            {.name = "--quiet", .shortName = "-q", .takes = Takes::Nothing},
        };
        const std::span<const Option> videoOptions = video::videoOptions();
        list.insert(list.end(), videoOptions.begin(), videoOptions.end());
        return list;
    }();
    return options;
}

bool takeOption(const GivenOption& given, CaptureOptions& options, std::string& error)
{
    const std::string_view name = given.option.name;
    const std::string value(given.value);
    if (name == "--time")
        return parseTimeList(value, options.timesMs, error);
    if (name == "--out") {
        if (value.empty()) {
            error = "--out needs a non-empty path";
            return false;
        }
        options.out = value;
        return true;
    }
    if (name == "--rect")
        return parseRect(value, options, error);
    if (name == "--scale") {
        const std::optional<int> step = readScaleOption(value, false, error);
        if (!step)
            return false;
        options.step = *step;
        return true;
    }
    if (name == "--density") {
        const std::optional<int> density = readDensityOption(value, error);
        if (!density)
            return false;
        options.density = *density;
        return true;
    }
    if (name == "--supersample") {
        options.supersample = true;
        return true;
    }
    if (name == "--count-steps") {
        options.countSteps = true;
        return true;
    }
    if (name == "--band") {
        if (!command_line::parseWholeNumber(value, MAX_BAND_ROWS, options.bandRows) || options.bandRows < 1) {
            error = "--band wants a whole number of rows from 1 to " + std::to_string(MAX_BAND_ROWS) +
                    " (the tallest picture), not " + quoted(value);
            return false;
        }
        return true;
    }
    if (name == "--quiet") {
        options.quiet = true;
        return true;
    }
    return video::parseVideoOption(std::string(name), value, options.video, error);
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
                error = "bad time " + quoted(item) + " (seconds from 0 to " + secondsText(EXIT_TIME_MS / 1000.0) +
                        ", such as 30 or 106.5)";
                return false;
            }
            timesMs.push_back(ms);
        } else if (range.size() == 3) {
            double start = 0.0, end = 0.0, step = 0.0;
            std::uint32_t startMs = 0, endMs = 0, stepMs = 0;
            if (!parseDecimal(range[0], start) || !parseDecimal(range[1], end) || !parseDecimal(range[2], step) ||
                !secondsToMs(start, startMs) || !secondsToMs(end, endMs) || !secondsToMs(step, stepMs) ||
                stepMs == 0 || endMs < startMs) {
                error = "bad time range " + quoted(item) +
                        " (START:END:STEP in seconds, END >= START, STEP >= 0.001)";
                return false;
            }
            if ((endMs - startMs) / stepMs >= 1000000) {
                error = "time range " + quoted(item) + " has too many frames";
                return false;
            }
            for (std::uint32_t ms = startMs; ms <= endMs; ms += stepMs) {
                timesMs.push_back(ms);
                if (endMs - ms < stepMs)
                    break;
            }
        } else {
            error = "bad time " + quoted(item);
            return false;
        }
    }
    return true;
}

SampleGrid outputPicture(const CaptureOptions& options)
{
    if (options.density != 0 && !options.supersample)
        return densityGrid(options.density);
    return options.density != 0 ? SampleGrid{} : SCENE_SCALES[options.step].grid;
}

bool outIsOneFile(const std::string& out)
{
    return out == STANDARD_OUTPUT || hasPngName(out) || isWrittenInPlace(out);
}

ParseOutcome parseCaptureArgs(int argc, const char* const* argv, CaptureOptions& options, std::string& error)
{
    const ParseOutcome outcome = command_line::readOptions(
        argc, argv, captureOptions(),
        [&](const GivenOption& given, std::string& why) { return takeOption(given, options, why); }, error);
    if (outcome != ParseOutcome::Run)
        return outcome;
    if (options.supersample && options.density == 0) {
        error = "--supersample averages the samples of --density D; give that too";
        return ParseOutcome::Error;
    }
    if (options.density != 0 && options.step != 0) {
        error = SCALE_WITH_DENSITY_ERROR;
        return ParseOutcome::Error;
    }
    if (options.density != 0 && options.countSteps) {
        error = "--count-steps counts the steps of the frame's own pixels; it does not go with --density";
        return ParseOutcome::Error;
    }
    // The rectangle lies in the output picture.
    const SampleGrid picture = outputPicture(options);
    if (!options.rectGiven) {
        options.rectWidth = picture.width;
        options.rectHeight = picture.height;
    } else if (options.rectX + options.rectWidth > picture.width || options.rectY + options.rectHeight > picture.height) {
        const std::string of = options.density != 0
                                   ? std::string(options.supersample ? " supersampled" : "") + " picture of --density " +
                                         std::to_string(options.density)
                               : options.step != 0 ? " picture of --scale " + std::string(SCENE_SCALES[options.step].name)
                                                   : " picture";
        error = "--rect " + std::to_string(options.rectX) + "," + std::to_string(options.rectY) + "," +
                std::to_string(options.rectWidth) + "," + std::to_string(options.rectHeight) +
                " does not lie within the " + std::to_string(picture.width) + "x" + std::to_string(picture.height) + of;
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
    if (!checkTimesDiffer(options.timesMs, error))
        return ParseOutcome::Error;
    const std::string times = std::to_string(options.timesMs.size()) + " times were given";
    if (hasPngName(options.out) && options.timesMs.size() != 1) {
        error = "--out " + quoted(options.out) + " names one file, but " + times + " (name a folder instead)";
        return ParseOutcome::Error;
    }
    if (options.out == STANDARD_OUTPUT && options.timesMs.size() != 1) {
        error = "--out - is standard output, which takes one frame, but " + times;
        return ParseOutcome::Error;
    }
    if (isWrittenInPlace(options.out) && options.timesMs.size() != 1) {
        error = "--out " + quoted(options.out) + " is a device or pipe, which takes one frame, but " + times;
        return ParseOutcome::Error;
    }
    // One time and a name with another extension is a file name that the
    // capture cannot write (it writes PNG), not a folder to make.
    if (options.timesMs.size() == 1 && !options.out.empty() && !outIsOneFile(options.out) &&
        options.out.back() != '/' && !output::lowerExtension(options.out).empty() && !isFolder(options.out)) {
        error = "--out " + quoted(options.out) + ": one frame is written as a PNG file; name it *.png, or name a " +
                "folder (an existing one, or one ending in '/')";
        return ParseOutcome::Error;
    }
    return ParseOutcome::Run;
}

std::string captureUsage()
{
    // The facts that the text names, from the constants that hold them.
    const std::string end = secondsText(EXIT_TIME_MS / 1000.0);
    const std::string frame = std::to_string(FRAME_WIDTH) + "x" + std::to_string(FRAME_HEIGHT);
    const std::string dense = std::to_string(FRAME_WIDTH) + "D x " + std::to_string(FRAME_HEIGHT) + "D";
    const std::string doubled = std::to_string(2 * FRAME_WIDTH) + "x" + std::to_string(2 * FRAME_HEIGHT);
    return "Usage: demo-capture --time SECONDS[,SECONDS...] [options]\n"
           "       demo-capture --video FILE [--from S] [--to S] [--fps N] [video options]\n"
           "Renders the demo's picture offscreen (EGL, no window) at the given scene\n"
           "times with the embedded scene shader, exactly as the host draws a frame\n"
           "(glFogi(GL_FOG_END, ms); glRectf(-1, -1, 1, 1)), and writes PNG files.\n"
           "\n"
           "Options:\n"
           "  -t, --time LIST     scene times in seconds from 0 to " + end + ": 30 or\n"
           "                      3,15,106.5 or a range START:END:STEP (END\n"
           "                      included); repeatable, each time once; plain\n"
           "                      decimal numbers\n"
           "  -o, --out PATH      a .png file or an existing device or pipe such as\n"
           "                      /dev/null (one time only, written in place), - for\n"
           "                      standard output (one time; not a terminal), or a\n"
           "                      folder, created if missing, receiving\n"
           "                      frame-SSS.mmm.png per time; default: the current\n"
           "                      folder\n"
           "      --scale NAME    draw the picture at fewer pixels (default 1, the\n"
           "                      full " + frame + "): 864p (1536x864), 720p (1280x720),\n"
           "                      2 (960x540), 3 (640x360), 4 (480x270) or 6 (320x180),\n"
           "                      or the drawn size (1280x720) or height (720p); each\n"
           "                      pixel is the full picture's pixel at its place, as\n"
           "                      the demo's --scale draws it; for PNG files and --video\n"
           "      --density D     draw D x D samples for every pixel of the " + frame + "\n"
           "                      picture, D = 1 to " + std::to_string(MAX_SCENE_DENSITY) + ", at (x + (i + 0.5) / D,\n"
           "                      y + (j + 0.5) / D): the dense picture, " + dense + "\n"
           "                      (--density 2: native " + doubled + "), drawn in bands\n"
           "      --supersample   with --density: " + frame + " frames instead, each pixel\n"
           "                      the mean of its D x D samples in linear light\n"
           "                      (anti-aliased)\n"
           "      --rect X,Y,W,H  render only this part of the picture (pixels of the\n"
           "                      output: the picture at the scale, the dense picture\n"
           "                      or the supersampled one; top-left origin); the PNG is\n"
           "                      W x H and the shader still sees full-frame coordinates\n"
           "      --count-steps   use a build of the shader that counts march steps\n"
           "                      and report the mean steps per pixel of each frame\n"
           "      --band ROWS     rows drawn per GL call, 1 to 4320 (default 36):\n"
           "                      progress steps\n"
           "  -q, --quiet         no progress on stderr, only errors\n"
           "  -h, --help          this text (alone)\n"
           "      --version       the version (alone)\n"
           "\n" +
           video::videoUsage() +
           "\n"
           "Every option but --time is given once.\n"
           "Progress, the render time of each frame and the file it went to go to\n"
           "stderr. A file is written under a hidden temporary name in its folder and\n"
           "renamed when complete (a symbolic link is followed; an existing file keeps\n"
           "its permissions); a device or pipe is written in place. A folder made for\n"
           "the frames is removed again if no frame reached it. Ctrl-C, SIGTERM and\n"
           "SIGHUP end it at once, even while an output waits for its reader; an\n"
           "interruption leaves no unfinished file.\n"
           "Exit status: 0 done, 1 no EGL/OpenGL context, an output that cannot be\n"
           "written or a failed render or write, 2 bad arguments, 130 interrupted\n"
           "(Ctrl-C), 143 terminated (SIGTERM), 129 hung up (SIGHUP).\n";
}
