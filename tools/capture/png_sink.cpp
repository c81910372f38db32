#include "png_sink.h"

#include <png.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>

namespace {

struct PngError {
    std::string message;
};

void onPngError(png_structp png, png_const_charp message)
{
    auto* error = static_cast<PngError*>(png_get_error_ptr(png));
    error->message = message ? message : "libpng error";
    png_longjmp(png, 1);
}

void onPngWarning(png_structp, png_const_charp) {}

// libpng's error handling jumps out with longjmp: keep this function free of
// objects with destructors between setjmp and the end.
bool encode(std::FILE* file, const FrameImage& image, PngError& error)
{
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &error, onPngError, onPngWarning);
    if (!png) {
        error.message = "png_create_write_struct failed";
        return false;
    }
    png_infop info = png_create_info_struct(png);
    if (!info) {
        png_destroy_write_struct(&png, nullptr);
        error.message = "png_create_info_struct failed";
        return false;
    }
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return false;
    }
    png_init_io(png, file);
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

}  // namespace

bool writePngFile(const std::string& path, const FrameImage& image, std::string& error)
{
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) {
        error = "cannot create " + path + ": " + std::strerror(errno);
        return false;
    }
    PngError pngError;
    bool ok = encode(file, image, pngError);
    if (!ok)
        error = "cannot write " + path + ": " + pngError.message;
    if (std::fflush(file) != 0 && ok) {
        error = "cannot write " + path + ": " + std::strerror(errno);
        ok = false;
    }
    if (std::fclose(file) != 0 && ok) {
        error = "cannot write " + path + ": " + std::strerror(errno);
        ok = false;
    }
    return ok;
}

PngSink::PngSink(std::string path, bool singleFile) : path_(std::move(path)), singleFile_(singleFile) {}

PngSink::~PngSink()
{
    abort();
}

std::string PngSink::frameFileName(std::uint32_t timeMs)
{
    char name[64];
    std::snprintf(name, sizeof name, "frame-%03u.%03u.png", timeMs / 1000u, timeMs % 1000u);
    return name;
}

bool PngSink::begin(int, int, std::string& error)
{
    // The folder of a single file, or the folder itself, is created if missing.
    const std::filesystem::path folder =
        singleFile_ ? std::filesystem::path(path_).parent_path() : std::filesystem::path(path_);
    if (folder.empty())
        return true;
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    if (ec || !std::filesystem::is_directory(folder)) {
        error = "cannot create folder " + folder.string() + (ec ? ": " + ec.message() : std::string());
        return false;
    }
    return true;
}

bool PngSink::frame(std::uint32_t timeMs, const FrameImage& image, std::string& error)
{
    const std::filesystem::path target =
        singleFile_ ? std::filesystem::path(path_) : std::filesystem::path(path_) / frameFileName(timeMs);
    // The temporary file lies next to the target, so that the rename stays
    // within one file system and replaces the target in one step.
    std::filesystem::path temp = target;
    temp += ".part-" + std::to_string(::getpid());
    pendingTemp_ = temp.string();
    if (!writePngFile(pendingTemp_, image, error)) {
        abort();
        return false;
    }
    std::error_code ec;
    std::filesystem::rename(temp, target, ec);
    if (ec) {
        error = "cannot rename " + pendingTemp_ + " to " + target.string() + ": " + ec.message();
        abort();
        return false;
    }
    pendingTemp_.clear();
    written_.push_back(target.string());
    return true;
}

bool PngSink::finish(std::string&)
{
    return true;
}

void PngSink::abort()
{
    if (!pendingTemp_.empty()) {
        std::error_code ec;
        std::filesystem::remove(pendingTemp_, ec);
        pendingTemp_.clear();
    }
}
