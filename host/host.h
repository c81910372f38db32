#pragma once

// The demo host: start-up and frame loop, shader program and log, audio
// start-up, written once against the platform layer.

#include <cstdint>

#include "gl_api.h"
#include "platform.h"

// The one program object, set by createShaderProgram.
extern GLuint shaderProgram;

// The time of the latest frame, milliseconds since the frame loop started.
extern std::uint32_t timeMs;

// The scene shader text that createShaderProgram builds; null (the default)
// for the embedded text. A host that draws at an internal resolution sets
// its scaled variant before demoMain.
extern const char* sceneSourceText;

// The exit time of the frame loop.
inline constexpr std::uint32_t EXIT_TIME_MS = 185000;

// The whole life of the program on its main thread. Does not
// return: it ends through platform.endProcess (or platform.failStartUp).
[[noreturn]] void demoMain(const Platform& platform);

// Builds `shaderProgram` from the embedded scene shader and writes
// "./ShaderLog.txt". Requires a current OpenGL context.
void createShaderProgram(const Platform& platform);

// Starts the render thread, then the sound device on the whole
// SampleBuffer. Returns at once.
void startAudio(const Platform& platform);
