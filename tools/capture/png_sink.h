#pragma once

#include "frame_sink.h"

#include <string>
#include <vector>

// Writes each frame to a PNG file through libpng: either one named file, or
// one file per frame named frame-SSS.mmm.png (seconds and milliseconds of the
// scene time) in a folder. Each file is written under a temporary name in the
// same folder and renamed when complete, so no half-written PNG is left.
class PngSink : public FrameSink {
public:
    // `path` is a file when `singleFile`, else a folder (created if missing).
    PngSink(std::string path, bool singleFile);
    ~PngSink() override;

    bool begin(int width, int height, std::string& error) override;
    bool frame(std::uint32_t timeMs, const FrameImage& image, std::string& error) override;
    bool finish(std::string& error) override;
    void abort() override;

    // The files written so far.
    const std::vector<std::string>& written() const { return written_; }

    // The file name of a frame in folder mode, e.g. "frame-106.500.png".
    static std::string frameFileName(std::uint32_t timeMs);

private:
    std::string path_;
    bool singleFile_;
    std::string pendingTemp_;
    std::vector<std::string> written_;
};

// Writes one RGB image as PNG to `path` directly (no temporary name).
bool writePngFile(const std::string& path, const FrameImage& image, std::string& error);
