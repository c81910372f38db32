// Every program answers --version with one line: its name, the project's
// version, and the revision where the source is a git checkout.
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
        {"capture", CAPTURE_BINARY},
        {"render-song", RENDER_SONG_BINARY},
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

}  // namespace
