// Compares what the sound device played (SDL's disk driver output: raw
// interleaved 32-bit float stereo at 44,100 Hz) with the song rendered
// offline by render-song (a 32-bit float stereo WAV), frame by frame at the
// same position:
//  - every played frame is bit-identical to the rendered frame at its
//    position, or zero (its turn came before it was rendered): so the frames
//    are in order, none repeated, none delayed;
//  - at most MAX_SILENT frames of sound were played as zero, all of them
//    before the first frame of sound that was played (once rendering is
//    ahead it stays ahead: no gap later on);
//  - at least MIN_FRAMES frames were played, and they hold sound.
// SDL opens a device paused, and its thread may play a buffer of silence
// before the demo unpauses it (a race that the demo cannot close): whole
// buffers of silence that the device played before the song's first frame
// are found by alignment and reported, not counted as frames of the song.
// usage: audio_compare PLAYED.raw RENDERED.wav MIN_FRAMES MAX_SILENT
// Prints a summary; exit status 0 when every check holds.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

namespace {

std::vector<unsigned char> readAll(const char* path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::uint32_t le32(const unsigned char* p)
{
    return std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 | std::uint32_t{p[3]} << 24;
}

// The frames of a WAV file's data chunk, as 64-bit words (left, right bits).
bool wavFrames(const std::vector<unsigned char>& file, const unsigned char*& data, std::size_t& frames)
{
    if (file.size() < 12 || std::memcmp(file.data(), "RIFF", 4) || std::memcmp(file.data() + 8, "WAVE", 4)) {
        return false;
    }
    std::size_t at = 12;
    while (at + 8 <= file.size()) {
        const std::uint32_t size = le32(&file[at + 4]);
        if (!std::memcmp(&file[at], "fmt ", 4)) {
            const unsigned format = file[at + 8] | file[at + 9] << 8;
            const unsigned channels = file[at + 10] | file[at + 11] << 8;
            if (format != 3 || channels != 2 || le32(&file[at + 12]) != 44100) {
                return false;
            }
        } else if (!std::memcmp(&file[at], "data", 4)) {
            data = &file[at + 8];
            frames = std::min<std::size_t>(size, file.size() - at - 8) / 8;
            return true;
        }
        at += 8 + size + (size & 1);
    }
    return false;
}

// The device's buffer, in frames (audio_pull.h).
constexpr std::size_t DEVICE_FRAMES = 1024;

struct Comparison {
    std::size_t frames = 0;
    std::size_t identical = 0;
    std::size_t identicalSound = 0; // identical and not silent
    std::size_t gaps = 0;           // played as zero, rendered as sound
    std::size_t firstGap = SIZE_MAX;
    std::size_t lastGap = 0;
    std::size_t wrong = 0;
    std::size_t firstWrong = SIZE_MAX;
    std::size_t firstHeard = SIZE_MAX; // the first played frame of sound
};

// Compares the played frames from `leadIn` on with the rendered frames from
// the song's start.
Comparison compare(const std::vector<unsigned char>& played, std::size_t leadIn, const unsigned char* rendered,
                   std::size_t renderedFrames)
{
    Comparison c;
    const std::size_t playedFrames = played.size() / 8;
    c.frames = playedFrames > leadIn ? std::min(playedFrames - leadIn, renderedFrames) : 0;
    for (std::size_t i = 0; i < c.frames; ++i) {
        std::uint64_t p;
        std::uint64_t r;
        std::memcpy(&p, &played[8 * (leadIn + i)], 8);
        std::memcpy(&r, rendered + 8 * i, 8);
        if (p == r) {
            ++c.identical;
            c.identicalSound += r != 0;
            if (r != 0) {
                c.firstHeard = std::min(c.firstHeard, i);
            }
        } else if (p == 0) {
            ++c.gaps;
            c.firstGap = std::min(c.firstGap, i);
            c.lastGap = i;
        } else {
            ++c.wrong;
            c.firstWrong = std::min(c.firstWrong, i);
        }
    }
    return c;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 5) {
        std::fprintf(stderr, "usage: %s PLAYED.raw RENDERED.wav MIN_FRAMES MAX_SILENT\n", argv[0]);
        return 2;
    }
    const std::vector<unsigned char> played = readAll(argv[1]);
    const std::vector<unsigned char> renderedFile = readAll(argv[2]);
    const std::size_t minFrames = std::strtoul(argv[3], nullptr, 10);
    const std::size_t maxSilent = std::strtoul(argv[4], nullptr, 10);
    const unsigned char* rendered = nullptr;
    std::size_t renderedFrames = 0;
    if (!wavFrames(renderedFile, rendered, renderedFrames)) {
        std::printf("FAIL: %s is not a 32-bit float stereo 44,100 Hz WAV file\n", argv[2]);
        return 1;
    }
    // The process may end in the middle of the device's last write.
    const std::size_t playedFrames = played.size() / 8;
    int failures = 0;
    if (playedFrames < minFrames) {
        std::printf("FAIL: only %zu frames were played (at least %zu expected)\n", playedFrames, minFrames);
        ++failures;
    }

    // Whole buffers of the device's own silence before the song: the
    // smallest lead-in, within the played stream's leading zeros, after
    // which no played frame is wrong.
    std::size_t leadingZeros = 0;
    while (leadingZeros < playedFrames &&
           std::all_of(&played[8 * leadingZeros], &played[8 * leadingZeros + 8], [](unsigned char b) { return b == 0; })) {
        ++leadingZeros;
    }
    std::size_t leadIn = 0;
    Comparison c = compare(played, 0, rendered, renderedFrames);
    for (std::size_t d = DEVICE_FRAMES; c.wrong && d <= leadingZeros; d += DEVICE_FRAMES) {
        const Comparison aligned = compare(played, d, rendered, renderedFrames);
        if (!aligned.wrong) {
            leadIn = d;
            c = aligned;
        }
    }
    if (leadIn) {
        std::printf("the device played %zu frames of its own silence before the song's first frame\n", leadIn);
    }
    const std::size_t frames = c.frames;
    const std::size_t identical = c.identical;
    const std::size_t identicalSound = c.identicalSound;
    const std::size_t gaps = c.gaps;
    const std::size_t firstGap = c.firstGap;
    const std::size_t lastGap = c.lastGap;
    const std::size_t wrong = c.wrong;
    const std::size_t firstWrong = c.firstWrong;
    const std::size_t firstHeard = c.firstHeard;
    std::printf("played %zu frames (%.2f s), compared %zu: %zu bit-identical (%zu of them sound), "
                "%zu silent gaps, %zu wrong\n",
                playedFrames, playedFrames / 44100.0, frames, identical, identicalSound, gaps, wrong);
    if (wrong) {
        std::printf("FAIL: %zu played frames are neither the rendered frame at their position nor zero "
                    "(the first at frame %zu)\n",
                    wrong, firstWrong);
        ++failures;
    }
    if (gaps) {
        std::printf("silent gaps from frame %zu to frame %zu\n", firstGap, lastGap);
    }
    std::printf("silent frames at the start: %zu (at most %zu allowed)\n", gaps, maxSilent);
    if (gaps > maxSilent) {
        std::printf("FAIL: %zu frames of sound were played as silence\n", gaps);
        ++failures;
    }
    if (firstHeard == SIZE_MAX) {
        std::printf("FAIL: no frame of sound was played\n");
        ++failures;
    } else {
        std::printf("rendering ahead of the device from frame %zu (%.3f s) on\n", firstHeard, firstHeard / 44100.0);
        if (gaps && lastGap > firstHeard) {
            std::printf("FAIL: after rendering got ahead, frame %zu was played before it was rendered\n", lastGap);
            ++failures;
        }
    }
    if (identicalSound < frames / 4) {
        std::printf("FAIL: too little of the song was heard: %zu frames of sound\n", identicalSound);
        ++failures;
    }
    if (!failures) {
        std::printf("ok: every played frame is the rendered frame at its position%s\n",
                    gaps ? " or, before rendering got ahead, zero" : "");
    }
    return failures ? 1 : 0;
}
