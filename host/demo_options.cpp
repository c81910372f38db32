// The demo's command line.
#include "demo_options.h"

#include <array>
#include <string_view>

#include "option_reader.h"
#include "plain_number.h"
#include "quoted.h"
#include "scaled_source.h"

using command_line::GivenOption;
using command_line::Option;
using command_line::Takes;

namespace {

// The largest window side asked for.
constexpr int MAX_WINDOW_SIDE = 16384;

// "1280x720": two numbers from 1 to 16384, written without leading zeros.
bool parseWindowSize(std::string_view text, int& width, int& height)
{
    int w = 0;
    int h = 0;
    if (!command_line::parseSize(text, w, h) || text[0] == '0' || text[text.find('x') + 1] == '0' ||
        w > MAX_WINDOW_SIDE || h > MAX_WINDOW_SIDE) {
        return false;
    }
    width = w;
    height = h;
    return true;
}

// "1, 2, 3, 4, 6 or auto".
std::string scaleChoices()
{
    std::string text;
    for (int scale : SCENE_SCALES) {
        text += std::to_string(scale) + ", ";
    }
    text.resize(text.size() - 2);
    return text + " or auto";
}

bool takeOption(const GivenOption& given, DemoOptions& options, std::string& error)
{
    const std::string_view value = given.value;
    if (given.option.name == "--scale") {
        if (value == "auto") {
            options.autoScale = true;
            options.scale = 1;
        } else if (const std::optional<int> scale = parseSceneScale(value)) {
            options.autoScale = false;
            options.scale = *scale;
        } else {
            error = "--scale takes " + scaleChoices() + ", not " + command_line::quoted(value);
            return false;
        }
        return true;
    }
    // --window, with or without its size.
    options.windowed = true;
    if (given.hasValue && !parseWindowSize(value, options.windowWidth, options.windowHeight)) {
        error = "--window takes a size WIDTHxHEIGHT (1 to 16384 each, e.g. 1280x720), not " +
                command_line::quoted(value);
        return false;
    }
    return true;
}

} // namespace

DemoOptionsOutcome parseDemoOptions(int argc, const char* const* argv, DemoOptions& options, std::string& error)
{
    static const std::string scaleNeeds = "a value: " + scaleChoices();
    const std::array<Option, 2> table = {{
        {.name = "--scale", .needs = scaleNeeds},
        {.name = "--window", .takes = Takes::OptionalValue},
    }};
    return command_line::readOptions(
        argc, argv, table,
        [&](const GivenOption& given, std::string& why) { return takeOption(given, options, why); }, error);
}

std::string demoUsage()
{
    return std::string("usage: demo [--scale N|auto] [--window [WxH]] [--help]\n"
                       "\n"
                       "The demo: three minutes of ray-marched scenes and a synthesized song. It covers\n"
                       "the desktop without changing its mode; the 1920x1080 picture is scaled to fit,\n"
                       "with black bars where the screen's shape differs. Escape ends it.\n"
                       "\n"
                       "  --scale N      draw the picture at 1920/N x 1080/N (default 1),\n"
                       "                 N = ") +
           SCENE_SCALE_LIST +
           ":\n"
           "                 each drawn pixel is the full picture's pixel at its\n"
           "                 place, N times fewer each way, for a weaker GPU\n"
           "  --scale auto   start at 1 and step to a coarser scale while frames take\n"
           "                 longer than 1/30 s, back to a finer one when there is room\n"
           "  --window [WxH] an ordinary resizable window (default 1280x720) instead of\n"
           "                 the full screen\n"
           "  --help         this text, alone\n"
           "\n"
           "Each option is given once. Exit codes: 0 after Escape or the end, 1 when it\n"
           "cannot start (no display, missing OpenGL features) or the display fails\n"
           "while it runs, 2 for a bad option.\n";
}
