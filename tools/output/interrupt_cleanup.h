#pragma once

// How every tool ends on Ctrl-C (SIGINT), SIGTERM and SIGHUP: at once, at any
// moment — inside a frame that a software renderer takes a minute to draw,
// or while an output waits in open() or write() for a reader that does not
// come — with 128 + the signal's number (130, 143, 129) and nothing left
// behind. The handler kills and reaps the child process that is armed (an
// encoder writing the output), removes the temporary file that is armed
// (OutputFile arms its own) and the folders that are armed when they are
// empty, writes the tool's message and ends the process. Only
// async-signal-safe calls run in it.
//
// A tool calls installInterruptCleanup once, first thing after reading its
// arguments. CleanupHeld makes a change on disk and the armed state that
// names it one step (a temporary file is never there unarmed, nor armed
// once renamed), whichever thread the signal lands on.

#include <sys/types.h>

#include <csignal>
#include <string>
#include <vector>

namespace output {

// Installs the handlers; `message` (kept, not copied) is written to stderr
// when a signal ends the process. SIGPIPE is ignored from then on, so that a
// reader that goes away shows as a failed write, which the tool reports.
void installInterruptCleanup(const char* message);

// What the handler cleans up; each call replaces what was armed before.
// The file that it removes (copied; null: none).
void armInterruptFile(const char* path);
// The child process that it kills and reaps before anything else (-1: none).
void armInterruptChild(pid_t child);
// Folders that it removes if they are empty, in the order given (innermost
// first); none when they do not fit in its fixed store of 8 KiB of names.
void armInterruptFolders(const std::vector<std::string>& folders);

// Holds the handler back for its lifetime: on this thread the three signals
// wait, and a handler that runs on another thread waits for its end. Only
// around short steps (creating, renaming, removing a file), never around a
// wait. May be nested.
class CleanupHeld {
public:
    CleanupHeld();
    ~CleanupHeld();
    CleanupHeld(const CleanupHeld&) = delete;
    CleanupHeld& operator=(const CleanupHeld&) = delete;

private:
    sigset_t previous_;
};

}  // namespace output
