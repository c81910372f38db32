#include "log_file.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace sdl_platform {

std::FILE* openLog(const char* path)
{
    const int fd = ::open(path, O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0666);
    if (fd < 0) {
        const int cause = errno;
        struct stat info {};
        const bool there = ::lstat(path, &info) == 0;
        if (cause == ELOOP && there && S_ISLNK(info.st_mode))
            std::fprintf(stderr, "demo: no shader log: %s is a symbolic link, which is not followed\n", path);
        else if (cause == ENXIO && there && S_ISFIFO(info.st_mode))
            std::fprintf(stderr, "demo: no shader log: %s is a named pipe that nobody reads\n", path);
        // Otherwise (a read-only folder, a folder at the name) the log is
        // skipped without a word, as it always was.
        return nullptr;
    }
    // An ordinary file is written as usual; a pipe with a reader never makes
    // a write wait (a write that finds it full fails, and that part of the
    // log is lost).
    struct stat info {};
    if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode)) {
        const int flags = ::fcntl(fd, F_GETFL);
        if (flags >= 0)
            ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    }
    std::FILE* file = ::fdopen(fd, "wb");
    if (!file) {
        std::fprintf(stderr, "demo: no shader log: %s cannot be written (%s)\n", path, std::strerror(errno));
        ::close(fd);
    }
    return file;
}

}  // namespace sdl_platform
