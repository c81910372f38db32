// Copies its standard input to a file no faster than a given number of bytes
// a second, unchanged: a sound sink with a real-time clock behind ALSA's file
// plugin (`file "|paced_sink 352800 OUT"`), whose writes into the pipe then
// block as a device's would, so that the player is paced like a sound card
// instead of running as fast as it can. Falling behind (a busy machine) is
// made up for without limit.
//
// The file is made with the first byte (an input that ends empty, as when a
// player only opens the device to probe it, leaves none) and appears under
// its name only when the input ends: until then it is OUT.part, which an
// interruption (SIGINT, SIGTERM) removes.
//
// usage: paced_sink BYTES_PER_SECOND OUT
// Exit status 0 when the whole input is written, 1 on a write error, 2 on
// bad arguments.
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

namespace {

std::string partPath;

void removePartAndExit(int signal)
{
    unlink(partPath.c_str());
    _exit(128 + signal);
}

bool writeAll(int fd, const char* data, std::size_t size)
{
    while (size) {
        const ssize_t n = write(fd, data, size);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 2 && (!std::strcmp(argv[1], "--help") || !std::strcmp(argv[1], "-h"))) {
        std::printf("usage: %s BYTES_PER_SECOND OUT\n", argv[0]);
        return 0;
    }
    char* end = nullptr;
    const double rate = argc == 3 ? std::strtod(argv[1], &end) : 0;
    if (argc != 3 || !end || *end || !(rate > 0)) {
        std::fprintf(stderr, "usage: %s BYTES_PER_SECOND OUT\n", argv[0]);
        return 2;
    }
    const std::string path = argv[2];
    partPath = path + ".part";
    struct sigaction action{};
    action.sa_handler = removePartAndExit;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    int out = -1;

    // Chunks of about 10 ms; the clock starts with the first byte.
    const std::size_t chunk = std::max<std::size_t>(1, static_cast<std::size_t>(rate / 100));
    std::string buffer(chunk, '\0');
    std::chrono::steady_clock::time_point start;
    std::uint64_t total = 0;
    for (;;) {
        const ssize_t n = read(STDIN_FILENO, buffer.data(), chunk);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            break;
        }
        if (total == 0) {
            start = std::chrono::steady_clock::now();
            out = open(partPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
            if (out < 0) {
                std::fprintf(stderr, "paced_sink: cannot create %s: %s\n", partPath.c_str(), std::strerror(errno));
                return 1;
            }
        }
        if (!writeAll(out, buffer.data(), static_cast<std::size_t>(n))) {
            std::fprintf(stderr, "paced_sink: cannot write %s: %s\n", partPath.c_str(), std::strerror(errno));
            unlink(partPath.c_str());
            return 1;
        }
        total += static_cast<std::uint64_t>(n);
        std::this_thread::sleep_until(start + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                                                  std::chrono::duration<double>(total / rate)));
    }
    if (out < 0) {
        return 0;
    }
    if (close(out) != 0 || rename(partPath.c_str(), path.c_str()) != 0) {
        std::fprintf(stderr, "paced_sink: cannot finish %s: %s\n", path.c_str(), std::strerror(errno));
        unlink(partPath.c_str());
        return 1;
    }
    return 0;
}
