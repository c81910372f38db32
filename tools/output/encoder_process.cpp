#include "encoder_process.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>

#include "child_process.h"

namespace output {
namespace {

// How much of the encoder's messages is kept for an error report.
constexpr std::size_t MESSAGES_TAIL_BYTES = 2048;

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
    prepareForChildren();
    int input[2], messages[2];
    if (!makeChildPipe(input)) {
        error = std::string("cannot make a pipe: ") + std::strerror(errno);
        return false;
    }
    if (!makeChildPipe(messages)) {
        error = std::string("cannot make a pipe: ") + std::strerror(errno);
        ::close(input[0]), ::close(input[1]);
        return false;
    }
    std::vector<std::string> copies = arguments;
    std::vector<char*> argv;
    for (std::string& argument : copies)
        argv.push_back(argument.data());
    argv.push_back(nullptr);

    const int spawned =
        spawnArmedChild(argv[0], true, argv.data(), {{input[0], STDIN_FILENO}, {messages[1], STDERR_FILENO}}, pid_);
    ::close(input[0]);
    ::close(messages[1]);
    inputFd_ = input[1];
    messagesFd_ = messages[0];
    if (spawned != 0) {
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
    if (pid_ > 0)
        failure = reapArmedChild(pid_, "the encoder");
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
