#pragma once

// The scene shader's text, embedded at build time from shader/scene.frag byte
// for byte: one NUL-terminated string. The demo compiles it as it stands at
// scale 1; the scaled variants (scene_scales.h) and the GLSL ES text for the
// browser (glsl_es_source.h) are made from it.
extern const char* const sceneShaderSource;
// Its length in characters, without the terminator.
extern const unsigned sceneShaderSourceLength;
