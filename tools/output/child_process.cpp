#include "child_process.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>

#include "interrupt_cleanup.h"

extern char** environ;

namespace output {

bool makeChildPipe(int fds[2])
{
    int raw[2];
    if (::pipe2(raw, O_CLOEXEC) != 0)
        return false;
    for (int i = 0; i < 2; ++i) {
        fds[i] = ::fcntl(raw[i], F_DUPFD_CLOEXEC, 10);
        ::close(raw[i]);
    }
    if (fds[0] >= 0 && fds[1] >= 0)
        return true;
    for (int i = 0; i < 2; ++i)
        closeFd(fds[i]);
    return false;
}

void closeFd(int& fd)
{
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

void prepareForChildren()
{
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    ::sigaction(SIGPIPE, &ignore, nullptr);
    struct sigaction byDefault {};
    byDefault.sa_handler = SIG_DFL;
    ::sigaction(SIGCHLD, &byDefault, nullptr);
}

int spawnArmedChild(const char* program, bool searchPath, char* const argv[],
                    const std::vector<std::pair<int, int>>& placed, pid_t& pid)
{
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    for (const auto& [fd, place] : placed)
        posix_spawn_file_actions_adddup2(&actions, fd, place);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t defaults, empty;
    sigemptyset(&defaults);
    for (int signal : {SIGPIPE, SIGINT, SIGTERM, SIGHUP, SIGCHLD})
        sigaddset(&defaults, signal);
    sigemptyset(&empty);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setsigmask(&attributes, &empty);
    posix_spawnattr_setpgroup(&attributes, 0);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETPGROUP);
    int spawned = 0;
    {
        // Started and armed in one step: an interruption never finds it unarmed.
        CleanupHeld held;
        spawned = searchPath ? ::posix_spawnp(&pid, program, &actions, &attributes, argv, environ)
                             : ::posix_spawn(&pid, program, &actions, &attributes, argv, environ);
        if (spawned == 0)
            armInterruptChild(pid);
    }
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    if (spawned != 0)
        pid = -1;
    return spawned;
}

std::string reapArmedChild(pid_t& pid, const std::string& name)
{
    siginfo_t ended{};
    while (::waitid(P_PID, static_cast<id_t>(pid), &ended, WEXITED | WNOWAIT) < 0 && errno == EINTR) {
    }
    armInterruptChild(-1);
    int status = 0;
    pid_t waited;
    while ((waited = ::waitpid(pid, &status, 0)) < 0 && errno == EINTR) {
    }
    const int cause = errno;
    pid = -1;
    if (waited < 0)
        return "how " + name + " ended cannot be known (" + std::strerror(cause) + ")";
    if (WIFEXITED(status) && WEXITSTATUS(status) != 0)
        return name + " exited with status " + std::to_string(WEXITSTATUS(status));
    if (WIFSIGNALED(status))
        return name + " ended by signal " + std::to_string(WTERMSIG(status));
    return {};
}

std::string lastLine(const std::string& text)
{
    const std::size_t end = text.find_last_not_of("\r\n ");
    if (end == std::string::npos)
        return {};
    const std::size_t newline = text.find_last_of("\r\n", end);
    const std::size_t start = newline == std::string::npos ? 0 : newline + 1;
    return text.substr(start, end + 1 - start);
}

}  // namespace output
