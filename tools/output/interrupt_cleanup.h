#pragma once

// Ctrl-C (SIGINT), SIGTERM and SIGHUP while a tool writes a temporary file:
// the handler stops the child process that is armed (an encoder writing the
// file), removes the file that is armed, writes the tool's message and ends
// the process at once with 128 + the signal's number (130, 143, 129), even
// in the middle of a frame that a software renderer takes a minute to draw.
// Only async-signal-safe calls run in the handler. SignalsHeld keeps the
// three signals waiting while a temporary file is created and armed, so that
// no signal falls between the two.

#include <sys/types.h>

#include <csignal>

namespace output {

// Installs the handlers; `message` (kept, not copied) is written to stderr
// when a signal ends the process.
void installInterruptCleanup(const char* message);

// The file that the handler removes (`path` is copied; null disarms) and the
// child process that it kills and reaps first (-1: none).
void armInterruptCleanup(const char* path, pid_t child = -1);

// Holds SIGINT, SIGTERM and SIGHUP back for its lifetime.
class SignalsHeld {
public:
    SignalsHeld();
    ~SignalsHeld();
    SignalsHeld(const SignalsHeld&) = delete;
    SignalsHeld& operator=(const SignalsHeld&) = delete;

private:
    sigset_t previous_;
};

}  // namespace output
