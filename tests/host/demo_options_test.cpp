// The demo's command line: the scales and auto, the density, the window and
// its size, the help, and every kind of bad input refused with one line that
// quotes it.
#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <vector>

#include "demo_options.h"
#include "scene_scales.h"

namespace {

DemoOptionsOutcome parse(std::initializer_list<const char*> args, DemoOptions& options, std::string& error)
{
    std::vector<const char*> argv{"demo"};
    argv.insert(argv.end(), args);
    return parseDemoOptions(static_cast<int>(argv.size()), argv.data(), options, error);
}

DemoOptionsOutcome parse(const std::vector<std::string>& args, DemoOptions& options, std::string& error)
{
    std::vector<const char*> argv{"demo"};
    for (const std::string& arg : args) {
        argv.push_back(arg.c_str());
    }
    return parseDemoOptions(static_cast<int>(argv.size()), argv.data(), options, error);
}

DemoOptions parsed(std::initializer_list<const char*> args)
{
    DemoOptions options;
    std::string error;
    EXPECT_EQ(parse(args, options, error), DemoOptionsOutcome::Run) << error;
    return options;
}

TEST(DemoOptions, NoArgumentsIsTheDesktopAtFullResolution)
{
    const DemoOptions options = parsed({});
    EXPECT_EQ(options.step, 0);
    EXPECT_EQ(options.density, 1);
    EXPECT_FALSE(options.autoScale);
    EXPECT_FALSE(options.windowed);
}

TEST(DemoOptions, ScalesAutoAndTheWindowInBothSpellings)
{
    for (const char* scale : {"1", "864p", "720p", "1280x720", "2", "3", "4", "6"}) {
        EXPECT_EQ(parsed({"--scale", scale}).step, *parseSceneScale(scale));
        EXPECT_EQ(parsed({(std::string("--scale=") + scale).c_str()}).step, *parseSceneScale(scale));
    }
    const DemoOptions automatic = parsed({"--scale", "auto"});
    EXPECT_TRUE(automatic.autoScale);
    EXPECT_EQ(automatic.step, *parseSceneScale("6")); // auto's first frame, its probe, at the coarsest
    EXPECT_EQ(parsed({"--density", "2", "--window"}).density, 2);

    const DemoOptions window = parsed({"--window"});
    EXPECT_TRUE(window.windowed);
    EXPECT_EQ(window.windowWidth, 1280);
    EXPECT_EQ(window.windowHeight, 720);
    const DemoOptions sized = parsed({"--window", "640x360", "--scale", "4"});
    EXPECT_TRUE(sized.windowed);
    EXPECT_EQ(sized.windowWidth, 640);
    EXPECT_EQ(sized.windowHeight, 360);
    EXPECT_EQ(sized.step, *parseSceneScale("4"));
    const DemoOptions equals = parsed({"--scale=auto", "--window=16384x1"});
    EXPECT_TRUE(equals.autoScale);
    EXPECT_EQ(equals.windowWidth, 16384);
    EXPECT_EQ(equals.windowHeight, 1);
    // An option after --window is not taken as its size.
    const DemoOptions thenScale = parsed({"--window", "--scale", "2"});
    EXPECT_EQ(thenScale.windowWidth, 1280);
    EXPECT_EQ(thenScale.step, *parseSceneScale("2"));
}

TEST(DemoOptions, HelpStandsAlone)
{
    DemoOptions options;
    std::string error;
    EXPECT_EQ(parse({"--help"}, options, error), DemoOptionsOutcome::Help);
    EXPECT_EQ(parse({"-h"}, options, error), DemoOptionsOutcome::Help);
    const std::string usage = demoUsage();
    for (const char* named : {"--scale NAME", "--scale auto", "--density D", "--window [WxH]", "--help", "720p  1280x720",
                              "6     320x180"}) {
        EXPECT_NE(usage.find(named), std::string::npos) << named;
    }
}

TEST(DemoOptions, BadInputIsOneLineNamingIt)
{
    // A long argument is quoted up to its first 80 bytes, never half a
    // character: here the 80th byte is the first of a two-byte 'é'.
    const std::string longArgument = std::string(79, 'a') + "\xc3\xa9" + std::string(200, 'b');
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"--scale", "5"}, "1, 864p, 720p, 2, 3, 4, 6 or auto (or a drawn size: 1280x720, 720p), not '5'"},
        {{"--scale", "1600x900"}, "'1600x900'"},
        {{"--density", "5"}, "not '5'"},
        {{"--density", "2", "--scale", "720p"}, "do not go together"},
        {{"--scale", "auto", "--density", "2"}, "do not go together"},
        {{"--scale", "02"}, "'02'"},
        {{"--scale", "Auto"}, "'Auto'"},
        {{"--scale="}, "''"},
        {{"--scale"}, "needs a value"},
        {{"--scale", "2", "--scale", "2"}, "twice"},
        {{"--window", "1280"}, "'1280'"},
        {{"--window", "1280x"}, "'1280x'"},
        {{"--window", "0x720"}, "'0x720'"},
        {{"--window", "16385x720"}, "'16385x720'"},
        {{"--window", "0640x480"}, "'0640x480'"},
        {{"--window", "640X480"}, "'640X480'"},
        {{"--window=640x480x2"}, "'640x480x2'"},
        {{"--window", "--window"}, "twice"},
        {{"--window=640x360", "--window"}, "--window is given twice"},
        {{"--scale", "auto", "--scale=2"}, "--scale is given twice"},
        {{"--fullscreen"}, "unknown option '--fullscreen'"},
        {{"--help=yes"}, "--help takes no value"},
        {{"--help", "--scale", "2"}, "--help takes no other arguments"},
        {{"--scale", "2", "-h"}, "--help takes no other arguments"},
        {{"--help", "extra"}, "--help takes no other arguments"},
        {{"-s"}, "'-s'"},
        {{"2"}, "unexpected argument '2'"},
        {{"--scale", "2\n3"}, "not '2\\n3'"},
        {{"--window", "\x1b[2J"}, "'\\x1b[2J'"},
        {{"--scale=" + longArgument}, "'" + std::string(79, 'a') + "...' (281 bytes)"},
    };
    for (const auto& [args, named] : cases) {
        DemoOptions options;
        std::string error;
        EXPECT_EQ(parse(args, options, error), DemoOptionsOutcome::Error) << named;
        EXPECT_NE(error.find(named), std::string::npos) << error;
        EXPECT_EQ(error.find('\n'), std::string::npos) << error;
    }
}

} // namespace
