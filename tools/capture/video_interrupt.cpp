#include "video_interrupt.h"

#include <atomic>
#include <csignal>
#include <cstring>
#include <sys/wait.h>
#include <unistd.h>

namespace video {
namespace {

char cleanupPath[4096];
std::atomic<bool> cleanupPathSet{false};
std::atomic<pid_t> cleanupPid{-1};
static_assert(std::atomic<bool>::is_always_lock_free && std::atomic<pid_t>::is_always_lock_free);

void writeText(const char* text)
{
    ssize_t ignored = ::write(STDERR_FILENO, text, std::strlen(text));
    (void)ignored;
}

void onInterrupt(int signal)
{
    writeText("\ncapture: interrupted, stopping; the unfinished video is removed\n");
    pid_t pid = cleanupPid.exchange(-1);
    if (pid > 0) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
    }
    if (cleanupPathSet.exchange(false))
        ::unlink(cleanupPath);
    ::_exit(128 + signal);
}

}  // namespace

void installInterruptHandlers()
{
    static bool installed = false;
    if (installed)
        return;
    installed = true;
    struct sigaction action {};
    action.sa_handler = onInterrupt;
    sigfillset(&action.sa_mask);  // one handler at a time, nothing nested
    for (int signal : {SIGINT, SIGTERM, SIGHUP})
        ::sigaction(signal, &action, nullptr);
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    ::sigaction(SIGPIPE, &ignore, nullptr);
}

void setInterruptCleanup(pid_t encoder, const char* path)
{
    // Unarmed while the path is rewritten, so that the handler never reads
    // half a name.
    cleanupPathSet.store(false);
    if (path != nullptr && std::strlen(path) < sizeof cleanupPath) {
        std::strcpy(cleanupPath, path);
        cleanupPathSet.store(true);
    }
    cleanupPid.store(encoder);
}

void clearInterruptCleanup()
{
    cleanupPathSet.store(false);
    cleanupPid.store(-1);
}

}  // namespace video
