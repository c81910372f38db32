#include "interrupt_cleanup.h"

#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstring>
#include <initializer_list>

namespace output {
namespace {

char armedPath[4096];
std::atomic<bool> armed{false};
std::atomic<pid_t> armedChild{-1};
const char* interruptMessage = "";
static_assert(std::atomic<bool>::is_always_lock_free && std::atomic<pid_t>::is_always_lock_free);

void onInterrupt(int signal)
{
    // The child first: it may still be writing the file.
    const pid_t child = armedChild.exchange(-1);
    if (child > 0) {
        ::kill(child, SIGKILL);
        ::waitpid(child, nullptr, 0);
    }
    if (armed.exchange(false))
        ::unlink(armedPath);
    ssize_t ignored = ::write(STDERR_FILENO, interruptMessage, std::strlen(interruptMessage));
    (void)ignored;
    ::_exit(128 + signal);
}

sigset_t interruptSignals()
{
    sigset_t set;
    sigemptyset(&set);
    for (int signal : {SIGINT, SIGTERM, SIGHUP})
        sigaddset(&set, signal);
    return set;
}

}  // namespace

void installInterruptCleanup(const char* message)
{
    interruptMessage = message;
    struct sigaction action {};
    action.sa_handler = onInterrupt;
    sigfillset(&action.sa_mask);  // one handler at a time, nothing nested
    for (int signal : {SIGINT, SIGTERM, SIGHUP})
        ::sigaction(signal, &action, nullptr);
}

void armInterruptCleanup(const char* path, pid_t child)
{
    // Unarmed while the name is rewritten, so that the handler never reads
    // half a name.
    armed.store(false);
    if (path != nullptr && *path != '\0' && std::strlen(path) < sizeof armedPath) {
        std::strcpy(armedPath, path);
        armed.store(true);
    }
    armedChild.store(child);
}

SignalsHeld::SignalsHeld()
{
    const sigset_t set = interruptSignals();
    ::sigprocmask(SIG_BLOCK, &set, &previous_);
}

SignalsHeld::~SignalsHeld()
{
    ::sigprocmask(SIG_SETMASK, &previous_, nullptr);
}

}  // namespace output
