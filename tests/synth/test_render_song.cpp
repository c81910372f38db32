// The render-song tool: its WAV file (read here chunk by chunk, and by sox),
// its arguments, and how it writes its output: files under a temporary name,
// devices, pipes and terminals in place, links followed, permissions kept,
// standard output, checks before the render, a full disk, interruptions.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "synth.h"
#include "tool_process.h"

namespace {

namespace fs = std::filesystem;
using tooltest::namesIn;
using tooltest::ToolEnd;

const std::string TOOL = RENDER_SONG_PATH;

struct RenderSongTool : ::testing::Test {
    fs::path dir;
    std::string errors;  // where the tool's stderr goes
    void SetUp() override {
        dir = fs::temp_directory_path() / ("render-song-test-" + std::to_string(::getpid()) + "-" +
                                           ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir);
        fs::create_directories(dir / "out");
        errors = (dir / "errors.txt").string();
    }
    void TearDown() override { fs::remove_all(dir); }

    ToolEnd run(const std::vector<std::string>& args, int stdoutFd = -1, const std::vector<int>& inherit = {}) {
        return tooltest::runTool(TOOL, args, errors, stdoutFd, inherit);
    }
};

std::vector<unsigned char> readBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::uint32_t u32(const std::vector<unsigned char>& b, std::size_t at) {
    return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (static_cast<std::uint32_t>(b[at + 3]) << 24);
}
std::uint16_t u16(const std::vector<unsigned char>& b, std::size_t at) {
    return static_cast<std::uint16_t>(b[at] | (b[at + 1] << 8));
}

std::vector<StereoFrame> songFrames(std::uint32_t frames) {
    auto state = makeSynthState();
    std::vector<StereoFrame> expected(frames);
    EXPECT_EQ(renderSongFrames(*state, expected.data(), frames), frames);
    return expected;
}

// The bytes of a WAV of the song's first `frames` frames, as the tool writes it.
std::vector<unsigned char> expectedWav(std::uint32_t frames, const fs::path& scratch) {
    const ToolEnd end = tooltest::runTool(TOOL, {"--frames", std::to_string(frames), "--out", scratch.string()},
                                          "/dev/null");
    EXPECT_TRUE(end.exited && end.code == 0);
    std::vector<unsigned char> bytes = readBytes(scratch);
    fs::remove(scratch);
    return bytes;
}

std::string shell(const std::string& command, int* status = nullptr) {
    std::FILE* pipe = ::popen(command.c_str(), "r");
    std::string output;
    char buffer[4096];
    std::size_t got;
    while (pipe && (got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, got);
    const int result = pipe ? ::pclose(pipe) : -1;
    if (status) *status = WIFEXITED(result) ? WEXITSTATUS(result) : -1;
    return output;
}

TEST_F(RenderSongTool, WritesAFloatWavWithTheChunksOfANonPcmFormat) {
    const std::uint32_t frames = 5000;
    const fs::path out = dir / "out" / "song.wav";
    const ToolEnd end = run({"--frames", std::to_string(frames), "--out", out.string()});
    ASSERT_TRUE(end.exited && end.code == 0) << end.errors;
    const std::vector<unsigned char> bytes = readBytes(out);
    ASSERT_GE(bytes.size(), 12u);
    EXPECT_EQ(std::memcmp(bytes.data(), "RIFF", 4), 0);
    EXPECT_EQ(u32(bytes, 4), bytes.size() - 8);
    EXPECT_EQ(std::memcmp(bytes.data() + 8, "WAVE", 4), 0);
    // Walk the chunks as a reader does, without assuming their places.
    std::size_t fmt = 0, fact = 0, data = 0, at = 12;
    std::vector<std::string> order;
    while (at + 8 <= bytes.size()) {
        const std::string id(bytes.begin() + at, bytes.begin() + at + 4);
        const std::uint32_t size = u32(bytes, at + 4);
        order.push_back(id);
        if (id == "fmt ") fmt = at;
        if (id == "fact") fact = at;
        if (id == "data") data = at;
        at += 8 + size + (size & 1);
    }
    EXPECT_EQ(at, bytes.size()) << "the chunks do not end at the end of the file";
    EXPECT_EQ(order, (std::vector<std::string>{"fmt ", "fact", "data"}));
    ASSERT_TRUE(fmt && fact && data);
    // A format other than integer PCM: 18 bytes, the extension size 0.
    EXPECT_EQ(u32(bytes, fmt + 4), 18u);
    EXPECT_EQ(u16(bytes, fmt + 8), 3u);  // IEEE float
    EXPECT_EQ(u16(bytes, fmt + 10), 2u);
    EXPECT_EQ(u32(bytes, fmt + 12), 44100u);
    EXPECT_EQ(u32(bytes, fmt + 16), 44100u * 8u);
    EXPECT_EQ(u16(bytes, fmt + 20), 8u);
    EXPECT_EQ(u16(bytes, fmt + 22), 32u);
    EXPECT_EQ(u16(bytes, fmt + 24), 0u);  // cbSize
    // The fact chunk holds the number of frames.
    EXPECT_EQ(u32(bytes, fact + 4), 4u);
    EXPECT_EQ(u32(bytes, fact + 8), frames);
    // The data are the synthesizer's frames, byte for byte.
    ASSERT_EQ(u32(bytes, data + 4), frames * 8u);
    const std::vector<StereoFrame> expected = songFrames(frames);
    EXPECT_EQ(std::memcmp(bytes.data() + data + 8, expected.data(), frames * 8u), 0);
    // Nothing else is left in the folder (the temporary file was renamed).
    EXPECT_EQ(namesIn(dir / "out"), std::vector<std::string>{"song.wav"});
}

TEST_F(RenderSongTool, SoxReadsTheWavWithoutAWarning) {
    const std::uint32_t frames = 30000;
    const std::string out = (dir / "out" / "song.wav").string();
    ASSERT_EQ(run({"--frames", std::to_string(frames), "--out", out}).code, 0) << tooltest::readText(errors);
    int status = -1;
    shell("command -v soxi", &status);
    ASSERT_EQ(status, 0) << "soxi (Debian package sox) is needed; scripts/deps.sh test installs it";
    // soxi writes its warnings to stderr: nothing may come there.
    const std::string said = shell("soxi '" + out + "' 2>&1 >/dev/null");
    EXPECT_EQ(said, "");
    EXPECT_EQ(shell("soxi -s '" + out + "'"), std::to_string(frames) + "\n");
    EXPECT_EQ(shell("soxi -r '" + out + "'"), "44100\n");
    EXPECT_EQ(shell("soxi -c '" + out + "'"), "2\n");
    EXPECT_EQ(shell("soxi -e '" + out + "'"), "Floating Point PCM\n");
    // sox reads the samples back (through its 32-bit integer form, which
    // holds the song's samples to about 2^-25).
    const std::string raw = shell("sox '" + out + "' -t f32 - 2>&1");
    ASSERT_EQ(raw.size(), frames * 8u);
    const std::vector<StereoFrame> expected = songFrames(frames);
    double worst = 0.0;
    for (std::uint32_t i = 0; i < frames; ++i) {
        float left, right;
        std::memcpy(&left, raw.data() + 8 * i, 4);
        std::memcpy(&right, raw.data() + 8 * i + 4, 4);
        worst = std::max({worst, std::abs(double(left) - expected[i].left), std::abs(double(right) - expected[i].right)});
    }
    EXPECT_LE(worst, std::ldexp(1.0, -24));
}

// Each refusal is one line, exit code 2, names what it refuses, and leaves
// no file; --help alone is the usage.
TEST_F(RenderSongTool, RejectsBadArgumentsAndLeavesNoFile) {
    const std::string out = (dir / "out" / "x.wav").string();
    const std::string other = (dir / "out" / "y.wav").string();
    const std::vector<std::pair<std::vector<std::string>, std::string>> bad = {
        {{}, "--out FILE is required"},
        {{"--frames", "10"}, "--out FILE is required"},
        {{"--out"}, "--out needs a file name"},
        {{"--out="}, "--out needs a file name"},
        {{"--out", out, "--frames"}, "--frames needs a number"},
        {{"--out", out, "--frames", "0"}, "from 1 to 8240400, not '0'"},
        {{"--out", out, "--frames", "-5"}, "not '-5'"},
        {{"--out", out, "--frames", "12x"}, "not '12x'"},
        {{"--out", out, "--frames", "0x10"}, "not '0x10'"},
        {{"--out", out, "--frames", "8240401"}, "not '8240401'"},  // beyond the song
        {{"--out", out, "--frames", "010"}, "not '010'"},  // no leading zeros, as in every tool
        {{"--out", out, "--frames=1\n2"}, "not '1\\n2'"},
        {{"--out", out, "--bogus"}, "unknown option '--bogus'"},
        {{"--out", out, "stray"}, "unexpected argument 'stray'"},
        {{"--out", out, "--quiet=" + std::string(100000, 'q')}, "'--quiet=" + std::string(72, 'q') + "...' (100008 bytes)"},
        // Each option once: the second --out is not silently the one written.
        {{"--out", out, "--out", other}, "--out is given twice"},
        {{"--out", out, "--frames", "10", "--frames=20"}, "--frames is given twice"},
        // --help stands alone.
        {{"--out", out, "--help"}, "--help takes no other arguments"},
        {{"-h", "--frames", "10"}, "--help takes no other arguments"},
        {{"--help=1"}, "--help takes no value"},
    };
    for (const auto& [args, said] : bad) {
        const ToolEnd end = run(args);
        std::string line;
        for (const auto& a : args) line += a.substr(0, 100) + " ";
        EXPECT_TRUE(end.exited && end.code == 2) << line << ": " << end.errors;
        EXPECT_EQ(end.errors.rfind("demo-render-song: ", 0), 0u) << line << ": " << end.errors;
        EXPECT_NE(end.errors.find(said), std::string::npos) << line << ": " << end.errors;
        EXPECT_EQ(end.errors.find('\n'), end.errors.size() - 1) << line << ": " << end.errors;
    }
    EXPECT_TRUE(namesIn(dir / "out").empty());
    const ToolEnd help = run({"--help"});
    EXPECT_EQ(help.code, 0);
    EXPECT_EQ(help.errors, "");
}

// Outputs that cannot be written are refused before the song is rendered
// (the whole song takes several seconds), with the path as it was given.
TEST_F(RenderSongTool, TheOutputIsCheckedBeforeTheRender) {
    std::ofstream(dir / "file") << "x";
    const std::string out = (dir / "out").string();
    const std::vector<std::pair<std::string, std::string>> cases = {
        {out, "is a folder"},
        {out + "/", "is a folder"},
        {out + "/new/", "names a folder"},
        {out + "/missing/x.wav", "there is no folder"},
        {(dir / "file" / "x.wav").string(), "is not a folder"},
    };
    for (const auto& [path, reason] : cases) {
        const auto start = std::chrono::steady_clock::now();
        const ToolEnd end = run({"--out", path});
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        EXPECT_TRUE(end.exited && end.code == 1) << path << ": " << end.errors;
        EXPECT_NE(end.errors.find("'" + path + "'"), std::string::npos) << end.errors;
        EXPECT_NE(end.errors.find(reason), std::string::npos) << end.errors;
        EXPECT_LT(seconds, 3.0) << path << ": refused only after the render";
    }
    EXPECT_TRUE(namesIn(dir / "out").empty());
    EXPECT_EQ(namesIn(dir), (std::vector<std::string>{"errors.txt", "file", "out"}));
}

TEST_F(RenderSongTool, ALinkIsFollowedAndAnExistingFileKeepsItsPermissions) {
    const std::uint32_t frames = 300;
    const std::vector<unsigned char> wav = expectedWav(frames, dir / "expected.wav");
    // out/song.wav -> ../real/song.wav, an existing file with its own mode.
    fs::create_directories(dir / "real");
    const fs::path real = dir / "real" / "song.wav";
    std::ofstream(real) << "an older render";
    ASSERT_EQ(::chmod(real.c_str(), 0640), 0);
    fs::create_symlink("../real/song.wav", dir / "out" / "song.wav");
    ToolEnd end = run({"--frames", std::to_string(frames), "--out", (dir / "out" / "song.wav").string()});
    ASSERT_EQ(end.code, 0) << end.errors;
    EXPECT_TRUE(fs::is_symlink(dir / "out" / "song.wav"));
    EXPECT_EQ(fs::read_symlink(dir / "out" / "song.wav"), "../real/song.wav");
    EXPECT_EQ(readBytes(real), wav);
    struct stat info {};
    ASSERT_EQ(::stat(real.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0640u);
    EXPECT_EQ(namesIn(dir / "out"), std::vector<std::string>{"song.wav"});
    EXPECT_EQ(namesIn(dir / "real"), std::vector<std::string>{"song.wav"});

    // A dangling link: its target is created.
    fs::create_symlink("../real/new.wav", dir / "out" / "new.wav");
    end = run({"--frames", std::to_string(frames), "--out", (dir / "out" / "new.wav").string()});
    ASSERT_EQ(end.code, 0) << end.errors;
    EXPECT_TRUE(fs::is_symlink(dir / "out" / "new.wav"));
    EXPECT_EQ(readBytes(dir / "real" / "new.wav"), wav);
}

TEST_F(RenderSongTool, DevicesPipesAndTerminalsAreWrittenInPlace) {
    const std::uint32_t frames = 300;
    const std::vector<unsigned char> wav = expectedWav(frames, dir / "expected.wav");
    // A named pipe: its reader gets the whole WAV, and it stays a pipe. The
    // reader is there before the tool starts, and the WAV fits in the pipe's
    // buffer, so it is read once the tool has ended (and nothing waits for
    // ever when the tool does not write the pipe).
    const fs::path fifo = dir / "out" / "pipe.wav";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
    const int fifoReader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(fifoReader, 0);
    ToolEnd end = run({"--frames", std::to_string(frames), "--out", fifo.string()});
    EXPECT_EQ(end.code, 0) << end.errors;
    std::vector<unsigned char> read;
    unsigned char buffer[4096];
    ssize_t got;
    while ((got = ::read(fifoReader, buffer, sizeof buffer)) > 0) read.insert(read.end(), buffer, buffer + got);
    ::close(fifoReader);
    EXPECT_EQ(read, wav);
    EXPECT_TRUE(fs::is_fifo(fifo));

    // A pipe handed over as /dev/fd/N, as the shell's >(command) does.
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    read.clear();
    std::thread pipeReader([&] {
        unsigned char chunk[4096];
        ssize_t count;
        while ((count = ::read(fds[0], chunk, sizeof chunk)) > 0) read.insert(read.end(), chunk, chunk + count);
    });
    const pid_t pid = tooltest::startTool(TOOL, {"--frames", std::to_string(frames), "--out",
                                                 "/dev/fd/" + std::to_string(fds[1])},
                                          errors, -1, {fds[1]});
    ::close(fds[1]);
    end = tooltest::waitTool(pid, errors);
    pipeReader.join();
    ::close(fds[0]);
    EXPECT_EQ(end.code, 0) << end.errors;
    EXPECT_EQ(read, wav);

    // A pipe whose reader has gone: a failure, said, not a silent death by SIGPIPE.
    ASSERT_EQ(::pipe(fds), 0);
    ::close(fds[0]);
    const std::string gone = "/dev/fd/" + std::to_string(fds[1]);
    end = run({"--frames", std::to_string(frames), "--out", gone}, -1, {fds[1]});
    ::close(fds[1]);
    EXPECT_TRUE(end.exited && end.code == 1) << "signal " << end.signal << ": " << end.errors;
    EXPECT_NE(end.errors.find("cannot write '" + gone + "': Broken pipe"), std::string::npos) << end.errors;

    // A terminal (a pseudo-terminal here): written, not replaced.
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    ASSERT_EQ(::grantpt(master), 0);
    ASSERT_EQ(::unlockpt(master), 0);
    const std::string terminal = ::ptsname(master);
    end = run({"--frames", "10", "--out", terminal});  // 138 bytes: within the terminal's buffer
    EXPECT_EQ(end.code, 0) << end.errors;
    struct stat info {};
    ASSERT_EQ(::stat(terminal.c_str(), &info), 0);
    EXPECT_TRUE(S_ISCHR(info.st_mode));
    std::size_t received = 0;
    pollfd waiting{master, POLLIN, 0};
    while (received < 138 && ::poll(&waiting, 1, 1000) > 0 && (waiting.revents & POLLIN)) {
        const ssize_t count = ::read(master, buffer, sizeof buffer);
        if (count <= 0) break;
        received += static_cast<std::size_t>(count);
    }
    ::close(master);
    EXPECT_GE(received, 138u);  // the line discipline may add carriage returns

    // Device nodes (made here, as root can): written, never replaced; a full
    // one is a reported failure.
    const fs::path null = dir / "out" / "null.wav";
    const fs::path full = dir / "out" / "full.wav";
    if (::mknod(null.c_str(), S_IFCHR | 0666, makedev(1, 3)) != 0 ||
        ::mknod(full.c_str(), S_IFCHR | 0666, makedev(1, 7)) != 0) {
        GTEST_SKIP() << "cannot make device nodes here (" << std::strerror(errno) << "); pipes and terminals passed";
    }
    end = run({"--frames", std::to_string(frames), "--out", null.string()});
    EXPECT_EQ(end.code, 0) << end.errors;
    end = run({"--frames", std::to_string(frames), "--out", full.string()});
    EXPECT_EQ(end.code, 1);
    EXPECT_NE(end.errors.find("cannot write '" + full.string() + "': No space left on device"), std::string::npos)
        << end.errors;
    for (const fs::path& node : {null, full}) {
        ASSERT_EQ(::stat(node.c_str(), &info), 0);
        EXPECT_TRUE(S_ISCHR(info.st_mode)) << node;
    }
    EXPECT_EQ(namesIn(dir / "out"), (std::vector<std::string>{"full.wav", "null.wav", "pipe.wav"}));
}

TEST_F(RenderSongTool, DashIsStandardOutput) {
    const std::uint32_t frames = 300;
    const std::vector<unsigned char> wav = expectedWav(frames, dir / "expected.wav");
    const fs::path captured = dir / "stdout.bin";
    const int fd = ::open(captured.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    const ToolEnd end = run({"--frames", std::to_string(frames), "--out", "-"}, fd);
    ::close(fd);
    EXPECT_EQ(end.code, 0) << end.errors;
    EXPECT_EQ(readBytes(captured), wav);
    EXPECT_FALSE(fs::exists("-"));
}

// Ctrl-C, SIGTERM and SIGHUP while the song renders: the temporary file is
// removed and the exit code says which signal it was.
TEST_F(RenderSongTool, AnInterruptionEndsWithItsCodeAndLeavesNothing) {
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
        const pid_t pid = tooltest::startTool(TOOL, {"--out", (dir / "out" / "song.wav").string()}, errors);
        // Well inside the whole song's render.
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        ASSERT_EQ(::kill(pid, signal), 0);
        const ToolEnd end = tooltest::waitTool(pid, errors);
        EXPECT_TRUE(end.exited) << "ended by signal " << end.signal;
        EXPECT_EQ(end.code, 128 + signal);
        EXPECT_NE(end.errors.find("demo-render-song: interrupted"), std::string::npos) << end.errors;
        EXPECT_TRUE(namesIn(dir / "out").empty()) << "signal " << signal << " left " << namesIn(dir / "out")[0];
    }
}

TEST_F(RenderSongTool, AFullDiskIsReportedAndLeavesNothing) {
    const fs::path small = dir / "out";
    tooltest::SmallDisk disk(small.string(), 64);
    if (!disk.mounted()) GTEST_SKIP() << disk.why();
    // 20,000 frames are 160,000 bytes: more than the 64 KiB there are.
    const std::string out = (small / "song.wav").string();
    const ToolEnd end = run({"--frames", "20000", "--out", out});
    EXPECT_EQ(end.code, 1);
    EXPECT_NE(end.errors.find("cannot write '" + out + "': No space left on device"), std::string::npos)
        << end.errors;
    EXPECT_TRUE(namesIn(small).empty());
}

}  // namespace
