// The demo's command line.
#include "demo_options.h"

#include <charconv>
#include <string_view>

#include "scaled_source.h"

namespace {

// "1280x720": two plain decimal numbers from 1 to 16384.
bool parseWindowSize(std::string_view text, int& width, int& height)
{
    const std::size_t x = text.find('x');
    if (x == std::string_view::npos) {
        return false;
    }
    auto number = [](std::string_view digits, int& value) {
        if (digits.empty() || digits.size() > 5 || digits[0] == '0') {
            return false;
        }
        for (char c : digits) {
            if (c < '0' || c > '9') {
                return false;
            }
        }
        std::from_chars(digits.data(), digits.data() + digits.size(), value);
        return value >= 1 && value <= 16384;
    };
    int w = 0;
    int h = 0;
    if (!number(text.substr(0, x), w) || !number(text.substr(x + 1), h)) {
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

} // namespace

DemoOptionsOutcome parseDemoOptions(int argc, const char* const* argv, DemoOptions& options, std::string& error)
{
    bool scaleSeen = false;
    bool windowSeen = false;
    for (int i = 1; i < argc; ++i) {
        std::string_view arg = argv[i];
        std::string_view value;
        bool hasValue = false;
        if (arg.starts_with("--") && arg.find('=') != std::string_view::npos) {
            value = arg.substr(arg.find('=') + 1);
            arg = arg.substr(0, arg.find('='));
            hasValue = true;
        }
        if ((arg == "--help" || arg == "-h") && !hasValue) {
            return DemoOptionsOutcome::Help;
        }
        if (arg == "--scale") {
            if (scaleSeen) {
                error = "--scale is given twice";
                return DemoOptionsOutcome::Error;
            }
            scaleSeen = true;
            if (!hasValue) {
                if (i + 1 >= argc) {
                    error = "--scale needs a value: " + scaleChoices();
                    return DemoOptionsOutcome::Error;
                }
                value = argv[++i];
            }
            if (value == "auto") {
                options.autoScale = true;
                options.scale = 1;
            } else if (const std::optional<int> scale = parseSceneScale(value)) {
                options.autoScale = false;
                options.scale = *scale;
            } else {
                error = "--scale takes " + scaleChoices() + ", not '" + std::string(value) + "'";
                return DemoOptionsOutcome::Error;
            }
            continue;
        }
        if (arg == "--window") {
            if (windowSeen) {
                error = "--window is given twice";
                return DemoOptionsOutcome::Error;
            }
            windowSeen = true;
            options.windowed = true;
            // The size is optional: a following word that is not an option is taken as one.
            if (!hasValue && i + 1 < argc && argv[i + 1][0] != '-') {
                value = argv[++i];
                hasValue = true;
            }
            if (hasValue && !parseWindowSize(value, options.windowWidth, options.windowHeight)) {
                error = "--window takes a size WIDTHxHEIGHT (1 to 16384 each, e.g. 1280x720), not '" +
                        std::string(value) + "'";
                return DemoOptionsOutcome::Error;
            }
            continue;
        }
        error = arg.starts_with("-") ? "unknown option '" + std::string(argv[i]) + "'"
                                     : "unexpected argument '" + std::string(argv[i]) + "'";
        return DemoOptionsOutcome::Error;
    }
    return DemoOptionsOutcome::Run;
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
           "  --help         this text\n"
           "\n"
           "Exit codes: 0 after Escape or the end, 1 when it cannot start (no display,\n"
           "missing OpenGL features), 2 for a bad option.\n";
}
