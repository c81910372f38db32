#pragma once

// An encoder program (the distribution's ffmpeg) that a tool hands its data
// to on a pipe: started with its standard input as that pipe and its standard
// error kept, in a process group of its own (the terminal's Ctrl-C reaches
// only the tool, whose interrupt cleanup then kills the encoder: it is armed
// as the cleanup's child for as long as it runs), with the default signal
// dispositions. The tool writes what the encoder reads, then finish() waits
// for its end and says what went wrong, if anything did. POSIX only.

#include <sys/types.h>

#include <cstddef>
#include <string>
#include <thread>
#include <vector>

namespace output {

// The full path of `program` found on PATH (or `program` itself where it
// names a path), if it is an executable file; empty if there is none: so that
// a tool can say the encoder is missing before the work that needs it.
std::string findOnPath(const std::string& program);

class EncoderProcess {
public:
    EncoderProcess() = default;
    ~EncoderProcess();  // kill() unless finish() was called
    EncoderProcess(const EncoderProcess&) = delete;
    EncoderProcess& operator=(const EncoderProcess&) = delete;

    // Starts `arguments[0]` (looked up on PATH) with the rest as its
    // arguments. SIGPIPE is ignored from then on, so that an encoder that
    // went away shows as a failed write, and SIGCHLD has its default action,
    // so that its end can be waited for. False with one line in `error` when
    // it cannot be started (a missing program named as such).
    bool start(const std::vector<std::string>& arguments, std::string& error);
    // Hands all of `size` bytes to the encoder's standard input. False when
    // the encoder no longer reads; finish() then says why.
    bool write(const void* data, std::size_t size, std::string& error);
    // Ends its input and waits for it. False with one line in `error` when it
    // did not end with status 0 or said anything on its standard error (it
    // is told to say errors only), with the last line that it said.
    bool finish(std::string& error);
    // Kills the encoder and reaps it. Safe to call at any time.
    void kill();

private:
    void readMessages();
    std::string collect();

    pid_t pid_ = -1;
    int inputFd_ = -1;
    int messagesFd_ = -1;
    std::thread messagesThread_;
    std::string messages_;  // the tail of what it said on its standard error
};

}  // namespace output
