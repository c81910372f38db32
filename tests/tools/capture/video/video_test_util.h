#pragma once

// Helpers of the video tests: a scratch folder, running a command for its
// output, and asking ffprobe and ffmpeg about a finished file (the streams a
// FLAC capture must have, checked in one place).

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace videotest {

// A fresh folder under the system's temporary folder, removed with its
// contents when the object goes.
class ScratchFolder {
public:
    ScratchFolder();
    ~ScratchFolder();
    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }
    // The names in the folder, hidden ones included.
    std::vector<std::string> entries() const;

private:
    std::string path_;
};

// Runs a shell command; returns its standard output, and its exit status in
// `status`.
std::string runCommand(const std::string& command, int* status = nullptr);
std::string quoted(const std::string& text);

// ffprobe's key=value lines for one stream ("v:0", "a:0") or the format.
std::map<std::string, std::string> probeStream(const std::string& file, const std::string& stream);
std::map<std::string, std::string> probeFormat(const std::string& file);

// The file's first audio stream decoded to 32-bit float stereo at its own rate.
std::vector<float> decodeAudio(const std::string& file);
// The file's video decoded to RGB bytes, frame after frame, rows top first.
std::vector<std::uint8_t> decodeVideo(const std::string& file);

bool fileExists(const std::string& path);

// Checks (as test failures) that `file` holds an H.264 yuv420p video of
// width x height, `frames` frames at `fps` per second, and 24-bit FLAC stereo
// sound at 44,100 Hz, both `seconds` long.
void expectFlacVideo(const std::string& file, int width, int height, int frames, int fps, double seconds);

}  // namespace videotest
