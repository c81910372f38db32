#pragma once

// Writes each frame to a PNG file through libpng: either one named file, or
// one file per frame named frame-SSS.mmm.png (seconds and milliseconds of the
// scene time) in a folder. Every file is written as output_file.h says: under
// a temporary name in its folder and renamed when complete (a link followed,
// an existing file's permissions kept), or in place when it is a device or a
// pipe. Folders that the sink makes are removed again when no frame reached
// them, by abort() or, on an interruption, by the interrupt cleanup
// (interrupt_cleanup.h), for which the sink arms them.

#include "frame_sink.h"
#include "output_file.h"

#include <cstdint>
#include <string>
#include <vector>

class PngSink : public FrameSink {
public:
    // `path` is a file when `singleFile` ("-": standard output), else a
    // folder (created if missing).
    PngSink(std::string path, bool singleFile);
    ~PngSink() override;

    // Before any rendering: the file or folder can be written, or made,
    // with the user's path in the message. Makes nothing.
    bool check(std::string& error) const;

    bool begin(int width, int height, std::string& error) override;
    bool frame(std::uint32_t timeMs, const FrameImage& image, std::string& error) override;
    bool finish(std::string& error) override;
    void abort() override;

    // The files written so far.
    const std::vector<std::string>& written() const { return written_; }

    // The file name of a frame in folder mode, e.g. "frame-106.500.png".
    static std::string frameFileName(std::uint32_t timeMs);

private:
    // One file to "-": standard output, written in place.
    bool toStandardOutput() const;
    // The folder that receives the files.
    std::string folder() const;

    std::string path_;
    bool singleFile_;
    output::OutputFile pending_;
    std::vector<std::string> madeFolders_;  // by begin, outermost first
    std::vector<std::string> written_;
};

// The PNG encoding of one RGB image, in memory.
bool encodePng(const FrameImage& image, std::vector<std::uint8_t>& png, std::string& error);
