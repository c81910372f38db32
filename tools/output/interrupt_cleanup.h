#pragma once

// Ctrl-C (SIGINT), SIGTERM and SIGHUP while a tool writes a temporary file:
// the handler removes the file that is armed, writes the tool's message and
// ends the process at once with 128 + the signal's number (130, 143, 129).
// Only async-signal-safe calls run in the handler. SignalsHeld keeps the
// three signals waiting while a temporary file is created and armed, so that
// no signal falls between the two.

#include <csignal>

namespace output {

// Installs the handlers; `message` (kept, not copied) is written to stderr
// when a signal ends the process.
void installInterruptCleanup(const char* message);

// The file that the handler removes; `path` is copied. Null disarms.
void armInterruptCleanup(const char* path);

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
