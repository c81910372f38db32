#pragma once

// The demo host: start-up and frame loop, shader program and log, audio
// start-up, written once against the platform layer.

#include <cstdint>

#include "gl_api.h"
#include "platform.h"
#include "playback.h"
#include "synth.h"

// What the host shares between its start-up, its frame loop and the
// command line that comes before them.
struct HostState {
    // The one program object, set by createShaderProgram.
    GLuint shaderProgram = 0;
    // The time of the latest frame, milliseconds since the frame loop started.
    std::uint32_t timeMs = 0;
    // The scene shader text that createShaderProgram builds; null (the
    // default) for the embedded text. A host that draws at an internal
    // resolution sets its scaled variant before demoMain.
    const char* sceneSourceText = nullptr;
};
extern HostState host;

// The whole life of the program on its main thread. Does not
// return: it ends through platform.endProcess (or platform.failStartUp).
[[noreturn]] void demoMain(const Platform& platform);

// Builds `shaderProgram` from sceneSourceText (the embedded scene shader
// where that is null) and writes "./ShaderLog.txt". Requires a current
// OpenGL context.
void createShaderProgram(const Platform& platform);

// Renders the song's start (AUDIO_PREROLL_FRAMES), starts the render thread
// on the rest, then the sound device on the whole SampleBuffer. Returns as
// soon as the device has it.
void startAudio(const Platform& platform);
