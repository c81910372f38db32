// Made-up songs and captures for the tests of the played-against-rendered
// comparisons: a song whose every frame is distinct and not zero, written
// as a 32-bit float stereo WAV file, captures as raw frames, and a run of a
// comparison tool on them.
#pragma once

#include <sys/wait.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace test_frames {

using Frames = std::vector<std::uint64_t>;

inline constexpr std::size_t SONG = 20000;

// A song whose every frame is distinct and not zero.
inline Frames song()
{
    Frames frames(SONG);
    for (std::size_t i = 0; i < SONG; ++i) {
        const float pair[2] = {static_cast<float>(i + 1) / SONG, -static_cast<float>(i + 1) / SONG};
        std::memcpy(&frames[i], pair, 8);
    }
    return frames;
}

inline void writeWav(const std::string& path, const Frames& frames)
{
    auto le = [](std::ofstream& out, std::uint32_t value, int bytes) {
        for (int b = 0; b < bytes; ++b) {
            out.put(static_cast<char>(value >> (8 * b)));
        }
    };
    std::ofstream out(path, std::ios::binary);
    const std::uint32_t dataBytes = static_cast<std::uint32_t>(frames.size() * 8);
    out.write("RIFF", 4);
    le(out, 36 + dataBytes, 4);
    out.write("WAVEfmt ", 8);
    le(out, 16, 4);
    le(out, 3, 2);      // IEEE float
    le(out, 2, 2);      // stereo
    le(out, 44100, 4);
    le(out, 352800, 4);
    le(out, 8, 2);
    le(out, 32, 2);
    out.write("data", 4);
    le(out, dataBytes, 4);
    out.write(reinterpret_cast<const char*>(frames.data()), static_cast<std::streamsize>(dataBytes));
}

inline void writeRaw(const std::string& path, const Frames& frames)
{
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(frames.data()), static_cast<std::streamsize>(frames.size() * 8));
}

inline Frames slice(const Frames& from, std::size_t begin, std::size_t end)
{
    return Frames(from.begin() + static_cast<std::ptrdiff_t>(begin), from.begin() + static_cast<std::ptrdiff_t>(end));
}

inline Frames operator+(Frames a, const Frames& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

inline Frames zeros(std::size_t count)
{
    return Frames(count, 0);
}

// Runs the comparison tool `tool` as `tool played.raw song.wav LIMITS` on the
// capture `played` of `songFrames`, both written into the working directory
// first. Returns its exit status; what it wrote (both streams) goes to
// `output`.
inline int runComparison(const std::string& tool, const Frames& played, const Frames& songFrames,
                         const std::string& limits, std::string& output)
{
    writeWav("song.wav", songFrames);
    writeRaw("played.raw", played);
    const int status = std::system((tool + " played.raw song.wav " + limits + " >out.txt 2>&1").c_str());
    std::ifstream in("out.txt");
    output.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return WEXITSTATUS(status);
}

} // namespace test_frames
