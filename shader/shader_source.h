#pragma once

// The scene shader's text, embedded at build time from shader/scene.frag and
// compiled unchanged: one NUL-terminated string.
extern const char* const sceneShaderSource;
// Its length in characters, without the terminator.
extern const unsigned sceneShaderSourceLength;
