#include "encoder_process.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>

#include "interrupt_cleanup.h"

extern char** environ;

namespace output {
namespace {

// How much of the encoder's messages is kept for an error report.
constexpr std::size_t MESSAGES_TAIL_BYTES = 2048;

// A pipe whose two ends are above the standard descriptors and closed on
// exec, so that the encoder inherits only the ends dup2'ed into place for it.
bool makePipe(int fds[2])
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
        if (fds[i] >= 0) ::close(fds[i]);
    return false;
}

void closeFd(int& fd)
{
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

// The last non-empty line of what the encoder said.
std::string lastLine(const std::string& text)
{
    const std::size_t end = text.find_last_not_of("\r\n ");
    if (end == std::string::npos)
        return {};
    const std::size_t newline = text.find_last_of("\r\n", end);
    const std::size_t start = newline == std::string::npos ? 0 : newline + 1;
    return text.substr(start, end + 1 - start);
}

}  // namespace

std::string findOnPath(const std::string& program)
{
    auto executable = [](const std::string& path) {
        struct stat info {};
        return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && ::access(path.c_str(), X_OK) == 0;
    };
    if (program.empty())
        return {};
    if (program.find('/') != std::string::npos)
        return executable(program) ? program : std::string();
    const char* path = std::getenv("PATH");
    const std::string folders = path ? path : "/usr/local/bin:/usr/bin:/bin";
    std::size_t start = 0;
    while (start <= folders.size()) {
        std::size_t end = folders.find(':', start);
        if (end == std::string::npos)
            end = folders.size();
        const std::string folder = folders.substr(start, end - start);
        const std::string candidate = (folder.empty() ? "." : folder) + "/" + program;
        if (executable(candidate))
            return candidate;
        start = end + 1;
    }
    return {};
}

EncoderProcess::~EncoderProcess() { kill(); }

bool EncoderProcess::start(const std::vector<std::string>& arguments, std::string& error)
{
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    ::sigaction(SIGPIPE, &ignore, nullptr);
    struct sigaction byDefault {};
    byDefault.sa_handler = SIG_DFL;
    ::sigaction(SIGCHLD, &byDefault, nullptr);

    int input[2], messages[2];
    if (!makePipe(input)) {
        error = std::string("cannot make a pipe: ") + std::strerror(errno);
        return false;
    }
    if (!makePipe(messages)) {
        error = std::string("cannot make a pipe: ") + std::strerror(errno);
        ::close(input[0]), ::close(input[1]);
        return false;
    }
    std::vector<std::string> copies = arguments;
    std::vector<char*> argv;
    for (std::string& argument : copies)
        argv.push_back(argument.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, input[0], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, messages[1], STDERR_FILENO);
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
        spawned = ::posix_spawnp(&pid_, argv[0], &actions, &attributes, argv.data(), environ);
        if (spawned == 0)
            armInterruptChild(pid_);
    }
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    ::close(input[0]);
    ::close(messages[1]);
    inputFd_ = input[1];
    messagesFd_ = messages[0];
    if (spawned != 0) {
        pid_ = -1;
        closeFd(inputFd_);
        closeFd(messagesFd_);
        error = spawned == ENOENT ? arguments[0] + " not found on PATH (on Debian: apt-get install " + arguments[0] + ")"
                                  : "cannot start " + arguments[0] + ": " + std::strerror(spawned);
        return false;
    }
    messages_.clear();
    messagesThread_ = std::thread(&EncoderProcess::readMessages, this);
    return true;
}

void EncoderProcess::readMessages()
{
    char buffer[1024];
    for (;;) {
        const ssize_t got = ::read(messagesFd_, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        messages_.append(buffer, static_cast<std::size_t>(got));
        if (messages_.size() > 2 * MESSAGES_TAIL_BYTES)
            messages_.erase(0, messages_.size() - MESSAGES_TAIL_BYTES);
    }
}

bool EncoderProcess::write(const void* data, std::size_t size, std::string& error)
{
    const char* bytes = static_cast<const char*>(data);
    while (size > 0 && inputFd_ >= 0) {
        const ssize_t written = ::write(inputFd_, bytes, size);
        if (written < 0 && errno == EINTR)
            continue;
        if (written < 0) {
            error = std::string("the encoder stopped reading (") + std::strerror(errno) + ")";
            return false;
        }
        bytes += written;
        size -= static_cast<std::size_t>(written);
    }
    if (size == 0)
        return true;
    error = "the encoder is not running";
    return false;
}

std::string EncoderProcess::collect()
{
    closeFd(inputFd_);
    std::string failure;
    if (pid_ > 0) {
        // Waited for without reaping, then disarmed, then reaped: the
        // interrupt cleanup never kills a number that another process may
        // have taken since.
        siginfo_t ended{};
        while (::waitid(P_PID, static_cast<id_t>(pid_), &ended, WEXITED | WNOWAIT) < 0 && errno == EINTR) {
        }
        armInterruptChild(-1);
        int status = 0;
        pid_t waited;
        while ((waited = ::waitpid(pid_, &status, 0)) < 0 && errno == EINTR) {
        }
        pid_ = -1;
        if (waited < 0)
            failure = std::string("how the encoder ended cannot be known (") + std::strerror(errno) + ")";
        else if (WIFEXITED(status) && WEXITSTATUS(status) != 0)
            failure = "the encoder exited with status " + std::to_string(WEXITSTATUS(status));
        else if (WIFSIGNALED(status))
            failure = "the encoder ended by signal " + std::to_string(WTERMSIG(status));
    }
    if (messagesThread_.joinable())
        messagesThread_.join();
    closeFd(messagesFd_);
    return failure;
}

bool EncoderProcess::finish(std::string& error)
{
    std::string failure = collect();
    const std::string said = lastLine(messages_);
    // Told to say errors only, an encoder that said something failed even
    // where it ended with 0 (ffmpeg may, on a write error at the very end).
    if (failure.empty() && !said.empty())
        failure = "the encoder reported an error";
    if (failure.empty())
        return true;
    error = said.empty() ? failure : failure + ": " + said;
    return false;
}

void EncoderProcess::kill()
{
    if (pid_ > 0)
        ::kill(pid_, SIGKILL);
    collect();
}

}  // namespace output
