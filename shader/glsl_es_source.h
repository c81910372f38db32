#pragma once

// The scene shader as GLSL ES 3.00, for WebGL2. The desktop text is written
// for a compatibility-profile context: it reads the time from the fog end
// (gl_Fog.end, milliseconds) and writes gl_FragColor. The ES text is the same
// text with exactly three changes: a header (version directive, highp floats
// and highp ints, the time uniform and the output variable, then `#line 1` so
// that compiler messages keep the desktop text's line numbers), every read of
// gl_Fog.end replaced by the uniform and every gl_FragColor by the output
// variable. Integers must be highp as on the desktop: at the fragment
// language's default (mediump), Mesa draws some pixels differently.
// Comments are copied untouched. The host sets the uniform to the same
// millisecond count that it hands the desktop shader through glFogi.
//
// Used at build time by the web build (tools/scene-es) and by the tests.

#include <string>
#include <string_view>

// The uniform that carries the time in milliseconds (a float).
inline constexpr const char* GLSL_ES_TIME_UNIFORM = "timeMs";
// The fragment output (vec4; the scene writes only .xyz).
inline constexpr const char* GLSL_ES_OUTPUT = "fragColor";

struct GlslEsResult {
    std::string text;   // the ES source; empty on failure
    std::string error;  // why the text cannot be converted; empty on success
};

// Converts the desktop scene text. Fails (with a message naming the line)
// where the text has a version directive, reads a compatibility built-in
// that ES lacks (any other gl_Fog member, gl_FragData, gl_TexCoord, ...),
// or already uses the uniform's or the output's name.
GlslEsResult glslEsSceneSource(std::string_view source);
