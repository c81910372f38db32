// The scene shader as GLSL ES 3.00: what the conversion changes and what it
// refuses, and that the converted text draws exactly the desktop text's
// pixels (Mesa compiles `#version 300 es` in its compatibility context
// through ARB_ES3_compatibility, so both run on the same llvmpipe).
#include <gtest/gtest.h>

#define GL_GLEXT_PROTOTYPES 1
#include <GL/gl.h>
#include <GL/glext.h>

#include <string>
#include <vector>

#include "draw_patch.h"  // tests/shader
#include "glsl_es_source.h"
#include "offscreen_gl.h"
#include "scene_scales.h"
#include "shader_source.h"

namespace {

const std::string HEADER = "#version 300 es\nprecision highp float;\nprecision highp int;\nuniform float timeMs;\nout vec4 fragColor;\n#line 1\n";

std::string converted(const std::string& text)
{
    const GlslEsResult result = glslEsSceneSource(text);
    EXPECT_TRUE(result.error.empty()) << result.error;
    return result.text;
}

std::string refusal(const std::string& text)
{
    const GlslEsResult result = glslEsSceneSource(text);
    EXPECT_TRUE(result.text.empty());
    return result.error;
}

} // namespace

TEST(GlslEsSource, ReplacesTheTimeAndTheOutputAndNothingElse)
{
    EXPECT_EQ(converted("void main() {\n  float t = gl_Fog.end * 0.001;\n  gl_FragColor.xyz = vec3(t);\n}\n"),
              HEADER + "void main() {\n  float t = timeMs * 0.001;\n  fragColor.xyz = vec3(t);\n}\n");
    // Spaces around the member access; names that only contain the built-ins'
    // names; comments, which keep whatever they say.
    EXPECT_EQ(converted("float a = gl_Fog . end; float my_gl_FragColor = a; // gl_Fog.start, gl_FragColor\n"
                        "/* gl_TexCoord\n gl_Fog */ vec2 p = gl_FragCoord.xy;"),
              HEADER + "float a = timeMs; float my_gl_FragColor = a; // gl_Fog.start, gl_FragColor\n"
                       "/* gl_TexCoord\n gl_Fog */ vec2 p = gl_FragCoord.xy;");

    // The real text: the header, then the text with the two names replaced.
    const std::string scene = sceneShaderSource;
    const std::string es = converted(scene);
    ASSERT_EQ(es.rfind(HEADER, 0), 0u);
    std::string back = es.substr(HEADER.size());
    for (auto [from, to] : {std::pair<std::string, std::string>{"timeMs", "gl_Fog.end"}, {"fragColor", "gl_FragColor"}}) {
        for (std::size_t at = back.find(from); at != std::string::npos; at = back.find(from, at + to.size())) {
            back.replace(at, from.size(), to);
        }
    }
    EXPECT_EQ(back, scene);
}

TEST(GlslEsSource, RefusesWhatHasNoCounterpart)
{
    EXPECT_NE(refusal("float f = gl_Fog.start;\nvoid main() { gl_FragColor = vec4(gl_Fog.end); }").find("line 1"),
              std::string::npos);
    EXPECT_NE(refusal("void main() {\n gl_FragColor = gl_TexCoord[0] * gl_Fog.end;\n}").find("line 2: gl_TexCoord"),
              std::string::npos);
    EXPECT_NE(refusal("#version 120\nvoid main() { gl_FragColor = vec4(gl_Fog.end); }").find("version"),
              std::string::npos);
    EXPECT_NE(refusal("uniform float timeMs;\nvoid main() { gl_FragColor = vec4(gl_Fog.end); }").find("timeMs"),
              std::string::npos);
    EXPECT_NE(refusal("void main() { gl_FragColor = vec4(1.0); }").find("time"), std::string::npos);
    EXPECT_NE(refusal("void main() { gl_FragColor = vec4(gl_Fog.end); } /* open").find("comment"), std::string::npos);
}

TEST(GlslEsSource, DrawsExactlyTheDesktopTextsPixels)
{
    std::string error;
    auto context = offscreen::GlContext::create(error);
    ASSERT_TRUE(context) << error;

    const std::string desktop = sceneShaderSource;
    const std::string es = converted(desktop);
    const int size = 8;
    struct Patch {
        std::uint32_t timeMs;
        int x;
        int y;
    };
    // Different scenes, the picture's middle and its edges; 4 s is in the
    // fade-in, 106.5 s the flash.
    for (const Patch& patch : {Patch{4000, 950, 530}, Patch{30000, 1030, 380}, Patch{75000, 1470, 800},
                               Patch{106500, 0, 0}, Patch{150000, 1900, 1060}}) {
        const std::vector<float> expected =
            drawPatch(desktop, FRAME_WIDTH, FRAME_HEIGHT, patch.timeMs, patch.x, patch.y, size);
        // The ES text gets the time through its uniform.
        const std::vector<float> got =
            drawPatch(es, FRAME_WIDTH, FRAME_HEIGHT, patch.timeMs, patch.x, patch.y, size, [&](unsigned program) {
                glProgramUniform1f(program, glGetUniformLocation(program, GLSL_ES_TIME_UNIFORM),
                                   static_cast<float>(patch.timeMs));
            });
        ASSERT_EQ(got.size(), expected.size());
        for (std::size_t i = 0; i < got.size(); ++i) {
            if (i % 4 == 3) continue;  // alpha: not written by the scene
            ASSERT_EQ(got[i], expected[i]) << "time " << patch.timeMs << " ms, pixel " << i / 4 << ", channel " << i % 4;
        }
    }
}
