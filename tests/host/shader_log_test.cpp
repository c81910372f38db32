// createShaderProgram with a stub info-log source: the log file's
// exact content, text never taken as a format, the 4094-character cut, the
// missing log file, a driver that reports an odd length, and the one line
// that a program that did not build ends the start-up with.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>

#include "fake_platform.h"
#include "host.h"
#include "shader_source.h"
#include "temp_dir.h"

namespace {

const std::string HEAD = "** Start logging:\n** Linking shader 0:\n";

class ShaderLog : public InTempDir {
protected:
    void SetUp() override
    {
        InTempDir::SetUp();
        fake::reset();
    }
    static std::string log() { return readFile("ShaderLog.txt"); }
};

TEST_F(ShaderLog, AnEmptyInfoLogLeavesExactlyTheTwoFixedLines)
{
    createShaderProgram(fake::platform());
    EXPECT_EQ(log(), HEAD);
}

TEST_F(ShaderLog, TheInfoLogFollowsUnchanged)
{
    fake::infoLogText = "0:1(12): warning: something\n0:2(3): error: else\n";
    createShaderProgram(fake::platform());
    EXPECT_EQ(log(), HEAD + fake::infoLogText);
}

TEST_F(ShaderLog, PerCentSignsArriveUnchanged)
{
    fake::infoLogText = "%s %d %% %n %x %";
    createShaderProgram(fake::platform());
    EXPECT_EQ(log(), HEAD + "%s %d %% %n %x %");
}

TEST_F(ShaderLog, ALogLongerThan4094CharactersIsCutTo4094)
{
    fake::infoLogText.clear();
    for (int i = 0; i < 6000; ++i) {
        fake::infoLogText += static_cast<char>('a' + i % 26);
    }
    createShaderProgram(fake::platform());
    EXPECT_EQ(log(), HEAD + fake::infoLogText.substr(0, 4094));
}

TEST_F(ShaderLog, ALengthReportedBeyondTheBufferIsClamped)
{
    fake::infoLogText = std::string(5000, 'x');
    fake::lengthReport = fake::LengthReport::Forced;
    fake::forcedLength = 100000;
    createShaderProgram(fake::platform());
    EXPECT_EQ(log(), HEAD + std::string(4094, 'x'));
}

TEST_F(ShaderLog, ANegativeReportedLengthGivesAnEmptyText)
{
    fake::infoLogText = "text";
    fake::lengthReport = fake::LengthReport::Forced;
    fake::forcedLength = -5;
    createShaderProgram(fake::platform());
    EXPECT_EQ(log(), HEAD);
}

TEST_F(ShaderLog, AQueryThatReportsNoLengthLeavesAnEmptyText)
{
    fake::infoLogText = "never reported";
    fake::lengthReport = fake::LengthReport::None;
    createShaderProgram(fake::platform());
    EXPECT_EQ(log(), HEAD);
}

TEST_F(ShaderLog, ASecondRunReplacesTheFile)
{
    {
        std::ofstream old("ShaderLog.txt", std::ios::binary);
        old << std::string(10000, 'J') << "\nold log\n";
    }
    fake::infoLogText = "second";
    createShaderProgram(fake::platform());
    EXPECT_EQ(log(), HEAD + "second");
}

TEST_F(ShaderLog, BuildsTheProgramThenReadsItsLogThenItsLinkStatus)
{
    fake::programName = 9;
    createShaderProgram(fake::platform());
    EXPECT_EQ(host.shaderProgram, 9u);
    ASSERT_EQ(fake::calls.size(), 6u);
    EXPECT_EQ(fake::calls[0], "getProcAddress glCreateShaderProgramv");
    EXPECT_EQ(fake::calls[1], "glCreateShaderProgramv 35632 1 " + std::to_string(sceneShaderSourceLength));
    EXPECT_EQ(fake::calls[2], "getProcAddress glGetProgramInfoLog");
    EXPECT_EQ(fake::calls[3], "glGetProgramInfoLog 9 4095");
    // The link status is asked for after the log is written.
    EXPECT_EQ(fake::calls[4], "getProcAddress glGetProgramiv");
    EXPECT_EQ(fake::calls[5], "glGetProgramiv 9 35714");
}

TEST_F(ShaderLog, WithoutALogFileTheProgramIsStillBuilt)
{
    // A directory in the file's place: no user, root included, can open it.
    ASSERT_EQ(mkdir("ShaderLog.txt", 0755), 0);
    fake::programName = 12;
    fake::infoLogText = "unseen";
    createShaderProgram(fake::platform());
    EXPECT_EQ(host.shaderProgram, 12u);
    EXPECT_EQ(fake::calls.size(), 6u);
    struct stat info;
    ASSERT_EQ(stat("ShaderLog.txt", &info), 0);
    EXPECT_TRUE(S_ISDIR(info.st_mode));
}

// Runs createShaderProgram; returns what it ended the start-up with, or
// "returned" when it returned.
std::string outcome()
{
    try {
        createShaderProgram(fake::platform());
    } catch (const ProcessEnd& end) {
        return std::to_string(end.exitCode) + " " + end.what;
    }
    return "returned";
}

TEST_F(ShaderLog, AProgramThatDidNotBuildEndsTheStartUpWithOneLineAfterTheLog)
{
    fake::linkStatus = 0;
    fake::infoLogText = "0:12(5): error: no function with name 'missing'\n0:12(5): error: type mismatch\n";
    EXPECT_EQ(outcome(), "1 the scene shader did not build; see ./ShaderLog.txt");
    // The log is complete before the start-up ends.
    EXPECT_EQ(log(), HEAD + fake::infoLogText);
}

TEST_F(ShaderLog, WithoutTheLogFileTheLineQuotesTheLogsFirstLine)
{
    ASSERT_EQ(mkdir("ShaderLog.txt", 0755), 0);
    fake::linkStatus = 0;
    fake::infoLogText = "0:12(5): error: no function with name 'missing'\n0:12(5): error: type mismatch\n";
    EXPECT_EQ(outcome(), "1 the scene shader did not build: 0:12(5): error: no function with name 'missing'");
    fake::infoLogText.clear();
    EXPECT_EQ(outcome(), "1 the scene shader did not build (the driver gave no log)");
}

TEST_F(ShaderLog, ALinkedProgramWithWarningsStartsAsUsual)
{
    fake::infoLogText = "0:1(1): warning: unused\n";
    EXPECT_EQ(outcome(), "returned");
}

TEST_F(ShaderLog, AChosenSceneTextIsBuiltInsteadOfTheEmbeddedOne)
{
    const std::string scaled = "void main() { gl_FragColor = vec4(1); }";
    host.sceneSourceText = scaled.c_str();
    createShaderProgram(fake::platform());
    host.sceneSourceText = nullptr;
    ASSERT_EQ(fake::calls.size(), 6u);
    EXPECT_EQ(fake::calls[1], "glCreateShaderProgramv 35632 1 " + std::to_string(scaled.size()));
    EXPECT_EQ(log(), HEAD);
}

TEST(ShaderSource, IsEmbeddedUnchanged)
{
    const std::string text = InTempDir::readFile(DEMO_SCENE_FRAG);
    EXPECT_EQ(sceneShaderSourceLength, text.size());
    EXPECT_TRUE(std::string(sceneShaderSource) == text) << "the embedded text differs from " << DEMO_SCENE_FRAG;
}

} // namespace
