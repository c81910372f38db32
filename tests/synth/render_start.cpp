// render-start: what the start of the song costs. Each run is a fresh
// process (forked before any synthesizer state is touched, so the static
// state and SampleBuffer are as cold as in the demo) that, as the demo does,
// prepares the song (prepareSong: with --preroll N it renders the song's
// first N frames on the calling thread, the demo's start-up cost) and then
// starts renderSong on a thread of its own, and watches renderedFrames.
// Prints, per run and as median / min / max over the runs, the milliseconds
// that the preparation took, and from just before the thread starts to the
// first frame that the thread published and to 1,024, 3,072 and 44,100 frames
// beyond the pre-roll, with the page faults that the render thread took by
// then (each first touch of a page costs a fault; on some virtual machines a
// dear one). --unprepared leaves the preparation out. A measuring tool, not a
// test:
//   render-start --runs 20 --preroll 44100
#include <pthread.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "synth.h"

namespace {

constexpr std::uint32_t MARKS[] = {1, 1024, 3072, 44100};
constexpr int MARK_COUNT = 4;
// The times of the marks, the render thread's faults by each, and the
// preparation's time.
constexpr int RESULT_COUNT = 2 * MARK_COUNT + 1;

SampleBuffer sampleBuffer;  // static and zero, as the demo's
std::atomic<long> renderThreadId{0};

void* renderThread(void* buffer) {
    renderThreadId.store(syscall(SYS_gettid), std::memory_order_release);
    renderSong(static_cast<SampleBuffer*>(buffer));
    return nullptr;
}

// The minor page faults that thread `tid` of this process has taken, or -1.
long threadFaults(long tid) {
    char path[64];
    std::snprintf(path, sizeof path, "/proc/self/task/%ld/stat", tid);
    std::FILE* file = std::fopen(path, "r");
    if (!file) return -1;
    char text[1024];
    const std::size_t n = std::fread(text, 1, sizeof text - 1, file);
    std::fclose(file);
    text[n] = '\0';
    // Fields after the command's closing parenthesis: state, ppid, pgrp,
    // session, tty, tpgid, flags, minflt.
    const char* rest = std::strrchr(text, ')');
    long minflt = -1;
    if (!rest || std::sscanf(rest + 1, " %*c %*d %*d %*d %*d %*d %*u %ld", &minflt) != 1) return -1;
    return minflt;
}

void printUsage(std::FILE* to) {
    std::fprintf(to,
                 "Usage: render-start [--runs N] [--preroll FRAMES | --unprepared]\n"
                 "Prepares the song and starts its render thread in a fresh process, as\n"
                 "the demo does, and reports how long the preparation took and how many\n"
                 "milliseconds pass from the thread's start until it has published its\n"
                 "first frame and 1,024, 3,072 and 44,100 frames beyond the pre-roll.\n"
                 "\n"
                 "  --runs N          runs, each in a process of its own (1 to 1000; default 10)\n"
                 "  --preroll FRAMES  frames rendered before the thread starts (0 to 1000000;\n"
                 "                    default 0: the memory of the first frames prepared only)\n"
                 "  --unprepared      start the thread without preparing the song first\n"
                 "  --help         show this help and exit\n");
}

// One run, in the forked child: writes the times of the marks to `pipe`.
[[noreturn]] void measure(int pipe, bool prepared, std::uint32_t preroll) {
    // Wake from the short sleeps below with little slack.
    prctl(PR_SET_TIMERSLACK, 1000UL);
    double at[RESULT_COUNT];
    const auto before = std::chrono::steady_clock::now();
    if (prepared) prepareSong(&sampleBuffer, preroll);
    const auto start = std::chrono::steady_clock::now();
    at[2 * MARK_COUNT] = std::chrono::duration<double, std::milli>(start - before).count();
    pthread_t thread;
    if (pthread_create(&thread, nullptr, renderThread, &sampleBuffer) != 0) _exit(3);
    int next = 0;
    while (next < MARK_COUNT) {
        const std::uint32_t done = renderedFrames.load(std::memory_order_acquire);
        const auto now = std::chrono::steady_clock::now();
        const int from = next;
        while (next < MARK_COUNT && done >= preroll + MARKS[next])
            at[next++] = std::chrono::duration<double, std::milli>(now - start).count();
        if (next > from) {
            const long faults = threadFaults(renderThreadId.load(std::memory_order_acquire));
            for (int m = from; m < next; ++m) at[MARK_COUNT + m] = static_cast<double>(faults);
        }
        if (std::chrono::duration<double>(now - start).count() > 60.0) _exit(4);
        if (next < MARK_COUNT) usleep(20);
    }
    const ssize_t written = write(pipe, at, sizeof at);
    // The render thread ends with the process, as in the demo.
    _exit(written == static_cast<ssize_t>(sizeof at) ? 0 : 5);
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    const std::size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

}  // namespace

int main(int argc, char** argv) {
    long runs = 10;
    bool prepared = true;
    long preroll = 0;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--help") || !std::strcmp(argv[i], "-h")) {
            printUsage(stdout);
            return 0;
        }
        if (!std::strcmp(argv[i], "--unprepared")) {
            prepared = false;
            continue;
        }
        if (!std::strcmp(argv[i], "--preroll") && i + 1 < argc) {
            char* end = nullptr;
            errno = 0;
            preroll = std::strtol(argv[++i], &end, 10);
            if (errno != 0 || *end != '\0' || end == argv[i] || preroll < 0 || preroll > 1000000) {
                std::fprintf(stderr, "render-start: --preroll takes a frame count from 0 to 1000000, not '%s'\n",
                             argv[i]);
                return 2;
            }
            continue;
        }
        if (!std::strcmp(argv[i], "--runs") && i + 1 < argc) {
            char* end = nullptr;
            errno = 0;
            runs = std::strtol(argv[++i], &end, 10);
            if (errno != 0 || *end != '\0' || end == argv[i] || runs < 1 || runs > 1000) {
                std::fprintf(stderr, "render-start: --runs takes a number from 1 to 1000, not '%s'\n", argv[i]);
                return 2;
            }
            continue;
        }
        std::fprintf(stderr, "render-start: unknown argument '%s'\n", argv[i]);
        printUsage(stderr);
        return 2;
    }
    std::vector<double> times[RESULT_COUNT];
    std::printf("run   prepared   first frame   1,024 frames   3,072 frames   44,100 frames  (ms: the preparation;\n"
                "                                                                            after the thread starts, with the\n"
                "                                                                            render thread's page faults by then)\n");
    for (long r = 1; r <= runs; ++r) {
        int fds[2];
        if (pipe(fds) != 0) {
            std::perror("render-start: pipe");
            return 1;
        }
        std::fflush(stdout);
        const pid_t child = fork();
        if (child < 0) {
            std::perror("render-start: fork");
            return 1;
        }
        if (child == 0) {
            close(fds[0]);
            measure(fds[1], prepared, prepared ? static_cast<std::uint32_t>(preroll) : 0);
        }
        close(fds[1]);
        double at[RESULT_COUNT];
        const ssize_t got = read(fds[0], at, sizeof at);
        close(fds[0]);
        int status = 0;
        waitpid(child, &status, 0);
        if (got != static_cast<ssize_t>(sizeof at) || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
            std::fprintf(stderr, "render-start: run %ld failed\n", r);
            return 1;
        }
        std::printf("%3ld   %8.3f   %7.3f %4.0f   %8.3f %4.0f   %8.3f %4.0f   %9.3f %4.0f\n", r, at[8], at[0], at[4],
                    at[1], at[5], at[2], at[6], at[3], at[7]);
        for (int m = 0; m < RESULT_COUNT; ++m) times[m].push_back(at[m]);
    }
    const char* names[MARK_COUNT] = {"first frame", "1,024 frames", "3,072 frames", "44,100 frames"};
    std::printf("over %ld runs: median / min / max in ms, and median page faults\n", runs);
    const std::vector<double>& preparation = times[2 * MARK_COUNT];
    std::printf("  %-14s %8.3f / %8.3f / %8.3f\n", prepared ? "preparation" : "(unprepared)", median(preparation),
                *std::min_element(preparation.begin(), preparation.end()),
                *std::max_element(preparation.begin(), preparation.end()));
    for (int m = 0; m < MARK_COUNT; ++m)
        std::printf("  %-14s %8.3f / %8.3f / %8.3f   %5.0f faults\n", names[m], median(times[m]),
                    *std::min_element(times[m].begin(), times[m].end()),
                    *std::max_element(times[m].begin(), times[m].end()), median(times[MARK_COUNT + m]));
    return 0;
}
