#include "output_check.h"

#include "quoted.h"
#include "video_timeline.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace video {
namespace {

// AAC as ffmpeg is told to encode it, in bytes per second.
constexpr double AAC_BYTES_PER_SECOND = 256000.0 / 8.0;
// 24-bit stereo FLAC of the song: about three quarters of its samples' size.
constexpr double FLAC_BYTES_PER_SECOND = AUDIO_RATE * 2 * 3 * 0.75;
// H.264 at the default quality, roughly: one bit per pixel and frame.
constexpr double PICTURE_BITS_PER_PIXEL = 1.0;

std::string megabytes(std::uint64_t bytes)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.2f MB", static_cast<double>(bytes) / 1e6);
    return text;
}

}  // namespace

bool outputCanSeek(const output::OutputPlan& plan)
{
    switch (plan.kind) {
    case output::OutputKind::NewFile:
    case output::OutputKind::ReplaceFile:
        return true;
    case output::OutputKind::StandardOutput:
        return false;
    case output::OutputKind::InPlace:
        break;
    }
    struct stat info {};
    if (::stat(plan.target.c_str(), &info) != 0)
        return true;  // left to ffmpeg, which reports it
    if (S_ISREG(info.st_mode) || S_ISBLK(info.st_mode))
        return true;
    if (!S_ISCHR(info.st_mode))
        return false;  // a named pipe or a socket
    // A character device: /dev/null seeks, a terminal does not. Opened
    // without waiting and without becoming the controlling terminal.
    const int fd = ::open(plan.target.c_str(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return true;  // left to ffmpeg
    const bool seeks = ::lseek(fd, 0, SEEK_CUR) >= 0;
    ::close(fd);
    return seeks;
}

std::string streamFault(const output::OutputPlan& plan, const std::string& extension)
{
    if (extension != ".mp4" && extension != ".mov" && extension != ".m4v")
        return {};
    if (outputCanSeek(plan))
        return {};
    const std::string what = plan.kind == output::OutputKind::StandardOutput
                                 ? std::string("standard output")
                                 : command_line::quotedPath(plan.userPath) + " is a pipe or device that";
    return what + " cannot seek, and a " + extension +
           " file is finished by going back to write its index; stream a .mkv there instead";
}

VideoBytes expectedVideoBytes(AudioCodec codec, double seconds, int width, int height, int fps)
{
    const double sound = seconds * (codec == AudioCodec::Flac ? FLAC_BYTES_PER_SECOND : AAC_BYTES_PER_SECOND);
    const double picture = seconds * fps * static_cast<double>(width) * height * PICTURE_BITS_PER_PIXEL / 8.0;
    return {static_cast<std::uint64_t>(sound / 2), static_cast<std::uint64_t>(sound + picture)};
}

std::string roomFault(const output::OutputPlan& plan, const VideoBytes& bytes, std::string& warning)
{
    if (plan.kind != output::OutputKind::NewFile && plan.kind != output::OutputKind::ReplaceFile)
        return {};
    struct statvfs disk {};
    if (::statvfs(output::folderOf(plan.target).c_str(), &disk) != 0)
        return {};
    const std::uint64_t room = static_cast<std::uint64_t>(disk.f_bavail) * disk.f_frsize;
    const std::string where = command_line::quotedPath(plan.userPath);
    if (room < bytes.least)
        return "cannot write " + where + ": its disk has " + megabytes(room) + " free, and the sound alone takes " +
               megabytes(bytes.least) + " or more";
    if (room < bytes.likely)
        warning = "warning: the disk of " + where + " has " + megabytes(room) + " free; the video may take " +
                  megabytes(bytes.likely);
    return {};
}

}  // namespace video
