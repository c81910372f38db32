#include "video_test_util.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <stdexcept>
#include <sys/stat.h>
#include <sys/wait.h>

namespace videotest {

ScratchFolder::ScratchFolder()
{
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/video-test-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr)
        throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
}

ScratchFolder::~ScratchFolder()
{
    runCommand("rm -rf " + videotest::quoted(path_));
}

std::vector<std::string> ScratchFolder::entries() const
{
    std::vector<std::string> names;
    if (DIR* dir = ::opendir(path_.c_str())) {
        while (dirent* entry = ::readdir(dir)) {
            if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
                names.emplace_back(entry->d_name);
        }
        ::closedir(dir);
    }
    return names;
}

std::string quoted(const std::string& text)
{
    std::string out = "'";
    for (char c : text)
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

std::string runCommand(const std::string& command, int* status)
{
    std::FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr)
        throw std::runtime_error("popen failed: " + command);
    std::string output;
    char buffer[65536];
    std::size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
        output.append(buffer, got);
    int result = ::pclose(pipe);
    if (status != nullptr)
        *status = WIFEXITED(result) ? WEXITSTATUS(result) : -1;
    return output;
}

namespace {

std::map<std::string, std::string> keyValues(const std::string& text)
{
    std::map<std::string, std::string> values;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(start, end - start);
        std::size_t eq = line.find('=');
        if (eq != std::string::npos)
            values[line.substr(0, eq)] = line.substr(eq + 1);
        start = end + 1;
    }
    return values;
}

}  // namespace

std::map<std::string, std::string> probeStream(const std::string& file, const std::string& stream)
{
    return keyValues(runCommand("ffprobe -v error -count_frames -select_streams " + stream +
                                " -show_entries stream -of default=noprint_wrappers=1 " + videotest::quoted(file)));
}

std::map<std::string, std::string> probeFormat(const std::string& file)
{
    return keyValues(runCommand("ffprobe -v error -show_entries format -of default=noprint_wrappers=1 " + videotest::quoted(file)));
}

std::vector<float> decodeAudio(const std::string& file)
{
    std::string bytes = runCommand("ffmpeg -v error -nostdin -i " + videotest::quoted(file) + " -map 0:a:0 -f f32le -ac 2 -");
    std::vector<float> samples(bytes.size() / sizeof(float));
    std::memcpy(samples.data(), bytes.data(), samples.size() * sizeof(float));
    return samples;
}

std::vector<std::uint8_t> decodeVideo(const std::string& file)
{
    std::string bytes = runCommand("ffmpeg -v error -nostdin -i " + videotest::quoted(file) +
                                   " -map 0:v:0 -f rawvideo -pix_fmt rgb24 -");
    return {bytes.begin(), bytes.end()};
}

bool fileExists(const std::string& path)
{
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0;
}

void expectFlacVideo(const std::string& file, int width, int height, int frames, int fps, double seconds)
{
    auto video = probeStream(file, "v:0");
    EXPECT_EQ(video["codec_name"], "h264");
    EXPECT_EQ(video["width"], std::to_string(width));
    EXPECT_EQ(video["height"], std::to_string(height));
    EXPECT_EQ(video["pix_fmt"], "yuv420p");
    EXPECT_EQ(video["nb_read_frames"], std::to_string(frames));
    EXPECT_EQ(video["r_frame_rate"], std::to_string(fps) + "/1");
    EXPECT_NEAR(std::stod(video["duration"]), seconds, 1e-6);
    auto audio = probeStream(file, "a:0");
    EXPECT_EQ(audio["codec_name"], "flac");
    EXPECT_EQ(audio["sample_rate"], "44100");
    EXPECT_EQ(audio["channels"], "2");
    EXPECT_EQ(audio["bits_per_raw_sample"], "24");
    EXPECT_NEAR(std::stod(audio["duration"]), seconds, 1e-6);
}

}  // namespace videotest
