#include "interrupt_cleanup.h"

#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstring>
#include <initializer_list>

namespace output {
namespace {

// Taken by CleanupHeld and by the handler, which keeps it until the end.
std::atomic_flag busy = ATOMIC_FLAG_INIT;
// CleanupHeld's depth on this thread: only the outermost takes `busy`.
thread_local int heldDepth = 0;

// The armed state, changed and read only with `busy` taken.
char armedFile[4096];
bool fileArmed = false;
pid_t armedChild = -1;
char armedFolders[8192];  // names one after another, each ending in '\0'
std::size_t armedFolderBytes = 0;
const char* interruptMessage = "";

void onInterrupt(int signal)
{
    while (busy.test_and_set(std::memory_order_acquire)) {
    }
    // The child first: it may still be writing the file.
    if (armedChild > 0) {
        ::kill(armedChild, SIGKILL);
        ::waitpid(armedChild, nullptr, 0);
    }
    if (fileArmed)
        ::unlink(armedFile);
    for (std::size_t at = 0; at < armedFolderBytes; at += std::strlen(armedFolders + at) + 1)
        ::rmdir(armedFolders + at);
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
    CleanupHeld held;
    interruptMessage = message;
    struct sigaction action {};
    action.sa_handler = onInterrupt;
    sigfillset(&action.sa_mask);  // one handler at a time on a thread, nothing nested
    for (int signal : {SIGINT, SIGTERM, SIGHUP})
        ::sigaction(signal, &action, nullptr);
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    ::sigaction(SIGPIPE, &ignore, nullptr);
}

void armInterruptFile(const char* path)
{
    CleanupHeld held;
    fileArmed = path != nullptr && *path != '\0' && std::strlen(path) < sizeof armedFile;
    if (fileArmed)
        std::strcpy(armedFile, path);
}

void armInterruptChild(pid_t child)
{
    CleanupHeld held;
    armedChild = child;
}

void armInterruptFolders(const std::vector<std::string>& folders)
{
    CleanupHeld held;
    std::size_t bytes = 0;
    for (const std::string& folder : folders)
        bytes += folder.size() + 1;
    armedFolderBytes = 0;
    if (bytes > sizeof armedFolders)
        return;
    for (const std::string& folder : folders) {
        std::memcpy(armedFolders + armedFolderBytes, folder.c_str(), folder.size() + 1);
        armedFolderBytes += folder.size() + 1;
    }
}

CleanupHeld::CleanupHeld()
{
    if (heldDepth++ > 0)
        return;
    const sigset_t set = interruptSignals();
    ::sigprocmask(SIG_BLOCK, &set, &previous_);
    while (busy.test_and_set(std::memory_order_acquire)) {
    }
}

CleanupHeld::~CleanupHeld()
{
    if (--heldDepth > 0)
        return;
    busy.clear(std::memory_order_release);
    ::sigprocmask(SIG_SETMASK, &previous_, nullptr);
}

}  // namespace output
