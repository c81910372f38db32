#pragma once

// Ctrl-C (SIGINT), SIGTERM and SIGHUP during a video capture: the capture
// stops at once, even in the middle of a frame that a software renderer takes
// a minute to draw. The handler stops the encoder, removes the unfinished
// file, says so and ends the process with 128 + the signal's number. Only
// async-signal-safe calls run in the handler.

#include <sys/types.h>

namespace video {

// Installs the handlers (once) and ignores SIGPIPE, so that a vanished encoder
// shows as a write error instead of ending the process.
void installInterruptHandlers();

// What the handler cleans up: the encoder's process and its unfinished file.
// `path` is copied. Either may be absent (pid <= 0, path null).
void setInterruptCleanup(pid_t encoder, const char* path);
void clearInterruptCleanup();

}  // namespace video
