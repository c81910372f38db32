#include "png_sink.h"

#include "interrupt_cleanup.h"
#include "quoted.h"

#include <png.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

struct PngWrite {
    std::vector<std::uint8_t>* bytes;
    std::string message;
};

void onPngError(png_structp png, png_const_charp message)
{
    auto* write = static_cast<PngWrite*>(png_get_error_ptr(png));
    write->message = message ? message : "libpng error";
    png_longjmp(png, 1);
}

void onPngWarning(png_structp, png_const_charp) {}

void onPngData(png_structp png, png_bytep data, png_size_t size)
{
    auto* write = static_cast<PngWrite*>(png_get_io_ptr(png));
    write->bytes->insert(write->bytes->end(), data, data + size);
}

void onPngFlush(png_structp) {}

// libpng's error handling jumps out with longjmp: keep this function free of
// objects with destructors between setjmp and the end.
bool encode(const FrameImage& image, PngWrite& write)
{
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &write, onPngError, onPngWarning);
    if (!png) {
        write.message = "png_create_write_struct failed";
        return false;
    }
    png_infop info = png_create_info_struct(png);
    if (!info) {
        png_destroy_write_struct(&png, nullptr);
        write.message = "png_create_info_struct failed";
        return false;
    }
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return false;
    }
    png_set_write_fn(png, &write, onPngData, onPngFlush);
    png_set_IHDR(png, info, static_cast<png_uint_32>(image.width), static_cast<png_uint_32>(image.height), 8,
                 PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_set_compression_level(png, 6);
    png_write_info(png, info);
    for (int y = 0; y < image.height; ++y)
        png_write_row(png, const_cast<png_bytep>(image.row(y)));
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return true;
}

bool isFolder(const std::string& path)
{
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// The folders from the outermost missing one down to `folder` itself, none
// of which exists yet; empty when `folder` exists. The first existing one
// above them is left in `existing`.
std::vector<std::string> missingFolders(const std::string& folder, std::string& existing)
{
    std::vector<std::string> missing;
    std::string at = folder;
    struct stat info {};
    while (::stat(at.c_str(), &info) != 0 && (errno == ENOENT || errno == ENOTDIR)) {
        missing.insert(missing.begin(), at);
        const std::string up = output::folderOf(at);
        if (up == at)
            break;
        at = up;
    }
    existing = at;
    return missing;
}

}  // namespace

bool encodePng(const FrameImage& image, std::vector<std::uint8_t>& png, std::string& error)
{
    png.clear();
    PngWrite write{&png, {}};
    if (!encode(image, write)) {
        error = "cannot encode a PNG: " + write.message;
        return false;
    }
    return true;
}

PngSink::PngSink(std::string path, bool singleFile) : path_(std::move(path)), singleFile_(singleFile)
{
    // "frames/" and "frames" are the same folder.
    while (!singleFile_ && path_.size() > 1 && path_.back() == '/')
        path_.pop_back();
}

PngSink::~PngSink()
{
    PngSink::abort();
}

std::string PngSink::frameFileName(std::uint32_t timeMs)
{
    char name[64];
    std::snprintf(name, sizeof name, "frame-%03u.%03u.png", timeMs / 1000u, timeMs % 1000u);
    return name;
}

bool PngSink::toStandardOutput() const
{
    return singleFile_ && path_ == "-";
}

std::string PngSink::folder() const
{
    return singleFile_ ? output::folderOf(path_) : path_;
}

bool PngSink::check(std::string& error) const
{
    const std::string where = command_line::quotedPath(path_);
    std::string existing;
    const std::vector<std::string> missing = missingFolders(folder(), existing);
    if (toStandardOutput()) {
        if (::isatty(STDOUT_FILENO)) {
            error = "--out - writes the PNG file to standard output, which is a terminal; redirect it to a file or a "
                    "program";
            return false;
        }
        return true;
    }
    if (missing.empty() && singleFile_) {
        output::OutputPlan plan;
        return output::planOutput(path_, false, plan, error);
    }
    // The folder, or the first one above the missing ones, takes new entries.
    struct stat info {};
    if (::stat(existing.c_str(), &info) != 0) {
        error = "cannot write " + where + ": " + std::strerror(errno);
        return false;
    }
    if (!S_ISDIR(info.st_mode)) {
        error = "cannot write " + where + ": " + command_line::quotedPath(existing) + " is not a folder";
        return false;
    }
    if (::access(existing.c_str(), W_OK | X_OK) != 0) {
        error = "cannot write " + where + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

bool PngSink::begin(int, int, std::string& error)
{
    if (!check(error))
        return false;
    std::string existing;
    for (const std::string& missing : missingFolders(folder(), existing)) {
        // Made and armed together: an interruption removes it again while
        // no frame is in it.
        output::CleanupHeld held;
        if (::mkdir(missing.c_str(), 0777) != 0 && !(errno == EEXIST && isFolder(missing))) {
            error = "cannot create the folder " + command_line::quotedPath(missing) + ": " + std::strerror(errno);
            abort();
            return false;
        }
        madeFolders_.push_back(missing);
        output::armInterruptFolders({madeFolders_.rbegin(), madeFolders_.rend()});
    }
    return true;
}

bool PngSink::frame(std::uint32_t timeMs, const FrameImage& image, std::string& error)
{
    const std::string target = singleFile_ ? path_ : path_ + "/" + frameFileName(timeMs);
    std::vector<std::uint8_t> png;
    output::OutputPlan plan;
    if (!encodePng(image, png, error) || !output::planOutput(target, toStandardOutput(), plan, error) ||
        !pending_.open(plan, error) || !pending_.write(png.data(), png.size(), error) || !pending_.commit(error)) {
        pending_.abort();
        return false;
    }
    written_.push_back(target);
    return true;
}

bool PngSink::finish(std::string&)
{
    return true;
}

void PngSink::abort()
{
    pending_.abort();
    // A folder made for frames that never came is not left behind.
    if (written_.empty()) {
        output::CleanupHeld held;
        for (auto folder = madeFolders_.rbegin(); folder != madeFolders_.rend(); ++folder)
            ::rmdir(folder->c_str());
        madeFolders_.clear();
        output::armInterruptFolders({});
    }
}
