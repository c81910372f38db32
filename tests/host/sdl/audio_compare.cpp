// Compares what the sound device played (SDL's disk driver output: raw
// interleaved 32-bit float stereo at 44,100 Hz) with the song rendered
// offline by render-song (a 32-bit float stereo WAV), frame by frame at the
// same position:
//  - every played frame is bit-identical to the rendered frame at its
//    position, or zero (its turn came before it was rendered): so the frames
//    are in order, none repeated, none delayed;
//  - at most MAX_SILENT frames of sound were played as zero, all of them
//    within or before the device buffer that played the first frame of
//    sound (once rendering is ahead it stays ahead: no gap later on);
//  - at least MIN_FRAMES frames were played, and they hold sound.
// SDL opens a device paused, and its thread may play a buffer of silence
// before the demo unpauses it (a race that the demo cannot close): whole
// buffers of silence that the device played before the song's first frame
// are found by alignment and reported, not counted as frames of the song.
// With MAX_SKIPS (default 0), up to that many jumps forward in the song are
// allowed (the frames that fell due while the process was stopped or
// starved): where a played frame of sound is not the rendered frame at its
// position, the position moves on to the next place in the song where the
// played frames that follow are found, bit for bit. Each skip is reported
// with the frames played before it, the frames skipped and the frames played
// after it; with LONGEST_SKIP, a skip of more frames than that fails. A jump
// back, or forward to frames that are not the song's, stays wrong.
// usage: audio_compare PLAYED.raw RENDERED.wav MIN_FRAMES MAX_SILENT [MAX_SKIPS [LONGEST_SKIP]]
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

// A jump forward in the song: played frame `at` (counted from the song's
// start in the played stream) is song frame `to` instead of `from`.
struct Skip {
    std::size_t at;
    std::size_t from;
    std::size_t to;
};

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
    std::vector<Skip> skips;
};

std::uint64_t frameAt(const unsigned char* frames, std::size_t i)
{
    std::uint64_t f;
    std::memcpy(&f, frames + 8 * i, 8);
    return f;
}

// The frames after a skip that must match for it to count.
constexpr std::size_t SKIP_MATCH_FRAMES = 256;

// The first song frame after `from` at which the played frames from `at` on
// are found (as many as SKIP_MATCH_FRAMES, or all that are left), or
// SIZE_MAX.
std::size_t findForward(const unsigned char* played, std::size_t playedFrames, std::size_t at,
                        const unsigned char* rendered, std::size_t renderedFrames, std::size_t from)
{
    const std::size_t length = std::min(SKIP_MATCH_FRAMES, playedFrames - at);
    const std::uint64_t first = frameAt(played, at);
    for (std::size_t to = from + 1; to + length <= renderedFrames; ++to) {
        if (frameAt(rendered, to) == first &&
            !std::memcmp(played + 8 * at, rendered + 8 * to, 8 * length)) {
            return to;
        }
    }
    return SIZE_MAX;
}

// Compares the played frames from `leadIn` on with the rendered frames from
// the song's start, allowing up to `maxSkips` jumps forward.
Comparison compare(const std::vector<unsigned char>& playedFile, std::size_t leadIn, const unsigned char* rendered,
                   std::size_t renderedFrames, std::size_t maxSkips)
{
    Comparison c;
    const unsigned char* played = playedFile.data() + 8 * leadIn;
    const std::size_t playedFrames = playedFile.size() / 8 > leadIn ? playedFile.size() / 8 - leadIn : 0;
    std::size_t song = 0; // the song frame that played frame i should be
    bool searching = maxSkips > 0;
    for (std::size_t i = 0; i < playedFrames && song < renderedFrames; ++i, ++song) {
        const std::uint64_t p = frameAt(played, i);
        std::uint64_t r = frameAt(rendered, song);
        if (p != r && p != 0 && searching) {
            const std::size_t to = findForward(played, playedFrames, i, rendered, renderedFrames, song);
            if (to != SIZE_MAX) {
                c.skips.push_back({i, song, to});
                song = to;
                r = p;
            }
            // One search that finds nothing is enough: what follows is wrong.
            searching = to != SIZE_MAX && c.skips.size() < maxSkips;
        }
        ++c.frames;
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
    if (argc < 5 || argc > 7) {
        std::fprintf(stderr, "usage: %s PLAYED.raw RENDERED.wav MIN_FRAMES MAX_SILENT [MAX_SKIPS [LONGEST_SKIP]]\n",
                     argv[0]);
        return 2;
    }
    const std::vector<unsigned char> played = readAll(argv[1]);
    const std::vector<unsigned char> renderedFile = readAll(argv[2]);
    const std::size_t minFrames = std::strtoul(argv[3], nullptr, 10);
    const std::size_t maxSilent = std::strtoul(argv[4], nullptr, 10);
    const std::size_t maxSkips = argc >= 6 ? std::strtoul(argv[5], nullptr, 10) : 0;
    const std::size_t longestSkip = argc == 7 ? std::strtoul(argv[6], nullptr, 10) : SIZE_MAX;
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
    Comparison c = compare(played, 0, rendered, renderedFrames, maxSkips);
    for (std::size_t d = DEVICE_FRAMES; c.wrong && d <= leadingZeros; d += DEVICE_FRAMES) {
        const Comparison aligned = compare(played, d, rendered, renderedFrames, maxSkips);
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
                "%zu silent gaps, %zu wrong, %zu skips\n",
                playedFrames, playedFrames / 44100.0, frames, identical, identicalSound, gaps, wrong, c.skips.size());
    for (std::size_t k = 0; k < c.skips.size(); ++k) {
        const Skip& s = c.skips[k];
        const std::size_t until = k + 1 < c.skips.size() ? c.skips[k + 1].at : frames;
        std::printf("skip %zu: after %zu played frames (song frame %zu), %zu frames skipped (%.3f s), "
                    "then %zu played from song frame %zu\n",
                    k + 1, s.at, s.from, s.to - s.from, (s.to - s.from) / 44100.0, until - s.at, s.to);
        if (s.to - s.from > longestSkip) {
            std::printf("FAIL: skip %zu is longer than %zu frames\n", k + 1, longestSkip);
            ++failures;
        }
    }
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
        std::printf("the first frame of sound played at frame %zu (%.3f s)\n", firstHeard, firstHeard / 44100.0);
        // The pull that plays the first frames of sound may find only part
        // of its buffer rendered and fill the rest with zero; from the next
        // buffer on, rendering is ahead and stays ahead.
        const std::size_t aheadFrom = (firstHeard / DEVICE_FRAMES + 1) * DEVICE_FRAMES;
        if (gaps && lastGap >= aheadFrom) {
            std::printf("FAIL: after rendering got ahead (frame %zu), frame %zu was played before it was rendered\n",
                        aheadFrom, lastGap);
            ++failures;
        }
    }
    if (identicalSound < frames / 4) {
        std::printf("FAIL: too little of the song was heard: %zu frames of sound\n", identicalSound);
        ++failures;
    }
    if (!failures) {
        std::printf("ok: every played frame is the rendered frame at its position%s%s\n",
                    c.skips.empty() ? "" : " (after the skips)", gaps ? " or, before rendering got ahead, zero" : "");
    }
    return failures ? 1 : 0;
}
