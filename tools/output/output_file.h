#pragma once

// How the tools (render-song, capture's PNG files and videos) write their
// outputs, so that nothing is destroyed and nothing half-written is left:
//
//  - a new or existing regular file is written under a hidden temporary name
//    in the same folder and renamed over the target only when complete; an
//    existing file keeps its permissions (and, where allowed, its owner);
//  - a symbolic link is followed: its target is the file replaced, with the
//    temporary file in the target's folder, and the link stays;
//  - an existing output that is not a regular file (a device such as
//    /dev/null, a named pipe, a terminal, a pipe handed over as /dev/fd/N) is
//    written in place: nothing is created, renamed or removed, and a failed
//    write is reported;
//  - "-" may stand for standard output, written in place.
//
// planOutput looks at the path before any work is done, so that a folder, a
// missing folder or a path ending in '/' is refused with the user's path in
// the message (quoted as command_line::quotedPath quotes it). OutputFile then
// writes it, and arms its temporary file for the interrupt cleanup
// (interrupt_cleanup.h) for as long as it exists: one output at a time.
// POSIX only.

#include <sys/types.h>

#include <cstddef>
#include <string>

namespace output {

enum class OutputKind {
    NewFile,         // created under a temporary name, then renamed into place
    ReplaceFile,     // an existing regular file: replaced the same way, its permissions kept
    InPlace,         // an existing device, pipe or terminal: opened and written as it is
    StandardOutput,  // "-": descriptor 1, written as it is
};

struct OutputPlan {
    std::string userPath;  // as the user gave it, for messages
    std::string target;    // the file created or replaced (links followed), or the path opened in place
    OutputKind kind = OutputKind::NewFile;
    mode_t mode = 0;       // ReplaceFile: the existing file's permission bits
    uid_t owner = 0;       // ReplaceFile: its owner and group
    gid_t group = 0;
};

// Decides where and how `path` is written. With `dashIsStandardOutput`, "-"
// means standard output. Returns false, with one line in `error` that names
// `path`, when it cannot be an output file: empty, a folder, a name ending in
// '/', a folder that is missing, not a folder, or not writable.
bool planOutput(const std::string& path, bool dashIsStandardOutput, OutputPlan& plan, std::string& error);

// The hidden name under which an output to `target` is written until it is
// complete: ".STEM.part-PID-N.EXT" in the same folder, the extension kept
// (lower case) so that a program that picks its format by the name still can.
std::string partPathFor(const std::string& target, int serial);

// The file name's extension in lower case, with its dot (".mp4"); empty if none.
std::string lowerExtension(const std::string& path);
// The folder part of a path: "." for a bare name.
std::string folderOf(const std::string& path);

// One output being written. Every failing call returns false with one line in
// `error` naming the user's path; the temporary file is then already gone.
class OutputFile {
public:
    OutputFile() = default;
    ~OutputFile();  // abort() unless commit() succeeded
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // Opens the output for write(): a new temporary file beside the target,
    // or the target itself (in place: a pipe may wait here for its reader,
    // which the interrupt cleanup breaks off), or standard output.
    bool open(const OutputPlan& plan, std::string& error);
    // For a program that writes the output by name: creates the temporary
    // file (closed again) and leaves writePath() naming it, or, in place,
    // naming the target itself. Standard output cannot be reserved.
    bool reserve(const OutputPlan& plan, std::string& error);

    // Writes all of `size` bytes; a failure names the system's reason
    // ("No space left on device").
    bool write(const void* data, std::size_t size, std::string& error);
    // Completes the output: flushes and closes it; a temporary file gets the
    // old file's permissions and is renamed over the target.
    bool commit(std::string& error);
    // Closes the output and removes the temporary file. Safe at any time.
    void abort();

    // The name written to: the temporary file, or the target in place.
    const std::string& writePath() const { return writePath_; }
    // The temporary file; empty when the output is written in place.
    const std::string& temporaryPath() const { return temporaryPath_; }
    const OutputPlan& plan() const { return plan_; }

private:
    bool start(const OutputPlan& plan, bool keepOpen, std::string& error);
    std::string failure(const std::string& what, int errorNumber) const;

    OutputPlan plan_;
    std::string writePath_;
    std::string temporaryPath_;
    int fd_ = -1;
    bool ownsFd_ = false;
    bool committed_ = false;
};

}  // namespace output
