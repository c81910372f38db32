// Compares what a sound device played (a raw capture: interleaved 32-bit
// float stereo at 44,100 Hz, as ALSA's file plugin writes it) with the song
// as render-song renders it (a 32-bit float stereo WAV), walking both in
// step:
//  - every played frame that is not zero is bit-identical to the song's
//    frame at its place: so none is repeated, skipped, reordered or changed;
//    past the song's end the buffer holds zeros and so must what is played;
//  - zeros in the place of song frames of sound stand for frames that the
//    render thread had not yet written when the device reached them: allowed
//    only in the song's first LEAD_LIMIT frames (the render thread's
//    start-up), and reported (song frames that are silent themselves, as the
//    song's first is, count as played whatever the reason for their zero);
//  - besides, a run of zeros is allowed where the output path inserted
//    silence of its own: the song goes on after it exactly where it stopped,
//    so no song frame is lost (Wine's mixer does this when the thread that
//    feeds it is late); reported;
//  - at least MIN_FRAMES frames of the song were played.
// usage: played_compare PLAYED.raw SONG.wav MIN_FRAMES LEAD_LIMIT
// Prints a summary; exit status 0 when every check holds, 1 when one fails,
// 2 on bad arguments or unreadable files.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

std::vector<unsigned char> readAll(const char* path, bool& ok)
{
    std::ifstream in(path, std::ios::binary);
    ok = static_cast<bool>(in);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::uint32_t le32(const unsigned char* p)
{
    return std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 | std::uint32_t{p[3]} << 24;
}

// The frames of a 32-bit float stereo 44,100 Hz WAV file as 64-bit words.
bool wavFrames(const std::vector<unsigned char>& file, std::vector<std::uint64_t>& frames)
{
    if (file.size() < 12 || std::memcmp(file.data(), "RIFF", 4) || std::memcmp(file.data() + 8, "WAVE", 4)) {
        return false;
    }
    bool formatOk = false;
    std::size_t at = 12;
    while (at + 8 <= file.size()) {
        const std::uint32_t size = le32(&file[at + 4]);
        if (!std::memcmp(&file[at], "fmt ", 4) && at + 24 <= file.size()) {
            const unsigned format = file[at + 8] | file[at + 9] << 8;
            const unsigned channels = file[at + 10] | file[at + 11] << 8;
            formatOk = format == 3 && channels == 2 && le32(&file[at + 12]) == 44100;
        } else if (!std::memcmp(&file[at], "data", 4)) {
            const std::size_t count = std::min<std::size_t>(size, file.size() - at - 8) / 8;
            frames.resize(count);
            std::memcpy(frames.data(), &file[at + 8], count * 8);
            return formatOk;
        }
        at += 8 + std::size_t{size} + (size & 1);
    }
    return false;
}

struct Comparison {
    const std::vector<std::uint64_t>& played;
    const std::vector<std::uint64_t>& song;

    // The song's frame j, with the buffer's zeros after its end.
    std::uint64_t songAt(std::size_t j) const { return j < song.size() ? song[j] : 0; }

    // True when `count` played frames from i are the song's frames from j
    // (as many as the capture holds).
    bool agrees(std::size_t i, std::size_t j, std::size_t count) const
    {
        for (std::size_t k = 0; k < count && i + k < played.size(); ++k) {
            if (played[i + k] != songAt(j + k)) {
                return false;
            }
        }
        return true;
    }

    // The song frames in [from, to) that hold sound: a silent frame of the
    // song (the song's first frame is one) that is played as zero is played
    // as it is, whether it was rendered by then or not.
    std::size_t soundIn(std::size_t from, std::size_t to) const
    {
        std::size_t count = 0;
        for (std::size_t k = from; k < to && k < song.size(); ++k) {
            count += song[k] != 0;
        }
        return count;
    }

    // Where the played frames from i stand in the song near j (within one
    // second either way), for the report of a wrong frame; SIZE_MAX if not.
    std::size_t locate(std::size_t i, std::size_t j) const
    {
        const std::size_t from = j > 44100 ? j - 44100 : 0;
        for (std::size_t k = from; k < j + 44100 && k < song.size(); ++k) {
            if (agrees(i, k, 16)) {
                return k;
            }
        }
        return SIZE_MAX;
    }
};

constexpr std::size_t MATCH_FRAMES = 64; // frames that must agree to place the song after a run of zeros

} // namespace

int main(int argc, char** argv)
{
    if (argc == 2 && (!std::strcmp(argv[1], "--help") || !std::strcmp(argv[1], "-h"))) {
        std::printf("usage: %s PLAYED.raw SONG.wav MIN_FRAMES LEAD_LIMIT\n", argv[0]);
        return 0;
    }
    if (argc != 5) {
        std::fprintf(stderr, "usage: %s PLAYED.raw SONG.wav MIN_FRAMES LEAD_LIMIT\n", argv[0]);
        return 2;
    }
    bool playedOk = false;
    bool songOk = false;
    const std::vector<unsigned char> playedBytes = readAll(argv[1], playedOk);
    const std::vector<unsigned char> songFile = readAll(argv[2], songOk);
    char* end = nullptr;
    const std::size_t minFrames = std::strtoul(argv[3], &end, 10);
    const bool minOk = *argv[3] && !*end;
    const std::size_t leadLimit = std::strtoul(argv[4], &end, 10);
    if (!minOk || !*argv[4] || *end) {
        std::fprintf(stderr, "played_compare: MIN_FRAMES and LEAD_LIMIT are frame counts\n");
        return 2;
    }
    if (!playedOk) {
        std::fprintf(stderr, "played_compare: cannot read %s\n", argv[1]);
        return 2;
    }
    std::vector<std::uint64_t> song;
    if (!songOk || !wavFrames(songFile, song)) {
        std::fprintf(stderr, "played_compare: %s is not a 32-bit float stereo 44,100 Hz WAV file\n", argv[2]);
        return 2;
    }
    // The process may end in the middle of the device's last write.
    std::vector<std::uint64_t> played(playedBytes.size() / 8);
    std::memcpy(played.data(), playedBytes.data(), played.size() * 8);
    const Comparison compare{played, song};

    int failures = 0;
    std::size_t i = 0;
    while (i < played.size() && played[i] == 0) {
        ++i;
    }
    if (i == played.size()) {
        std::printf("FAIL: %zu frames were played, all of them zero\n", played.size());
        return 1;
    }
    // The first frame of sound: the song frames before it were played as zero
    // (not yet rendered), or the output path put silence in front of them.
    const std::size_t leadingZeros = i;
    std::size_t lateRuns = 0;    // runs of song frames played as zero
    std::size_t lateFrames = 0;
    std::size_t lastLate = 0;    // the song frame after the last of them
    std::size_t j = SIZE_MAX;
    for (std::size_t k = 0; k <= i && k < song.size(); ++k) {
        if (compare.agrees(i, k, MATCH_FRAMES)) {
            j = k;
            break;
        }
    }
    if (j == SIZE_MAX) {
        std::printf("FAIL: the first played frame of sound (frame %zu) is no frame of the song at or before its place\n",
                    i);
        return 1;
    }
    const std::size_t firstSongFrame = j;
    std::printf("leading zeros: %zu played frames; the song was heard from its frame %zu (%.3f s) on\n",
                leadingZeros, firstSongFrame, firstSongFrame / 44100.0);
    if (compare.soundIn(0, firstSongFrame) > 0) {
        lateRuns = 1;
        lateFrames = compare.soundIn(0, firstSongFrame);
        lastLate = firstSongFrame;
    }
    std::size_t insertedRuns = leadingZeros > firstSongFrame ? 1 : 0;
    std::size_t insertedFrames = leadingZeros - firstSongFrame;
    std::size_t longestInserted = insertedFrames;
    std::size_t firstInsertedAt = insertedRuns ? 0 : SIZE_MAX;
    bool wrong = false;
    while (i < played.size()) {
        if (played[i] == compare.songAt(j)) {
            ++i;
            ++j;
            continue;
        }
        if (played[i] != 0) {
            const std::size_t k = compare.locate(i, j);
            if (k == SIZE_MAX) {
                std::printf("FAIL: played frame %zu is not the song's frame %zu, nor any song frame within 1 s\n",
                            i, j);
            } else {
                std::printf("FAIL: played frame %zu is the song's frame %zu, not %zu: %zu frames %s\n", i, k, j,
                            k > j ? k - j : j - k, k > j ? "skipped" : "repeated");
            }
            wrong = true;
            break;
        }
        // A run of zeros where the song has sound.
        std::size_t runEnd = i;
        while (runEnd < played.size() && played[runEnd] == 0) {
            ++runEnd;
        }
        const std::size_t length = runEnd - i;
        if (runEnd == played.size()) {
            std::printf("the capture ends in %zu frames of zeros\n", length);
            break;
        }
        std::size_t lost = SIZE_MAX; // song frames that the run stands in place of
        for (std::size_t m = 0; m <= length; ++m) {
            if (compare.agrees(runEnd, j + m, MATCH_FRAMES)) {
                lost = m;
                break;
            }
        }
        if (lost == SIZE_MAX) {
            std::printf("FAIL: after %zu zeros at played frame %zu the song does not go on (expected its frame %zu)\n",
                        length, i, j);
            wrong = true;
            break;
        }
        if (compare.soundIn(j, j + lost) > 0) {
            ++lateRuns;
            lateFrames += compare.soundIn(j, j + lost);
            lastLate = j + lost;
        }
        if (length > lost) {
            ++insertedRuns;
            insertedFrames += length - lost;
            longestInserted = std::max(longestInserted, length - lost);
            firstInsertedAt = std::min(firstInsertedAt, i);
        }
        i = runEnd;
        j += lost;
    }

    const std::size_t songPlayed = std::min(j, song.size()) - firstSongFrame;
    std::printf("played %zu frames (%.2f s), up to the song's frame %zu (%.2f s of the song from its frame %zu)%s\n",
                played.size(), played.size() / 44100.0, std::min(j, song.size()), songPlayed / 44100.0,
                firstSongFrame, j > song.size() ? ", then the buffer's zeros" : "");
    if (insertedRuns) {
        std::printf("silence inserted by the output path: %zu runs, %zu frames in all (longest %zu), the first at "
                    "played frame %zu; the song went on after each where it had stopped\n",
                    insertedRuns, insertedFrames, longestInserted, firstInsertedAt);
    } else {
        std::printf("no silence inserted after the start\n");
    }
    if (lateRuns) {
        std::printf("%zu song frames in %zu runs were played as zero (the render thread was not there yet); "
                    "rendering was ahead for good from song frame %zu (%.3f s) on\n",
                    lateFrames, lateRuns, lastLate, lastLate / 44100.0);
    } else {
        std::printf("no song frame was played as zero\n");
    }
    if (lastLate > leadLimit) {
        std::printf("FAIL: song frames up to frame %zu were played as zero: past the start-up (%zu frames)\n",
                    lastLate, leadLimit);
        ++failures;
    }
    if (wrong) {
        ++failures;
    }
    if (songPlayed < minFrames) {
        std::printf("FAIL: only %zu frames of the song were played (at least %zu expected)\n", songPlayed, minFrames);
        ++failures;
    }
    if (!failures) {
        std::printf("ok: every played frame is the song's frame at its place, or zero (in the start-up%s)\n",
                    insertedRuns ? ", or silence the output path inserted" : "");
    }
    return failures ? 1 : 0;
}
