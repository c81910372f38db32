// The capture tool from the outside: its command line, its files and its
// exit status.

#include "png_read.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;

namespace {

struct ToolRun {
    int exitCode = -1;
    std::string output;  // stdout and stderr together
};

// Starts the tool with `args`; `env` entries NAME=VALUE are added.
pid_t start(const std::vector<std::string>& args, const fs::path& outputFile,
            const std::vector<std::string>& env = {})
{
    const pid_t pid = fork();
    if (pid == 0) {
        for (const std::string& entry : env)
            putenv(const_cast<char*>(entry.c_str()));
        const std::string path = outputFile.string();
        if (!freopen(path.c_str(), "w", stdout) || dup2(fileno(stdout), STDERR_FILENO) < 0)
            _exit(127);
        std::vector<char*> argv;
        std::string program = CAPTURE_PATH;
        argv.push_back(program.data());
        std::vector<std::string> copies = args;
        for (std::string& a : copies)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    return pid;
}

ToolRun finish(pid_t pid, const fs::path& outputFile)
{
    int status = 0;
    waitpid(pid, &status, 0);
    ToolRun run;
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    std::ifstream in(outputFile);
    std::stringstream text;
    text << in.rdbuf();
    run.output = text.str();
    return run;
}

class CaptureTool : public ::testing::Test {
protected:
    void SetUp() override
    {
        folder_ = fs::temp_directory_path() /
                  ("capture-test-" + std::to_string(getpid()) + "-" +
                   ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(folder_);
        fs::create_directories(folder_);
    }
    void TearDown() override { fs::remove_all(folder_); }

    ToolRun capture(const std::vector<std::string>& args, const std::vector<std::string>& env = {})
    {
        const fs::path log = folder_ / "log.txt";
        return finish(start(args, log, env), log);
    }

    // Every file under `dir`, by name.
    static std::vector<std::string> filesIn(const fs::path& dir)
    {
        std::vector<std::string> names;
        if (fs::exists(dir))
            for (const auto& entry : fs::directory_iterator(dir))
                names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    fs::path folder_;
};

TEST_F(CaptureTool, HelpAndBadArguments)
{
    const ToolRun help = capture({"--help"});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_NE(help.output.find("--rect"), std::string::npos);
    EXPECT_NE(help.output.find("--time"), std::string::npos);

    const std::string out = (folder_ / "frames").string();
    const std::vector<std::vector<std::string>> bad = {
        {},
        {"--out", out},
        {"--time", "abc", "--out", out},
        {"--time", "-1", "--out", out},
        {"--time", "3,", "--out", out},
        {"--time", "5:1:1", "--out", out},
        {"--time", "3", "--rect", "1900,0,64,64", "--out", out},
        {"--time", "3", "--rect", "0,0,64", "--out", out},
        {"--time", "3", "--rect", "0,0,0,10", "--out", out},
        {"--time", "3,4", "--out", (folder_ / "one.png").string()},
        {"--time", "3", "--frobnicate", "--out", out},
        {"--time"},
    };
    for (const auto& args : bad) {
        std::string line;
        for (const auto& a : args)
            line += a + " ";
        const ToolRun run = capture(args);
        EXPECT_EQ(run.exitCode, 2) << line << "\n" << run.output;
        EXPECT_NE(run.output.find("capture: "), std::string::npos) << line;
    }
    EXPECT_EQ(filesIn(folder_), std::vector<std::string>{"log.txt"});
}

TEST_F(CaptureTool, NoEglDisplayIsAnErrorWithoutFiles)
{
    // No vendor library: no EGL display at all.
    const ToolRun run = capture({"--time", "3", "--rect", "0,0,8,8", "--out", (folder_ / "f").string()},
                            {"__EGL_VENDOR_LIBRARY_FILENAMES=/nonexistent.json"});
    EXPECT_EQ(run.exitCode, 1) << run.output;
    EXPECT_NE(run.output.find("EGL"), std::string::npos) << run.output;
    EXPECT_FALSE(fs::exists(folder_ / "f"));
}

TEST_F(CaptureTool, FramesInAFolderAndPartsOfTheFrame)
{
    const fs::path frames = folder_ / "frames";
    // Two overlapping rectangles, top-left origin, at two times.
    ToolRun run = capture({"--time", "15,3.25", "--rect", "1300,40,48,32", "--out", frames.string()});
    ASSERT_EQ(run.exitCode, 0) << run.output;
    EXPECT_EQ(filesIn(frames), (std::vector<std::string>{"frame-003.250.png", "frame-015.000.png"}));
    EXPECT_NE(run.output.find("frame 2/2 at 3.250 s"), std::string::npos) << run.output;
    const RgbImage a = readPng(frames / "frame-015.000.png");
    ASSERT_EQ(a.width, 48);
    ASSERT_EQ(a.height, 32);

    const fs::path single = folder_ / "deeper" / "b.png";
    run = capture({"--time", "15", "--rect", "1316,56,48,32", "--out", single.string()});
    ASSERT_EQ(run.exitCode, 0) << run.output;
    EXPECT_EQ(filesIn(folder_ / "deeper"), std::vector<std::string>{"b.png"});
    const RgbImage b = readPng(single);
    ASSERT_EQ(b.width, 48);
    // The shader sees full-frame coordinates: the overlap is the same.
    int differing = 0;
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 32; ++x)
            for (int c = 0; c < 3; ++c)
                differing += a.at(x + 16, y + 16)[c] != b.at(x, y)[c];
    EXPECT_EQ(differing, 0);

    // The top of the opening shot is sky, the bottom floor: top-left origin.
    run = capture({"--time", "15", "--rect", "1300,1000,48,32", "--out", (folder_ / "low.png").string()});
    ASSERT_EQ(run.exitCode, 0) << run.output;
    const RgbImage low = readPng(folder_ / "low.png");
    ASSERT_EQ(low.height, 32);
    EXPECT_GT(a.at(10, 10)[2], a.at(10, 10)[0]);
    EXPECT_GT(low.at(10, 10)[0], low.at(10, 10)[2]);
}

TEST_F(CaptureTool, CountsMarchSteps)
{
    const ToolRun run = capture({"--time", "15", "--rect", "600,300,32,32", "--count-steps", "--out",
                             (folder_ / "steps.png").string()});
    ASSERT_EQ(run.exitCode, 0) << run.output;
    const std::string key = "mean march steps per pixel ";
    const auto at = run.output.find(key);
    ASSERT_NE(at, std::string::npos) << run.output;
    const double steps = std::atof(run.output.c_str() + at + key.size());
    // At least the view march; at most two views and two shadow marches.
    EXPECT_GE(steps, 2.0);
    EXPECT_LE(steps, 2 * (300 + 70));
    EXPECT_EQ(readPng(folder_ / "steps.png").width, 32);
}

TEST_F(CaptureTool, InterruptionLeavesNoFile)
{
    const fs::path frames = folder_ / "frames";
    const fs::path log = folder_ / "log.txt";
    // A full frame takes many seconds with a software renderer (a GPU gets
    // through several of the frames): interrupt after a second and a half.
    const pid_t pid = start({"--time", "15:185:0.5", "--band", "8", "--out", frames.string()}, log);
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    kill(pid, SIGINT);
    const ToolRun run = finish(pid, log);
    EXPECT_EQ(run.exitCode, 130) << run.output;
    // Whatever was written is complete; nothing half-written remains.
    for (const std::string& name : filesIn(frames)) {
        EXPECT_EQ(name.find(".part"), std::string::npos) << name;
        EXPECT_EQ(readPng(frames / name).height, 1080) << name;
    }
}

}  // namespace
