#pragma once

// The pieces of running an encoder program (the distribution's ffmpeg) that
// every tool does alike: pipes whose ends it does not inherit by accident,
// the signal set-up that lets its end be seen, its start in a process group
// of its own, armed as the interrupt cleanup's child, and its end reaped
// without ever leaving the cleanup a stale process number. POSIX only.

#include <sys/types.h>

#include <string>
#include <utility>
#include <vector>

namespace output {

// A pipe whose two ends are at descriptor 10 or above and closed on exec, so
// that a child inherits only the ends dup2'ed into place for it.
bool makeChildPipe(int fds[2]);

// Closes `fd` if open and marks it closed.
void closeFd(int& fd);

// SIGPIPE ignored, so that a child that went away shows as a failed write
// rather than ending this process; SIGCHLD at its default action, so that
// the child's end is there to wait for even when this process was started
// with it ignored (its children would be reaped unseen).
void prepareForChildren();

// Starts `program` (looked up on PATH where `searchPath`) with `argv`, each
// (descriptor, place) of `placed` dup2'ed into place, the default signal
// dispositions, an empty mask and a process group of its own: the terminal's
// Ctrl-C reaches only this process, which then stops the child itself. The
// child is armed for the interrupt cleanup from the moment it exists.
// Returns 0, or posix_spawn's error number.
int spawnArmedChild(const char* program, bool searchPath, char* const argv[],
                    const std::vector<std::pair<int, int>>& placed, pid_t& pid);

// Waits for the armed child `pid`, disarms it, reaps it and sets `pid` to -1:
// waited for without reaping first, so that the interrupt cleanup never kills
// a number that another process may have taken since. Empty when it exited
// with 0; else what happened, naming it `name` ("ffmpeg exited with status 1").
std::string reapArmedChild(pid_t& pid, const std::string& name);

// The last non-empty line of `text` (what a child said on its standard error).
std::string lastLine(const std::string& text);

}  // namespace output
