#include "output_file.h"

#include "interrupt_cleanup.h"
#include "quoted.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <vector>

namespace output {
namespace {

// Links followed before giving up, as the system does (ELOOP).
constexpr int MAX_LINKS = 40;
// The name that stands for standard output.
const std::string STANDARD_OUTPUT = "-";

std::string quote(const std::string& path)
{
    return command_line::quotedPath(path);
}

// The name a chain of symbolic links ends at: `path` itself when it is not a
// link, the last name of the chain otherwise (which need not exist: a
// dangling link names the file to create). Only the last component is
// followed; links among the folders are left to the system.
std::string followLinks(const std::string& path)
{
    std::string name = path;
    for (int i = 0; i < MAX_LINKS; ++i) {
        struct stat info {};
        if (::lstat(name.c_str(), &info) != 0 || !S_ISLNK(info.st_mode))
            return name;
        std::vector<char> text(static_cast<std::size_t>(info.st_size > 0 ? info.st_size : 255) + 1);
        ssize_t length = ::readlink(name.c_str(), text.data(), text.size());
        if (length <= 0 || static_cast<std::size_t>(length) >= text.size())
            return name;
        std::string link(text.data(), static_cast<std::size_t>(length));
        name = link[0] == '/' ? link : folderOf(name) + "/" + link;
    }
    return name;
}

}  // namespace

std::string lowerExtension(const std::string& path)
{
    std::size_t slash = path.find_last_of('/');
    std::size_t dot = path.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
        return {};
    std::string ext = path.substr(dot);
    std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });
    return ext;
}

std::string folderOf(const std::string& path)
{
    std::size_t slash = path.find_last_of('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string partPathFor(const std::string& target, int serial)
{
    std::size_t slash = target.find_last_of('/');
    std::string folder = slash == std::string::npos ? "" : target.substr(0, slash + 1);
    std::string name = slash == std::string::npos ? target : target.substr(slash + 1);
    std::string ext = lowerExtension(name);
    std::string stem = name.substr(0, name.size() - ext.size());
    return folder + "." + stem + ".part-" + std::to_string(::getpid()) + "-" + std::to_string(serial) + ext;
}

bool planOutput(const std::string& path, bool dashIsStandardOutput, OutputPlan& plan, std::string& error)
{
    plan = OutputPlan{};
    plan.userPath = path;
    if (path.empty()) {
        error = "no output file named";
        return false;
    }
    if (dashIsStandardOutput && path == STANDARD_OUTPUT) {
        plan.kind = OutputKind::StandardOutput;
        plan.target = STANDARD_OUTPUT;
        return true;
    }
    struct stat info {};
    if (::stat(path.c_str(), &info) == 0) {
        if (S_ISDIR(info.st_mode)) {
            error = quote(path) + " is a folder; name a file";
            return false;
        }
        if (!S_ISREG(info.st_mode)) {
            plan.kind = OutputKind::InPlace;
            plan.target = path;
            return true;
        }
        // A regular file, maybe behind links: the file they end at is replaced.
        const std::string resolved = followLinks(path);
        struct stat resolvedInfo {};
        if (::lstat(resolved.c_str(), &resolvedInfo) != 0 || !S_ISREG(resolvedInfo.st_mode) ||
            resolvedInfo.st_dev != info.st_dev || resolvedInfo.st_ino != info.st_ino) {
            // No name leads to the same file again (a descriptor's link in
            // /proc to a deleted file, say): it can only be written in place.
            plan.kind = OutputKind::InPlace;
            plan.target = path;
            return true;
        }
        plan.kind = OutputKind::ReplaceFile;
        plan.target = resolved;
        plan.mode = info.st_mode & 07777;
        plan.owner = info.st_uid;
        plan.group = info.st_gid;
    } else {
        const int cause = errno;
        if (path.back() == '/') {
            error = quote(path) + " ends in '/', which names a folder; name a file";
            return false;
        }
        if (cause != ENOENT && cause != ENOTDIR) {
            error = "cannot write " + quote(path) + ": " + std::strerror(cause);
            return false;
        }
        plan.kind = OutputKind::NewFile;
        plan.target = followLinks(path);
    }
    // The folder that takes the temporary file and the rename.
    const std::string folder = folderOf(plan.target);
    if (::stat(folder.c_str(), &info) != 0) {
        error = "cannot write " + quote(path) + ": " +
                (errno == ENOENT || errno == ENOTDIR ? "there is no folder " + quote(folder)
                                                     : std::string(std::strerror(errno)));
        return false;
    }
    if (!S_ISDIR(info.st_mode)) {
        error = "cannot write " + quote(path) + ": " + quote(folder) + " is not a folder";
        return false;
    }
    if (::access(folder.c_str(), W_OK | X_OK) != 0) {
        error = "cannot write " + quote(path) + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

OutputFile::~OutputFile()
{
    if (!committed_)
        abort();
}

std::string OutputFile::failure(const std::string& what, int errorNumber) const
{
    return what + " " + quote(plan_.userPath) + ": " + std::strerror(errorNumber);
}

bool OutputFile::open(const OutputPlan& plan, std::string& error)
{
    return start(plan, true, error);
}

bool OutputFile::reserve(const OutputPlan& plan, std::string& error)
{
    if (plan.kind == OutputKind::StandardOutput) {
        plan_ = plan;
        error = "standard output cannot be handed to another program by name";
        return false;
    }
    return start(plan, false, error);
}

bool OutputFile::start(const OutputPlan& plan, bool keepOpen, std::string& error)
{
    abort();
    plan_ = plan;
    committed_ = false;
    switch (plan.kind) {
    case OutputKind::StandardOutput:
        fd_ = STDOUT_FILENO;
        ownsFd_ = false;
        writePath_ = STANDARD_OUTPUT;
        return true;
    case OutputKind::InPlace: {
        writePath_ = plan.target;
        if (!keepOpen)
            return true;
        // No O_CREAT: the output exists; a regular file reached only in
        // place is emptied first, a device or pipe has nothing to empty.
        struct stat info {};
        const bool regular = ::stat(plan.target.c_str(), &info) == 0 && S_ISREG(info.st_mode);
        fd_ = ::open(plan.target.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC | (regular ? O_TRUNC : 0));
        if (fd_ < 0) {
            error = failure("cannot write", errno);
            return false;
        }
        ownsFd_ = true;
        return true;
    }
    case OutputKind::NewFile:
    case OutputKind::ReplaceFile:
        break;
    }
    int fd = -1;
    for (int serial = 0; fd < 0; ++serial) {
        // The temporary file exists only armed for the interrupt cleanup.
        CleanupHeld held;
        temporaryPath_ = partPathFor(plan.target, serial);
        fd = ::open(temporaryPath_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && (errno != EEXIST || serial >= 1000)) {
            error = failure("cannot write", errno);
            temporaryPath_.clear();
            return false;
        }
        if (fd >= 0)
            armInterruptFile(temporaryPath_.c_str());
    }
    writePath_ = temporaryPath_;
    if (plan.kind == OutputKind::ReplaceFile) {
        // The owner only where the system allows it (root); then the mode,
        // which a change of owner may have cut.
        int ignored = ::fchown(fd, plan.owner, plan.group);
        (void)ignored;
        if (::fchmod(fd, plan.mode) != 0) {
            error = failure("cannot keep the permissions of", errno);
            ::close(fd);
            abort();
            return false;
        }
    }
    if (keepOpen) {
        fd_ = fd;
        ownsFd_ = true;
    } else {
        ::close(fd);
    }
    return true;
}

bool OutputFile::write(const void* data, std::size_t size, std::string& error)
{
    if (fd_ < 0) {
        error = "cannot write " + quote(plan_.userPath) + ": it is not open";
        return false;
    }
    const char* bytes = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t written = ::write(fd_, bytes, size);
        if (written < 0) {
            if (errno == EINTR)
                continue;
            error = failure("cannot write", errno);
            return false;
        }
        bytes += written;
        size -= static_cast<std::size_t>(written);
    }
    return true;
}

bool OutputFile::commit(std::string& error)
{
    if (ownsFd_ && fd_ >= 0) {
        // A temporary file reaches the disk before it takes the target's
        // name; a full disk may show only here or at the close.
        if (!temporaryPath_.empty() && ::fsync(fd_) != 0) {
            error = failure("cannot write", errno);
            abort();
            return false;
        }
        const int result = ::close(fd_);
        fd_ = -1;
        if (result != 0 && errno != EINTR) {
            error = failure("cannot write", errno);
            abort();
            return false;
        }
    }
    fd_ = -1;
    if (!temporaryPath_.empty()) {
        CleanupHeld held;  // renamed and disarmed together
        if (::rename(temporaryPath_.c_str(), plan_.target.c_str()) != 0) {
            error = failure("cannot write", errno);
            abort();
            return false;
        }
        armInterruptFile(nullptr);
        temporaryPath_.clear();
    }
    committed_ = true;
    return true;
}

void OutputFile::abort()
{
    if (ownsFd_ && fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
    ownsFd_ = false;
    if (!temporaryPath_.empty()) {
        CleanupHeld held;  // removed and disarmed together
        ::unlink(temporaryPath_.c_str());
        armInterruptFile(nullptr);
    }
    temporaryPath_.clear();
    writePath_.clear();
}

}  // namespace output
