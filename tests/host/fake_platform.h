#pragma once

// A platform of fakes for the host's unit tests: it records every call in
// order, runs a scripted millisecond clock and Escape state, stands in for
// the OpenGL entry points, and ends the process by throwing ProcessEnd.

#include <cstdint>
#include <string>
#include <vector>

#include "platform.h"

struct ProcessEnd {
    int exitCode;
    std::string what;
};

namespace fake {

// Every call, in order, as text: "requestDisplayMode 1920 1080", "fogi 2916 0"...
extern std::vector<std::string> calls;
// The clock's readings, one per call; the last repeats.
extern std::vector<std::uint32_t> clockReadings;
// The Escape query's answers, one per call; false once they run out.
extern std::vector<bool> escapeAnswers;
// Entry points that getProcAddress does not have.
extern std::vector<std::string> missingEntryPoints;
// What the stub glGetProgramInfoLog writes: text (cut to the buffer size
// less one, then a terminator), and the length it reports: the true one, a
// forced one, or none at all.
enum class LengthReport { True, Forced, None };
extern std::string infoLogText;
extern LengthReport lengthReport;
extern GLsizei forcedLength;
// The program name the stub glCreateShaderProgramv returns.
extern GLuint programName;
// The link status the stub glGetProgramiv reports (1: linked).
extern GLint linkStatus;

// What startThread and startAudioDevice were handed.
extern void (*threadEntry)(void*);
extern void* threadArgument;
extern const float* audioSamples;
extern std::uint32_t audioFrameCount;
extern const std::atomic<std::uint32_t>* audioFramesReady;
// The render thread's published count (renderedFrames) when startThread
// and startAudioDevice were called.
extern std::uint32_t framesReadyAtThreadStart;
extern std::uint32_t framesReadyAtDeviceStart;

void reset();
const Platform& platform();

} // namespace fake
