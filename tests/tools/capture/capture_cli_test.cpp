// The capture tool from the outside: its command line, its files (and
// outputs that are not plain new files), what it says, and its exit status.

#include "png_read.h"
#include "tool_process.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
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
        return fs::exists(dir) ? tooltest::namesIn(dir) : std::vector<std::string>{};
    }

    fs::path folder_;
};

TEST_F(CaptureTool, HelpAndBadArguments)
{
    const ToolRun help = capture({"--help"});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_NE(help.output.find("--rect"), std::string::npos);
    EXPECT_NE(help.output.find("--time"), std::string::npos);
    for (const char* option : {"--scale NAME", "--density D", "--supersample", "720p (1280x720)"})
        EXPECT_NE(help.output.find(option), std::string::npos) << option;
    for (const char* code : {"130 interrupted", "143", "129"})
        EXPECT_NE(help.output.find(code), std::string::npos) << code;

    // Each refusal is one line, exit code 2, and names what it refuses (an
    // empty text: only the line and the code are checked).
    const std::string out = (folder_ / "frames").string();
    const std::string png = (folder_ / "one.png").string();
    const std::vector<std::pair<std::vector<std::string>, std::string>> bad = {
        {{}, "no --time given"},
        {{"--out", out}, "no --time given"},
        {{"--time", "abc", "--out", out}, "bad time 'abc'"},
        {{"--time", "-1", "--out", out}, "bad time '-1'"},
        {{"--time", "3,", "--out", out}, "bad time ''"},
        {{"--time", "5:1:1", "--out", out}, "bad time range '5:1:1'"},
        {{"--time", "3", "--rect", "1900,0,64,64", "--out", out}, "does not lie within"},
        {{"--time", "3", "--rect", "0,0,64", "--out", out}, "--rect wants X,Y,W,H"},
        {{"--time", "3", "--rect", "0,0,0,10", "--out", out}, "W and H from 1"},
        {{"--time", "3", "--scale", "8", "--rect", "0,0,8,8", "--out", out}, "--scale takes"},
        {{"--time", "3", "--scale", "2", "--rect", "900,0,64,64", "--out", out}, "of --scale 2"},
        {{"--time", "3", "--scale", "720p", "--rect", "1250,0,64,64", "--out", out}, "1280x720 picture of --scale 720p"},
        {{"--time", "3", "--density", "5", "--out", out}, "--density takes 1, 2, 3 or 4"},
        {{"--time", "3", "--supersample", "--out", out}, "--supersample averages the samples of --density"},
        {{"--time", "3", "--density", "2", "--scale", "4", "--out", out}, "do not go together"},
        {{"--time", "3", "--density", "2", "--count-steps", "--out", out}, "does not go with --density"},
        {{"--time", "3", "--density", "2", "--rect", "3800,0,64,64", "--out", out}, "3840x2160 picture of --density 2"},
        {{"--time", "3", "--density", "2", "--supersample", "--rect", "1900,0,64,64", "--out", out},
         "1920x1080 supersampled picture of --density 2"},
        {{"--time", "3,4", "--out", png}, "names one file, but 2 times were given"},
        {{"--time", "3", "--frobnicate", "--out", out}, "unknown option '--frobnicate'"},
        {{"--time", "3", "stray", "--out", out}, "unexpected argument 'stray'"},
        {{"--time"}, "--time needs a value"},
        {{"--quiet=yes", "--time", "3"}, "--quiet takes no value"},
        // Numbers are plain decimal, times within the demo's 185 s (a small
        // --rect, so that a time taken by mistake is drawn quickly).
        {{"--time", "0x10", "--rect", "0,0,8,8", "--out", out}, "'0x10'"},
        {{"--time", "1e1", "--rect", "0,0,8,8", "--out", out}, "'1e1'"},
        {{"--time", " 5", "--rect", "0,0,8,8", "--out", out}, "' 5'"},
        {{"--time", "inf", "--rect", "0,0,8,8", "--out", out}, "'inf'"},
        {{"--time", "185.5", "--rect", "0,0,8,8", "--out", out}, "seconds from 0 to 185"},
        {{"--time", "186", "--rect", "0,0,8,8", "--out", out}, "seconds from 0 to 185"},
        {{"--time", "4294967", "--rect", "0,0,8,8", "--out", out}, "'4294967'"},
        {{"--time", "0:0x10:1", "--rect", "0,0,8,8", "--out", out}, "'0:0x10:1'"},
        {{"--time", "3", "--rect", "0x10,0,8,8", "--out", out}, "'0x10,0,8,8'"},
        {{"--time", "3", "--rect", "+0,0,8,8", "--out", out}, "'+0,0,8,8'"},
        {{"--time", "3", "--rect", "0,0,8,8", "--band", "0x10", "--out", out}, "--band wants"},
        // The value quoted and the limit stated; no leading zeros anywhere.
        {{"--time", "3", "--rect", "0,0,8,8", "--band", "abc", "--out", out}, "from 1 to 4320 (the tallest picture), not 'abc'"},
        {{"--time", "3", "--rect", "0,0,8,8", "--band", "-1", "--out", out}, "from 1 to 4320 (the tallest picture), not '-1'"},
        {{"--time", "3", "--rect", "0,0,8,8", "--band", "99999999", "--out", out}, "from 1 to 4320 (the tallest picture), not '99999999'"},
        {{"--time", "3", "--rect", "0,0,8,8", "--band", "036", "--out", out}, "not '036'"},
        {{"--time", "030", "--rect", "0,0,8,8", "--out", out}, "bad time '030'"},
        {{"--time", "00.5", "--rect", "0,0,8,8", "--out", out}, "bad time '00.5'"},
        {{"--video", (folder_ / "a.mkv").string(), "--size", "17x16"}, "from 16x16 to 7680x4320, not '17x16'"},
        {{"--video", (folder_ / "a.mkv").string(), "--size", "0640x360"}, "not '0640x360'"},
        {{"--video", (folder_ / "a.mkv").string(), "--fps", "05"}, "not '05'"},
        // "-" is standard output, which takes one frame.
        {{"--time", "3,4", "--rect", "0,0,8,8", "--out", "-"}, "--out - is standard output, which takes one frame"},
        // One time to a name that is not *.png.
        {{"--time", "30", "--rect", "0,0,8,8", "--out", (folder_ / "shot.jpg").string()},
         "one frame is written as a PNG file"},
        // Each time once: one file per time, and the same time is the same file.
        {{"--time", "5,5", "--rect", "0,0,8,8", "--out", out}, "--time gives 5.000 s twice"},
        {{"--time", "4:6:1", "--time", "5.0004", "--rect", "0,0,8,8", "--out", out}, "--time gives 5.000 s twice"},
        // Every other option once, in either spelling.
        // (small rectangles and ranges, so that a capture taken by mistake ends soon)
        {{"--time", "3", "--rect", "0,0,8,8", "--out", out, "-o", out + "2"}, "--out is given twice"},
        {{"--time", "3", "--rect", "0,0,8,8", "--rect=0,0,4,4", "--out", out}, "--rect is given twice"},
        {{"--time", "3", "--rect", "0,0,8,8", "-q", "--quiet", "--out", out}, "--quiet is given twice"},
        {{"--video", (folder_ / "a.mp4").string(), "--from", "30", "--to", "30.1", "--scale", "6", "--fps", "4",
          "--fps", "8"},
         "--fps is given twice"},
        // --help stands alone.
        {{"--time", "3", "--help"}, "--help takes no other arguments"},
        {{"-h", "--time", "3"}, "--help takes no other arguments"},
        // What an argument holds is quoted on the one line: control characters
        // escaped, a long one cut.
        {{"--time", "3\n4", "--out", out}, "bad time '3\\n4'"},
        {{"--time", std::string(120000, '7'), "--out", out}, "'" + std::string(80, '7') + "...' (120000 bytes)"},
    };
    for (const auto& [args, said] : bad) {
        std::string line;
        for (const auto& a : args)
            line += a.substr(0, 100) + " ";
        const ToolRun run = capture(args);
        EXPECT_EQ(run.exitCode, 2) << line << "\n" << run.output;
        EXPECT_EQ(run.output.rfind("demo-capture: ", 0), 0u) << line << "\n" << run.output;
        EXPECT_NE(run.output.find(said), std::string::npos) << line << "\n" << run.output;
        EXPECT_EQ(run.output.find('\n'), run.output.size() - 1) << line << "\n" << run.output;
        EXPECT_LT(run.output.size(), 400u) << line;
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
    // Each frame's line says where it went.
    EXPECT_NE(run.output.find("-> " + (frames / "frame-003.250.png").string() + "\n"), std::string::npos)
        << run.output;
    EXPECT_NE(run.output.find("-> " + (frames / "frame-015.000.png").string() + "\n"), std::string::npos)
        << run.output;
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

// Where the picture cannot go is found before any OpenGL work: with no EGL
// at all, the output's fault is still the one reported.
TEST_F(CaptureTool, TheOutputIsCheckedBeforeTheWork)
{
    std::ofstream(folder_ / "file") << "x";
    fs::create_directories(folder_ / "taken.png");
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"--time", "3", "--out", (folder_ / "taken.png").string()}, "is a folder"},
        {{"--time", "3", "--out", (folder_ / "missing" / "x.png").string()}, ""},  // made: no fault
        {{"--time", "3", "--out", (folder_ / "file" / "x.png").string()}, "is not a folder"},
        {{"--time", "3,4", "--out", (folder_ / "file" / "frames").string()}, "is not a folder"},
        {{"--time", "3,4", "--out", (folder_ / "file").string()}, "is not a folder"},
    };
    for (const auto& [args, fault] : cases) {
        const ToolRun run = capture(args, {"__EGL_VENDOR_LIBRARY_FILENAMES=/nonexistent.json"});
        EXPECT_EQ(run.exitCode, 1) << run.output;
        if (fault.empty()) {
            EXPECT_NE(run.output.find("EGL"), std::string::npos) << run.output;
        } else {
            EXPECT_NE(run.output.find(fault), std::string::npos) << run.output;
            EXPECT_NE(run.output.find("'" + args.back()), std::string::npos) << run.output;
            EXPECT_EQ(run.output.find("EGL"), std::string::npos) << run.output;
        }
    }
    EXPECT_EQ(filesIn(folder_), (std::vector<std::string>{"file", "log.txt", "taken.png"}));
}

// A device, a link, a pipe and an existing file as the PNG output.
TEST_F(CaptureTool, OutputsThatAreNotNewFiles)
{
    const std::vector<std::string> small = {"--quiet", "--time", "15", "--rect", "1300,40,8,8"};
    auto to = [&](const fs::path& out) {
        std::vector<std::string> args = small;
        args.push_back("--out");
        args.push_back(out.string());
        return capture(args);
    };
    // A link to an existing file with its own mode: the file is replaced in
    // its own folder and keeps its mode; the link stays.
    fs::create_directories(folder_ / "real");
    std::ofstream(folder_ / "real" / "shot.png") << "an older picture";
    ASSERT_EQ(::chmod((folder_ / "real" / "shot.png").c_str(), 0640), 0);
    fs::create_symlink("real/shot.png", folder_ / "shot.png");
    ToolRun run = to(folder_ / "shot.png");
    ASSERT_EQ(run.exitCode, 0) << run.output;
    EXPECT_TRUE(fs::is_symlink(folder_ / "shot.png"));
    EXPECT_EQ(readPng(folder_ / "real" / "shot.png").width, 8);
    struct stat info {};
    ASSERT_EQ(::stat((folder_ / "real" / "shot.png").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0640u);
    EXPECT_EQ(filesIn(folder_ / "real"), std::vector<std::string>{"shot.png"});

    // A named pipe: written in place (the picture fits in the pipe's buffer).
    const fs::path fifo = folder_ / "pipe.png";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
    const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    run = to(fifo);
    EXPECT_EQ(run.exitCode, 0) << run.output;
    std::string bytes;
    char buffer[4096];
    ssize_t got;
    while ((got = ::read(reader, buffer, sizeof buffer)) > 0)
        bytes.append(buffer, static_cast<std::size_t>(got));
    ::close(reader);
    EXPECT_EQ(bytes.compare(0, 8, "\x89PNG\r\n\x1a\n"), 0) << bytes.size() << " bytes";
    EXPECT_TRUE(fs::is_fifo(fifo));

    // "-": standard output (here the log file), one frame; no file or folder named "-".
    run = to("-");
    EXPECT_EQ(run.exitCode, 0) << run.output;
    EXPECT_EQ(run.output.compare(0, 8, "\x89PNG\r\n\x1a\n"), 0) << run.output.size() << " bytes";
    EXPECT_FALSE(fs::exists(fs::path("-")));

    // Devices and pipes by any name: the system's /dev/null, and a pipe handed
    // over as /dev/fd/N (as the shell's >(command) does) whose reader has
    // gone, which is a failed write, said, not a silent end by SIGPIPE.
    run = to("/dev/null");
    EXPECT_EQ(run.exitCode, 0) << run.output;
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    ::close(fds[0]);
    const std::string gone = "/dev/fd/" + std::to_string(fds[1]);
    const std::string errors = (folder_ / "log.txt").string();
    std::vector<std::string> args = small;
    args.insert(args.end(), {"--out", gone});
    const tooltest::ToolEnd end = tooltest::runTool(CAPTURE_PATH, args, errors, -1, {fds[1]});
    ::close(fds[1]);
    EXPECT_TRUE(end.exited && end.code == 1) << "signal " << end.signal << ": " << end.errors;
    EXPECT_NE(end.errors.find("cannot write '" + gone + "': Broken pipe"), std::string::npos) << end.errors;

    // Device nodes: written in place, a full one reported.
    const fs::path null = folder_ / "null.png";
    const fs::path full = folder_ / "full.png";
    if (::mknod(null.c_str(), S_IFCHR | 0666, makedev(1, 3)) != 0 ||
        ::mknod(full.c_str(), S_IFCHR | 0666, makedev(1, 7)) != 0)
        GTEST_SKIP() << "cannot make device nodes here (" << std::strerror(errno) << "); links and pipes passed";
    run = to(null);
    EXPECT_EQ(run.exitCode, 0) << run.output;
    run = to(full);
    EXPECT_EQ(run.exitCode, 1) << run.output;
    EXPECT_NE(run.output.find("cannot write '" + full.string() + "': No space left on device"), std::string::npos)
        << run.output;
    for (const fs::path& node : {null, full}) {
        ASSERT_EQ(::stat(node.c_str(), &info), 0);
        EXPECT_TRUE(S_ISCHR(info.st_mode)) << node;
    }
    EXPECT_EQ(filesIn(folder_),
              (std::vector<std::string>{"full.png", "log.txt", "null.png", "pipe.png", "real", "shot.png"}));
}

// An output that waits for its reader (a named pipe that nobody opens) still
// gives way to a signal at once, with its exit code, leaving nothing.
TEST_F(CaptureTool, AFifoWithoutAReaderGivesWayToSigterm)
{
    const fs::path fifo = folder_ / "waiting.png";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
    const fs::path log = folder_ / "log.txt";
    const pid_t pid = start({"--time", "15", "--rect", "0,0,8,8", "--out", fifo.string()}, log);
    // Rendered, then blocked in the pipe's open, which the kernel names.
    const std::string wchan = "/proc/" + std::to_string(pid) + "/wchan";
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    std::string waitingIn;
    while (waitingIn != "wait_for_partner" && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        waitingIn = tooltest::readText(wchan);
    }
    if (waitingIn != "wait_for_partner") {
        kill(pid, SIGKILL);
        finish(pid, log);
        FAIL() << "the capture never waited in the pipe's open (" << wchan << ": '" << waitingIn << "')";
    }
    const auto sent = std::chrono::steady_clock::now();
    kill(pid, SIGTERM);
    // Given 10 s before it is killed, so that a capture that does not give
    // way fails the test instead of holding it up.
    int status = 0;
    pid_t ended = 0;
    while ((ended = ::waitpid(pid, &status, WNOHANG)) == 0 &&
           std::chrono::steady_clock::now() - sent < std::chrono::seconds(10))
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - sent).count();
    if (ended == 0) {
        kill(pid, SIGKILL);
        ::waitpid(pid, &status, 0);
    }
    const std::string output = tooltest::readText(log.string());
    EXPECT_LT(seconds, 2.0);
    ASSERT_TRUE(WIFEXITED(status)) << output;
    EXPECT_EQ(WEXITSTATUS(status), 143) << output;
    EXPECT_NE(output.find("demo-capture: interrupted"), std::string::npos) << output;
    EXPECT_TRUE(fs::is_fifo(fifo));
    EXPECT_EQ(filesIn(folder_), (std::vector<std::string>{"log.txt", "waiting.png"}));
}

// A full disk under a folder that the capture makes: the system's words, and
// no empty folder left behind.
TEST_F(CaptureTool, AFullDiskIsSaidAndTheNewFolderRemoved)
{
    const fs::path small = folder_ / "small";
    fs::create_directories(small);
    tooltest::SmallDisk disk(small.string(), 16);
    if (!disk.mounted())
        GTEST_SKIP() << disk.why();
    {
        // Fill it up first.
        std::ofstream filler(small / "filler", std::ios::binary);
        const std::string block(4096, 'x');
        for (int i = 0; i < 4; ++i)
            filler << block;
    }
    const ToolRun run = capture({"--quiet", "--time", "15", "--rect", "0,0,256,256", "--out",
                                 (small / "frames").string() + "/"});
    EXPECT_EQ(run.exitCode, 1) << run.output;
    EXPECT_NE(run.output.find("No space left on device"), std::string::npos) << run.output;
    EXPECT_EQ(run.output.find("Write Error"), std::string::npos) << run.output;
    EXPECT_EQ(filesIn(small), std::vector<std::string>{"filler"});
}

// SIGTERM and SIGHUP stop a capture as Ctrl-C does, with their own exit
// codes; a folder made for the frames goes when no frame reached it.
TEST_F(CaptureTool, SignalsBeforeTheFirstFrameLeaveNoFolder)
{
    for (const int signal : {SIGTERM, SIGHUP}) {
        const fs::path frames = folder_ / "frames";
        const fs::path log = folder_ / "log.txt";
        const pid_t pid = start({"--time", "15,16", "--band", "8", "--out", frames.string()}, log);
        // The folder is made just before the first frame is drawn, which takes
        // seconds with a software renderer.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (!fs::exists(frames) && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        EXPECT_TRUE(fs::exists(frames));
        kill(pid, signal);
        const ToolRun run = finish(pid, log);
        EXPECT_EQ(run.exitCode, 128 + signal) << run.output;
        EXPECT_NE(run.output.find("demo-capture: interrupted"), std::string::npos) << run.output;
        if (run.output.find("frame 1/2") == std::string::npos) {  // a GPU may have finished a frame
            EXPECT_FALSE(fs::exists(frames)) << run.output;
        }
        fs::remove_all(frames);
    }
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
