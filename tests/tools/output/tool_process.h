#pragma once

// Helpers of the tools' tests (render-song, capture, the output routine):
// running a tool as a child process with its standard output and error where
// the test wants them, reading back what is left in a folder, and a small
// file system of its own that fills up (a tmpfs mounted for the test, which
// needs root; the tests that use it skip with a message where mounting is
// not allowed).

#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace tooltest {

// How a tool ended: `exited` with `code`, or ended by `signal`.
struct ToolEnd {
    bool exited = false;
    int code = -1;
    int signal = 0;
    std::string errors;  // its standard error
};

// Starts `program` with `args`. Its standard output goes to `stdoutFd`
// (/dev/null when -1), its standard error to the file `errorsPath`; the
// descriptors in `inherit` stay open in it under their numbers.
inline pid_t startTool(const std::string& program, const std::vector<std::string>& args, const std::string& errorsPath,
                       int stdoutFd = -1, const std::vector<int>& inherit = {})
{
    const pid_t pid = ::fork();
    if (pid != 0)
        return pid;
    const int out = stdoutFd >= 0 ? stdoutFd : ::open("/dev/null", O_WRONLY);
    const int errors = ::open(errorsPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (out < 0 || errors < 0 || ::dup2(out, STDOUT_FILENO) < 0 || ::dup2(errors, STDERR_FILENO) < 0)
        ::_exit(127);
    for (int fd : inherit)
        ::fcntl(fd, F_SETFD, 0);
    std::vector<std::string> copies = args;
    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (std::string& a : copies)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    ::execv(program.c_str(), argv.data());
    ::_exit(127);
}

inline std::string readText(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// The names in `folder` (hidden ones included), sorted.
inline std::vector<std::string> namesIn(const std::filesystem::path& folder)
{
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

inline ToolEnd waitTool(pid_t pid, const std::string& errorsPath)
{
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    ToolEnd end;
    end.exited = WIFEXITED(status);
    end.code = end.exited ? WEXITSTATUS(status) : -1;
    end.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
    end.errors = readText(errorsPath);
    return end;
}

inline ToolEnd runTool(const std::string& program, const std::vector<std::string>& args,
                       const std::string& errorsPath, int stdoutFd = -1, const std::vector<int>& inherit = {})
{
    return waitTool(startTool(program, args, errorsPath, stdoutFd, inherit), errorsPath);
}

// A tmpfs of `kilobytes` mounted on the (empty, existing) folder `at` for
// the object's lifetime. `mounted()` is false, with the reason in `why()`,
// where the system does not allow it.
class SmallDisk {
public:
    SmallDisk(const std::string& at, int kilobytes) : at_(at)
    {
        const std::string options = "size=" + std::to_string(kilobytes) + "k,mode=0777";
        if (::mount("tmpfs", at.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, options.c_str()) == 0)
            mounted_ = true;
        else
            why_ = std::string("cannot mount a small tmpfs to fill up: ") + std::strerror(errno);
    }
    ~SmallDisk()
    {
        if (mounted_)
            ::umount2(at_.c_str(), MNT_DETACH);
    }
    SmallDisk(const SmallDisk&) = delete;
    SmallDisk& operator=(const SmallDisk&) = delete;
    bool mounted() const { return mounted_; }
    const std::string& why() const { return why_; }

private:
    std::string at_;
    bool mounted_ = false;
    std::string why_;
};

}  // namespace tooltest
