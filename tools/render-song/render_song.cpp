// render-song: renders the song (or its first N frames) and writes it as a
// 32-bit float stereo WAV holding exactly the SampleBuffer bytes.
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "synth_state.h"

#ifdef __EMSCRIPTEN__
#include <emscripten/emscripten.h>
#endif

namespace {

void printUsage(std::FILE* to) {
    std::fprintf(to,
                 "Usage: render-song --out FILE [--frames N]\n"
                 "Renders the demo's song and writes it as a 32-bit float stereo WAV\n"
                 "(44,100 Hz) holding exactly the rendered frames.\n"
                 "\n"
                 "  --out FILE   the WAV file to write (required)\n"
                 "  --frames N   render only the first N frames (1 to %u; default all)\n"
                 "  --help       show this help and exit\n",
                 SONG_FRAMES);
}

bool parseFrames(const char* text, std::uint32_t& frames) {
    if (!text || !*text) return false;
    for (const char* c = text; *c; ++c)
        if (*c < '0' || *c > '9') return false;
    errno = 0;
    char* end = nullptr;
    const unsigned long long value = std::strtoull(text, &end, 10);
    if (errno != 0 || *end != '\0' || value < 1 || value > SONG_FRAMES) return false;
    frames = static_cast<std::uint32_t>(value);
    return true;
}

void putU16(std::vector<unsigned char>& out, std::uint32_t v) {
    out.push_back(static_cast<unsigned char>(v & 0xFF));
    out.push_back(static_cast<unsigned char>((v >> 8) & 0xFF));
}
void putU32(std::vector<unsigned char>& out, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<unsigned char>((v >> (8 * i)) & 0xFF));
}

// The canonical 44-byte RIFF/WAVE header for IEEE float stereo at 44.1 kHz;
// the data chunk follows at byte 44.
std::vector<unsigned char> wavHeader(std::uint32_t frames) {
    const std::uint32_t dataBytes = frames * 8u;
    std::vector<unsigned char> h;
    h.insert(h.end(), {'R', 'I', 'F', 'F'});
    putU32(h, 36 + dataBytes);
    h.insert(h.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
    putU32(h, 16);
    putU16(h, 3);                 // WAVE_FORMAT_IEEE_FLOAT
    putU16(h, 2);                 // channels
    putU32(h, SAMPLE_RATE);       // frames per second
    putU32(h, SAMPLE_RATE * 8u);  // bytes per second
    putU16(h, 8);                 // block align
    putU16(h, 32);                // bits per sample
    h.insert(h.end(), {'d', 'a', 't', 'a'});
    putU32(h, dataBytes);
    return h;
}

void drawProgress(std::uint32_t done, std::uint32_t total, double seconds) {
    const int width = 40;
    const int filled = static_cast<int>(static_cast<double>(done) / total * width);
    const double factor = seconds > 0 ? (done / static_cast<double>(SAMPLE_RATE)) / seconds : 0.0;
    std::fprintf(stderr, "\r[%.*s%*s] %5.1f%%  %.1fx real time", filled,
                 "########################################", width - filled, "",
                 100.0 * done / total, factor);
    std::fflush(stderr);
}

#ifdef __EMSCRIPTEN__
// The node build: emscripten's C library takes every standard stream for a
// terminal, node knows better.
bool stderrIsTerminal() { return EM_ASM_INT({ return process.stderr.isTTY ? 1 : 0; }) != 0; }
#else
bool stderrIsTerminal() { return isatty(fileno(stderr)) != 0; }
#endif

// The temporary file that SIGINT, SIGTERM or SIGHUP removes before the
// process ends by that signal (empty: none).
char pendingTempPath[4096];

void removePendingAndDie(int signalNumber) {
    if (pendingTempPath[0]) unlink(pendingTempPath);
    std::signal(signalNumber, SIG_DFL);
    std::raise(signalNumber);
}

void removeOnSignal(const std::string& path) {
    std::snprintf(pendingTempPath, sizeof pendingTempPath, "%s", path.c_str());
    for (int signalNumber : {SIGINT, SIGTERM, SIGHUP}) std::signal(signalNumber, removePendingAndDie);
}

}  // namespace

int main(int argc, char** argv) {
    std::string outPath;
    std::uint32_t frames = SONG_FRAMES;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            printUsage(stdout);
            return 0;
        } else if (arg == "--out" || arg.rfind("--out=", 0) == 0) {
            if (arg == "--out") {
                if (i + 1 >= argc) {
                    std::fprintf(stderr, "render-song: --out needs a file name\n");
                    return 2;
                }
                outPath = argv[++i];
            } else {
                outPath = arg.substr(6);
            }
            if (outPath.empty()) {
                std::fprintf(stderr, "render-song: --out needs a file name\n");
                return 2;
            }
        } else if (arg == "--frames" || arg.rfind("--frames=", 0) == 0) {
            const char* value = nullptr;
            if (arg == "--frames") {
                if (i + 1 >= argc) {
                    std::fprintf(stderr, "render-song: --frames needs a number\n");
                    return 2;
                }
                value = argv[++i];
            } else {
                value = argv[i] + 9;
            }
            if (!parseFrames(value, frames)) {
                std::fprintf(stderr, "render-song: --frames must be a whole number from 1 to %u, not '%s'\n",
                             SONG_FRAMES, value);
                return 2;
            }
        } else {
            std::fprintf(stderr, "render-song: unknown argument '%s'\n", arg.c_str());
            printUsage(stderr);
            return 2;
        }
    }
    if (outPath.empty()) {
        std::fprintf(stderr, "render-song: --out FILE is required\n");
        printUsage(stderr);
        return 2;
    }

    // Make the temporary file once before the render, so that a path that
    // cannot be written fails at once, and remove it again: an interruption
    // during the long render then leaves nothing behind. It is made anew
    // for the write, during which an interruption removes it.
    const std::string tempPath = outPath + ".tmp-" + std::to_string(static_cast<long>(getpid()));
    std::FILE* file = std::fopen(tempPath.c_str(), "wb");
    if (!file) {
        std::fprintf(stderr, "render-song: cannot write '%s': %s\n", outPath.c_str(), std::strerror(errno));
        return 1;
    }
    std::fclose(file);
    std::remove(tempPath.c_str());

    std::vector<StereoFrame> samples(frames);
    SynthStatePtr state = makeSynthState();
    const bool showProgress = stderrIsTerminal();
    const auto start = std::chrono::steady_clock::now();
    const std::uint32_t chunk = SAMPLE_RATE;  // one second of song per step
    std::uint32_t done = 0;
    while (done < frames) {
        const std::uint32_t want = frames - done < chunk ? frames - done : chunk;
        done += renderSongFrames(*state, samples.data() + done, want);
        if (showProgress)
            drawProgress(done, frames,
                         std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (showProgress) std::fprintf(stderr, "\n");

    removeOnSignal(tempPath);
    file = std::fopen(tempPath.c_str(), "wb");
    if (!file) {
        std::fprintf(stderr, "render-song: cannot write '%s': %s\n", outPath.c_str(), std::strerror(errno));
        return 1;
    }
    const std::vector<unsigned char> header = wavHeader(frames);
    bool ok = std::fwrite(header.data(), 1, header.size(), file) == header.size();
    ok = ok && std::fwrite(samples.data(), sizeof(StereoFrame), frames, file) == frames;
    ok = (std::fflush(file) == 0) && ok;
    ok = (std::fclose(file) == 0) && ok;
    if (!ok) {
        std::fprintf(stderr, "render-song: writing '%s' failed: %s\n", tempPath.c_str(), std::strerror(errno));
        std::remove(tempPath.c_str());
        return 1;
    }
    if (std::rename(tempPath.c_str(), outPath.c_str()) != 0) {
        std::fprintf(stderr, "render-song: cannot rename '%s' to '%s': %s\n", tempPath.c_str(), outPath.c_str(),
                     std::strerror(errno));
        std::remove(tempPath.c_str());
        return 1;
    }
    pendingTempPath[0] = '\0';
    if (showProgress)
        std::fprintf(stderr, "render-song: %u frames (%.3f s of song) in %.2f s, %.1fx real time -> %s\n", frames,
                     frames / static_cast<double>(SAMPLE_RATE), seconds,
                     (frames / static_cast<double>(SAMPLE_RATE)) / seconds, outPath.c_str());
    return 0;
}
