#include "video_encoder.h"

#include "container_check.h"
#include "child_process.h"
#include "encoder_process.h"
#include "interrupt_cleanup.h"
#include "quoted.h"
#include "output_check.h"
#include "video_timeline.h"

#include <algorithm>
#include <bit>
#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace video {
namespace {

using output::closeFd;

static_assert(std::endian::native == std::endian::little, "the sound goes to ffmpeg as f32le");

// The descriptor on which ffmpeg reads the sound.
constexpr int AUDIO_FD_IN_ENCODER = 3;
// Stereo frames per write of the audio thread (a little under 0.1 s).
constexpr std::size_t AUDIO_CHUNK_FRAMES = 4096;
// The output name that stands for standard output.
const std::string STANDARD_OUTPUT = "-";
// How much of ffmpeg's messages is kept for an error report.
constexpr std::size_t LOG_TAIL_BYTES = 2048;

// Writes all of `size` bytes; false with errno set on failure.
bool writeAll(int fd, const void* data, std::size_t size)
{
    const char* bytes = static_cast<const char*>(data);
    while (size > 0) {
        ssize_t written = ::write(fd, bytes, size);
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        bytes += written;
        size -= static_cast<std::size_t>(written);
    }
    return true;
}

// The errors that mean the output could not be written, as the system words
// them: the one cause a failed capture then names.
constexpr int WRITE_ERRORS[] = {ENOSPC, EDQUOT, EFBIG, EIO, EROFS};

// The first of WRITE_ERRORS that ffmpeg's messages name; 0 if none.
int writeErrorIn(const std::string& log)
{
    for (int number : WRITE_ERRORS)
        if (log.find(std::strerror(number)) != std::string::npos)
            return number;
    return 0;
}

}  // namespace

std::vector<std::string> ffmpegArguments(const EncoderSettings& s, const std::string& partPath, int audioFd)
{
    int outWidth = s.outWidth > 0 ? s.outWidth : s.width;
    int outHeight = s.outHeight > 0 ? s.outHeight : s.height;
    std::vector<std::string> args = {
        "-hide_banner", "-nostdin", "-loglevel", "error", "-y",
        // Progress as key=value lines among the messages: the last one says
        // how many bytes the muxer wrote in all ("total_size") and that it
        // ended ("progress=end").
        "-nostats", "-progress", "pipe:2",
        // The picture: raw RGB frames, rows top first, at a fixed rate.
        "-f", "rawvideo", "-pix_fmt", "rgb24",
        "-video_size", std::to_string(s.width) + "x" + std::to_string(s.height),
        "-framerate", std::to_string(s.fps), "-i", "pipe:0",
        // The sound: the song's samples as they are, 32-bit float stereo.
        "-f", "f32le", "-ar", std::to_string(AUDIO_RATE), "-ac", "2",
        "-i", "pipe:" + std::to_string(audioFd),
        "-map", "0:v:0", "-map", "1:a:0",
        // Scaled (if asked) and converted to BT.709 limited-range 4:2:0, tagged as such.
        "-vf", "scale=" + std::to_string(outWidth) + ":" + std::to_string(outHeight) +
                   ":flags=lanczos:out_color_matrix=bt709:out_range=tv,format=yuv420p",
        "-c:v", "libx264", "-preset", "medium", "-crf", std::to_string(s.crf),
        "-colorspace", "bt709", "-color_primaries", "bt709", "-color_trc", "bt709", "-color_range", "tv",
    };
    if (s.audioCodec == AudioCodec::Flac) {
        // 24-bit FLAC; in MP4 ffmpeg 5 still calls it experimental.
        for (const char* a : {"-c:a", "flac", "-sample_fmt", "s32", "-strict", "experimental"})
            args.emplace_back(a);
    } else {
        for (const char* a : {"-c:a", "aac", "-b:a", "256k"})
            args.emplace_back(a);
    }
    if (s.outputPath == STANDARD_OUTPUT) {
        // Standard output takes a stream: Matroska, which needs no seeking.
        args.emplace_back("-f");
        args.emplace_back("matroska");
    }
    std::string ext = lowerExtension(s.outputPath);
    if (ext == ".mp4" || ext == ".m4v" || ext == ".mov") {
        args.emplace_back("-movflags");
        args.emplace_back("+faststart");
    }
    args.push_back(partPath);
    return args;
}

bool checkVideoOutput(const std::string& path, output::OutputPlan& plan, std::string& error)
{
    if (!output::planOutput(path, true, plan, error))
        return false;
    if (plan.kind == output::OutputKind::StandardOutput && ::isatty(STDOUT_FILENO)) {
        error = "--video - writes the video to standard output, which is a terminal; redirect it to a file or a program";
        return false;
    }
    error = streamFault(plan, lowerExtension(path));
    return error.empty();
}

VideoEncoder::~VideoEncoder()
{
    if (!finished_)
        abort();
}

bool VideoEncoder::start(const EncoderSettings& settings, AudioProducer audio, std::string& error)
{
    settings_ = settings;
    finished_ = false;
    output::prepareForChildren();
    std::string program = output::findOnPath(settings.program);
    if (program.empty()) {
        error = settings.program + " not found on PATH; it encodes the video (on Debian: apt-get install ffmpeg)";
        return false;
    }

    // The hidden file: created here (with an old file's permissions), so
    // that an unwritable folder is found before anything starts; ffmpeg then
    // overwrites it. A device or pipe is ffmpeg's to write in place.
    output::OutputPlan plan;
    if (!checkVideoOutput(settings.outputPath, plan, error))
        return false;
    if (plan.kind == output::OutputKind::StandardOutput) {
        partPath_ = "pipe:1";  // ffmpeg inherits this process's standard output
    } else {
        if (!output_.reserve(plan, error))
            return false;  // (the hidden file is armed for the interrupt cleanup while it exists)
        partPath_ = output_.writePath();
    }

    int video[2], sound[2], log[2];
    if (!output::makeChildPipe(video)) {
        error = std::string("cannot make a pipe: ") + std::strerror(errno);
        cleanUp();
        return false;
    }
    if (!output::makeChildPipe(sound)) {
        error = std::string("cannot make a pipe: ") + std::strerror(errno);
        ::close(video[0]), ::close(video[1]);
        cleanUp();
        return false;
    }
    if (!output::makeChildPipe(log)) {
        error = std::string("cannot make a pipe: ") + std::strerror(errno);
        ::close(video[0]), ::close(video[1]), ::close(sound[0]), ::close(sound[1]);
        cleanUp();
        return false;
    }

    std::vector<std::string> args = ffmpegArguments(settings, partPath_, AUDIO_FD_IN_ENCODER);
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (std::string& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);

    // ffmpeg runs only armed: an interruption stops it before the file goes.
    const int spawned = output::spawnArmedChild(
        program.c_str(), false, argv.data(),
        {{video[0], STDIN_FILENO}, {sound[0], AUDIO_FD_IN_ENCODER}, {log[1], STDERR_FILENO}}, pid_);
    ::close(video[0]);
    ::close(sound[0]);
    ::close(log[1]);
    videoFd_ = video[1];
    audioFd_ = sound[1];
    stderrFd_ = log[0];
    if (spawned != 0) {
        error = "cannot start " + program + ": " + std::strerror(spawned);
        cleanUp();
        return false;
    }

    stopAudio_ = false;
    audioError_.clear();
    encoderLog_.clear();
    reportedBytes_ = -1;
    reportedEnd_ = false;
    stderrThread_ = std::thread(&VideoEncoder::stderrLoop, this);
    audioThread_ = std::thread(&VideoEncoder::audioLoop, this, std::move(audio));
    return true;
}

void VideoEncoder::audioLoop(AudioProducer audio)
{
    std::vector<float> chunk(2 * AUDIO_CHUNK_FRAMES);
    while (!stopAudio_) {
        std::size_t frames = audio(chunk.data(), AUDIO_CHUNK_FRAMES);
        if (frames == 0)
            break;
        if (!writeAll(audioFd_, chunk.data(), frames * 2 * sizeof(float))) {
            audioError_ = std::strerror(errno);
            break;
        }
    }
    closeFd(audioFd_);
}

void VideoEncoder::stderrLoop()
{
    char buffer[1024];
    std::string pending;  // a line not yet ended
    for (;;) {
        ssize_t got = ::read(stderrFd_, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        pending.append(buffer, static_cast<std::size_t>(got));
        std::size_t end;
        while ((end = pending.find('\n')) != std::string::npos) {
            takeLine(pending.substr(0, end));
            pending.erase(0, end + 1);
        }
        if (pending.size() > LOG_TAIL_BYTES) {  // a line without end: kept as a message
            takeLine(pending);
            pending.clear();
        }
    }
    if (!pending.empty())
        takeLine(pending);
}

void VideoEncoder::takeLine(const std::string& line)
{
    // A progress line: a lower-case key, '=' and its value.
    const std::size_t equals = line.find('=');
    if (equals != std::string::npos && equals > 0 &&
        line.find_first_not_of("abcdefghijklmnopqrstuvwxyz0123456789_") == equals) {
        const std::string key = line.substr(0, equals);
        const std::string value = line.substr(equals + 1);
        if (key == "total_size")
            reportedBytes_ = !value.empty() && value.find_first_not_of("0123456789") == std::string::npos
                                 ? std::stoll(value)
                                 : -1;
        else if (key == "progress" && value == "end")
            reportedEnd_ = true;
        return;
    }
    if (line.find_first_not_of("\r ") == std::string::npos || line.find("Last message repeated") != std::string::npos)
        return;
    encoderLog_ += line + "\n";
    if (encoderLog_.size() > 2 * LOG_TAIL_BYTES)
        encoderLog_.erase(0, encoderLog_.size() - LOG_TAIL_BYTES);
}

bool VideoEncoder::writeFrame(const std::uint8_t* rgb, std::string& error)
{
    if (videoFd_ < 0) {
        error = "the encoder is not running";
        return false;
    }
    std::size_t size = static_cast<std::size_t>(settings_.width) * settings_.height * 3;
    if (writeAll(videoFd_, rgb, size))
        return true;
    std::string cause = std::strerror(errno);
    closeFd(videoFd_);
    std::string failure = collect();
    error = explain("ffmpeg stopped taking frames (" + cause + ")" + (failure.empty() ? "" : ": " + failure));
    cleanUp();
    return false;
}

std::string VideoEncoder::collect()
{
    closeFd(videoFd_);
    if (audioThread_.joinable())
        audioThread_.join();
    std::string failure;
    if (pid_ > 0)
        failure = output::reapArmedChild(pid_, "ffmpeg");
    if (stderrThread_.joinable())
        stderrThread_.join();
    closeFd(stderrFd_);
    if (failure.empty() && !audioError_.empty())
        failure = "the sound could not be handed to ffmpeg (" + audioError_ + ")";
    std::string said = output::lastLine(encoderLog_);
    if (!failure.empty() && !said.empty())
        failure += ": " + said;
    return failure;
}

bool VideoEncoder::finish(std::string& error)
{
    if (partPath_.empty()) {
        error = "the encoder is not running";
        return false;
    }
    std::string failure = collect();
    if (failure.empty())
        failure = wholeFileFault();
    if (!failure.empty()) {
        error = explain(failure);
        cleanUp();
        return false;
    }
    if (!output_.commit(error)) {  // renamed and disarmed together
        cleanUp();
        return false;
    }
    partPath_.clear();
    finished_ = true;
    return true;
}

std::string VideoEncoder::wholeFileFault()
{
    // With "-loglevel error" whatever ffmpeg says is an error, whatever its
    // exit status: it ends with 0 after a trailer it could not write.
    const std::string said = output::lastLine(encoderLog_);
    if (!said.empty())
        return "ffmpeg reported an error: " + said;
    if (!reportedEnd_)
        return "ffmpeg did not report the end of its output";
    if (output_.temporaryPath().empty())
        return {};  // a device or pipe written in place: nothing to read back
    // The file as it is on the disk, flushed there first: its size is what
    // the muxer wrote, and its container's last parts are in it.
    const int fd = ::open(partPath_.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return std::string("the video cannot be read back (") + std::strerror(errno) + ")";
    struct stat info {};
    std::string fault;
    if (::fsync(fd) != 0)
        fault = std::string("the video cannot be flushed to the disk (") + std::strerror(errno) + ")";
    else if (::fstat(fd, &info) != 0)
        fault = std::string("the video's size cannot be read (") + std::strerror(errno) + ")";
    else if (reportedBytes_ >= 0 && info.st_size != reportedBytes_)
        fault = "the file holds " + std::to_string(info.st_size) + " bytes of the " + std::to_string(reportedBytes_) +
                " that ffmpeg wrote";
    else if (std::string why = containerFault(fd, static_cast<std::uint64_t>(info.st_size),
                                              lowerExtension(settings_.outputPath));
             !why.empty())
        fault = "ffmpeg did not finish the video: " + why;
    ::close(fd);
    return fault;
}

std::string VideoEncoder::explain(const std::string& failure) const
{
    // A cause of the system's, as ffmpeg quotes it, or a full disk seen here.
    int cause = writeErrorIn(encoderLog_);
    struct statvfs disk {};
    if (cause == 0 && !output_.temporaryPath().empty() &&
        ::statvfs(folderOf(output_.temporaryPath()).c_str(), &disk) == 0 && disk.f_bavail == 0)
        cause = ENOSPC;
    if (cause == 0)
        return failure;
    return "cannot write " + command_line::quotedPath(settings_.outputPath) + ": " + std::strerror(cause) +
           " (ffmpeg could not finish it; nothing is left)";
}

void VideoEncoder::abort()
{
    stopAudio_ = true;
    if (pid_ > 0)
        ::kill(pid_, SIGKILL);  // the audio thread's pending write then fails
    collect();
    cleanUp();
}

void VideoEncoder::cleanUp()
{
    closeFd(videoFd_);
    closeFd(audioFd_);
    closeFd(stderrFd_);
    output::armInterruptChild(-1);
    output_.abort();  // removed and disarmed together
    partPath_.clear();
}

}  // namespace video
