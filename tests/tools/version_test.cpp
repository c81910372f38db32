// Every program answers --version with one line: its name (the installed
// one), the project's version, and the revision where the source is a git
// checkout; its --help's usage line names it too.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "tool_process.h"

namespace {

struct Program {
    const char* name;
    const char* path;
};

TEST(Version, EachProgramPrintsTheProjectsVersionOnOneLine)
{
    const Program programs[] = {
        {"demo", DEMO_BINARY},
        {"demo-capture", CAPTURE_BINARY},
        {"demo-render-song", RENDER_SONG_BINARY},
        {"demo-launch", DEMO_LAUNCH_SCRIPT},
    };
    const std::string out = testing::TempDir() + "version_out.txt";
    const std::string errors = testing::TempDir() + "version_errors.txt";
    for (const Program& program : programs) {
        std::FILE* file = std::fopen(out.c_str(), "w");
        ASSERT_NE(file, nullptr);
        const tooltest::ToolEnd end = tooltest::runTool(program.path, {"--version"}, errors, fileno(file));
        std::fclose(file);
        EXPECT_TRUE(end.exited && end.code == 0) << program.name << ": " << end.errors;
        EXPECT_EQ(end.errors, "") << program.name;
        const std::string line = tooltest::readText(out);
        const std::string expected = std::string(program.name) + " " + PROJECT_VERSION;
        EXPECT_EQ(line.substr(0, expected.size()), expected) << line;
        EXPECT_TRUE(line.size() == expected.size() + 1 || line.substr(expected.size(), 6) == " (git ") << line;
        EXPECT_EQ(line.find('\n'), line.size() - 1) << program.name << ": not one line: " << line;
    }
}

TEST(Version, EachProgramsUsageNamesIt)
{
    const Program programs[] = {
        {"demo", DEMO_BINARY},
        {"demo-capture", CAPTURE_BINARY},
        {"demo-render-song", RENDER_SONG_BINARY},
        {"demo-launch", DEMO_LAUNCH_SCRIPT},
    };
    const std::string out = testing::TempDir() + "usage_out.txt";
    const std::string errors = testing::TempDir() + "usage_errors.txt";
    for (const Program& program : programs) {
        std::FILE* file = std::fopen(out.c_str(), "w");
        ASSERT_NE(file, nullptr);
        const tooltest::ToolEnd end = tooltest::runTool(program.path, {"--help"}, errors, fileno(file));
        std::fclose(file);
        EXPECT_TRUE(end.exited && end.code == 0) << program.name << ": " << end.errors;
        const std::string text = tooltest::readText(out);
        const std::string usage = "sage: " + std::string(program.name) + " ";
        EXPECT_EQ(text.substr(1, usage.size()), usage) << text.substr(0, text.find('\n'));
    }
}

}  // namespace
