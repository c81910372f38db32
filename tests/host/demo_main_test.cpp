// demoMain against a platform of fakes: the order of the start-up steps and
// of each frame's steps, timeMs as an unsigned difference handed through the
// fog end, the 185,000 ms rule, the Escape rule, and the exit code.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fake_platform.h"
#include "host.h"
#include "temp_dir.h"

namespace {

class DemoMain : public InTempDir {
protected:
    void SetUp() override
    {
        InTempDir::SetUp();
        fake::reset();
    }
    // Runs demoMain to its end and returns the exit code it ended with.
    int run()
    {
        try {
            demoMain(fake::platform());
        } catch (const ProcessEnd& end) {
            return end.exitCode;
        }
        ADD_FAILURE() << "demoMain returned";
        return -1;
    }
    static std::vector<std::string> frame(std::uint32_t clock, std::uint32_t time, bool escape)
    {
        return {"beginFrame",
                "clockMs " + std::to_string(clock),
                "fogi 2916 " + std::to_string(time),
                "rectf -1 -1 1 1",
                "presentFrame",
                "judgeScale",
                "peekMessage",
                escape ? "quitRequested 1" : "quitRequested 0"};
    }
    static void append(std::vector<std::string>& to, const std::vector<std::string>& more)
    {
        to.insert(to.end(), more.begin(), more.end());
    }
};

const std::vector<std::string> startUp = {
    "requestDisplayMode 1920 1080",
    "createWindow",
    "createGlContext",
    "getProcAddress glCreateShaderProgramv",
    "glCreateShaderProgramv 35632 1 *", // the source's length is checked apart
    "getProcAddress glGetProgramInfoLog",
    "glGetProgramInfoLog 3 4095",
    "getProcAddress glGetProgramiv",
    "glGetProgramiv 3 35714",      // the link status
    "hideCursor",
    "startThread",                 // startAudio: the render thread first,
    "startAudioDevice 16480800",   // then the whole SampleBuffer as one block
    "getProcAddress glUseProgram",
    "glUseProgram 3",
    "clockMs 5000",                // the loop start
};

TEST_F(DemoMain, StartUpGoesModeWindowContextShaderCursorSoundProgramThenClock)
{
    fake::escapeAnswers = {true};
    fake::clockReadings = {5000, 5000};
    EXPECT_EQ(run(), 0);
    std::vector<std::string> seen(fake::calls.begin(), fake::calls.begin() + startUp.size());
    seen[4] = seen[4].substr(0, seen[4].rfind(' ')) + " *";
    EXPECT_EQ(seen, startUp);
}

TEST_F(DemoMain, EscapeEndsTheLoopAfterTheFrameIsShownWithExitCodeZero)
{
    fake::clockReadings = {1000, 1000, 1016, 1033};
    fake::escapeAnswers = {false, false, true, false};
    EXPECT_EQ(run(), 0);
    const std::size_t n = fake::calls.size();
    // The loop start is the last start-up call.
    const auto loopStart = std::find(fake::calls.begin(), fake::calls.end(), "clockMs 1000");
    ASSERT_NE(loopStart, fake::calls.end());
    EXPECT_EQ(*(loopStart - 1), "glUseProgram 3");
    std::vector<std::string> expected;
    append(expected, frame(1000, 0, false));
    append(expected, frame(1016, 16, false));
    append(expected, frame(1033, 33, true));
    expected.push_back("endProcess");
    EXPECT_EQ(std::vector<std::string>(loopStart + 1, fake::calls.begin() + static_cast<long>(n)), expected);
}

TEST_F(DemoMain, TheFrameAtOrAfter185000MsIsDrawnAndShownThenTheProcessEnds)
{
    fake::clockReadings = {100, 100, 100 + 184999, 100 + 185000, 100 + 190000};
    EXPECT_EQ(run(), 0);
    const auto loopStart = std::find(fake::calls.begin(), fake::calls.end(), "clockMs 100");
    ASSERT_NE(loopStart, fake::calls.end());
    std::vector<std::string> expected;
    append(expected, frame(100, 0, false));
    append(expected, frame(100 + 184999, 184999, false));
    append(expected, frame(100 + 185000, 185000, false));
    expected.push_back("endProcess");
    EXPECT_EQ(std::vector<std::string>(loopStart + 1, fake::calls.end()), expected);
}

TEST_F(DemoMain, ALateFrameEndsTheLoopToo)
{
    // A slow frame can jump past 185,000 ms; it is still drawn and shown.
    fake::clockReadings = {0, 0, 120000, 200000};
    EXPECT_EQ(run(), 0);
    std::vector<std::string> expected = frame(200000, 200000, false);
    expected.push_back("endProcess");
    ASSERT_GE(fake::calls.size(), expected.size());
    std::vector<std::string> tail(fake::calls.end() - static_cast<std::ptrdiff_t>(expected.size()), fake::calls.end());
    EXPECT_EQ(tail, expected);
}

TEST_F(DemoMain, AWrapOfTheSystemClockDoesNotDisturbTimeMs)
{
    const std::uint32_t start = 0xFFFFFF00u;
    fake::clockReadings = {start, start, start + 0xFFu, start + 0x100u /* 0 */, 0x200u, start + 185000u};
    EXPECT_EQ(run(), 0);
    std::vector<std::string> fogs;
    for (const std::string& call : fake::calls) {
        if (call.rfind("fogi", 0) == 0) {
            fogs.push_back(call);
        }
    }
    EXPECT_EQ(fogs, (std::vector<std::string>{"fogi 2916 0", "fogi 2916 255", "fogi 2916 256", "fogi 2916 768",
                                              "fogi 2916 185000"}));
    EXPECT_EQ(fake::calls.back(), "endProcess");
}

TEST_F(DemoMain, AMissingGlUseProgramEndsStartUpWithExitCodeOne)
{
    fake::missingEntryPoints = {"glUseProgram"};
    EXPECT_EQ(run(), 1);
    EXPECT_EQ(fake::calls.back(), "failStartUp OpenGL entry point glUseProgram");
}

TEST_F(DemoMain, AMissingGlCreateShaderProgramvEndsStartUpWithExitCodeOne)
{
    fake::missingEntryPoints = {"glCreateShaderProgramv"};
    EXPECT_EQ(run(), 1);
    EXPECT_EQ(fake::calls.back(), "failStartUp OpenGL entry point glCreateShaderProgramv");
}

TEST_F(DemoMain, AShaderThatDidNotBuildEndsStartUpWithExitCodeOneBeforeTheSoundStarts)
{
    fake::linkStatus = 0;
    fake::infoLogText = "0:12(5): error: no function with name 'missing'\n";
    fake::clockReadings = {0, 0, 200000};  // a start-up that went on would end at its first frame
    EXPECT_EQ(run(), 1);
    EXPECT_EQ(fake::calls.back(), "failStartUp the scene shader did not build; see ./ShaderLog.txt");
    EXPECT_EQ(std::find(fake::calls.begin(), fake::calls.end(), "startThread"), fake::calls.end());
}

TEST_F(DemoMain, TheProgramThatCreateShaderProgramMadeIsMadeCurrent)
{
    fake::programName = 77;
    fake::escapeAnswers = {true};
    EXPECT_EQ(run(), 0);
    EXPECT_EQ(host.shaderProgram, 77u);
    EXPECT_NE(std::find(fake::calls.begin(), fake::calls.end(), "glUseProgram 77"), fake::calls.end());
}

} // namespace
