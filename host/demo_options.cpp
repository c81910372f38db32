// The demo's command line.
#include "demo_options.h"

#include <array>
#include <cstdio>
#include <string_view>

#include "option_reader.h"
#include "plain_number.h"
#include "quoted.h"
#include "scale_governor.h"
#include "scale_arguments.h"
#include "scene_scales.h"
#include "scene_time_line.h"

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

bool takeOption(const GivenOption& given, DemoOptions& options, std::string& error)
{
    const std::string_view value = given.value;
    if (given.option.name == "--scale") {
        const std::optional<int> step = readScaleOption(value, true, error);
        if (!step) {
            return false;
        }
        options.autoScale = *step == AUTO_SCALE;
        options.step = options.autoScale ? ScaleGovernor::PROBE_STEP : *step;
        return true;
    }
    if (given.option.name == "--density") {
        const std::optional<int> density = readDensityOption(value, error);
        if (!density) {
            return false;
        }
        options.density = *density;
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
    static const std::string scaleNeeds = "a value: " + scaleOptionChoices(true);
    static const std::string densityNeeds = "a value: " + densityOptionChoices();
    const std::array<Option, 3> table = {{
        {.name = "--scale", .needs = scaleNeeds},
        {.name = "--density", .needs = densityNeeds},
        {.name = "--window", .takes = Takes::OptionalValue},
    }};
    bool scaleGiven = false;
    bool densityGiven = false;
    const DemoOptionsOutcome outcome = command_line::readOptions(
        argc, argv, table,
        [&](const GivenOption& given, std::string& why) {
            scaleGiven = scaleGiven || given.option.name == "--scale";
            densityGiven = densityGiven || given.option.name == "--density";
            return takeOption(given, options, why);
        },
        error);
    if (outcome == DemoOptionsOutcome::Run && scaleGiven && densityGiven) {
        error = SCALE_WITH_DENSITY_ERROR;
        return DemoOptionsOutcome::Error;
    }
    return outcome;
}

std::string demoUsage()
{
    std::string scales;
    for (const SceneScale& scale : SCENE_SCALES) {
        char line[64];
        std::snprintf(line, sizeof line, "                   %-5s %dx%d\n", scale.name, scale.grid.width,
                      scale.grid.height);
        scales += line;
    }
    // The facts that the text names, from the constants that hold them.
    const std::string frame = std::to_string(FRAME_WIDTH) + "x" + std::to_string(FRAME_HEIGHT);
    const std::string doubled = std::to_string(2 * FRAME_WIDTH) + "x" + std::to_string(2 * FRAME_HEIGHT);
    const std::string probe = SCENE_SCALES[SCENE_SCALE_COUNT - 1].name;
    const std::string densities = "1 to " + std::to_string(MAX_SCENE_DENSITY);
    const std::string warning = flashWarning();
    return "Usage: demo [--scale NAME|auto | --density D] [--window [WxH]] [--help | --version]\n"
           "\n"
           "The demo: three minutes of ray-marched scenes and a synthesized song. It covers\n"
           "the desktop without changing its mode (on Windows, without options, it asks\n"
           "for a " + frame + " mode first); the " + frame + " picture is scaled to fit, with\n"
           "black bars where the screen's shape differs. Escape or closing the window\n"
           "ends it.\n"
           "\n"
           "  --scale NAME   draw the picture at fewer pixels, for a weaker GPU (default\n"
           "                 1, the full " + frame + "); each drawn pixel is the full\n"
           "                 picture's pixel at its place:\n" +
           scales +
           "                 or by the drawn size (1280x720) or height (720p)\n"
           "  --scale auto   draw the first frame at " + probe + " and from its time go on at the\n"
           "                 finest scale whose frames take well under 1/30 s; then\n"
           "                 follow the frame times to the scale that fits, coarser or\n"
           "                 finer\n"
           "  --density D    draw D x D samples for every pixel of the " + frame + " picture,\n"
           "                 D = " + densities + ": --density 2 is native " + doubled + ", for a 4K\n"
           "                 screen; one line says so when the GPU cannot keep up\n"
           "  --window [WxH] an ordinary resizable window (default 1280x720) instead of\n"
           "                 the full screen\n"
           "  --help         this text, alone\n"
           "  --version      the version, alone\n"
           "\n"
           "Each option is given once. Exit codes: 0 after Escape, the window's close\n"
           "(by its user or another program) or the end, 1 when it cannot start (no\n"
           "display, missing OpenGL features) or the display fails while it runs, 2 for\n"
           "a bad option.\n"
           "\n" +
           (warning.empty() ? "" : warning + "\n");
}

std::string flashWarning()
{
    const std::optional<double> flash = flashSeconds();
    return flash ? "Warning: at " + secondsText(*flash) + " s the whole screen flashes white." : "";
}
