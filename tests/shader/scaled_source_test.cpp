// The scene at an internal resolution: the scale option's values, and that
// every pixel drawn at a coarser scale is exactly the full frame's pixel it
// stands for (checked on patches of the real picture through offscreen EGL).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "offscreen_gl.h"
#include "scaled_source.h"
#include "shader_source.h"

TEST(SceneScale, OnlyTheScalesThatDivideThePictureAreAccepted)
{
    for (int scale : SCENE_SCALES) {
        EXPECT_EQ(parseSceneScale(std::to_string(scale)), scale);
    }
    for (const char* bad : {"0", "5", "7", "8", "12", "", " 2", "2 ", "02", "+2", "-2", "2.0", "0x2", "auto", "two"}) {
        EXPECT_FALSE(parseSceneScale(bad).has_value()) << '"' << bad << '"';
    }
    for (int scale : SCENE_SCALES) {
        EXPECT_EQ(FRAME_WIDTH % scale, 0);
        EXPECT_EQ(FRAME_HEIGHT % scale, 0);
    }
}

TEST(SceneScale, ScaleOneIsTheTextUnchangedAndOthersReplaceOnlyTheBuiltIn)
{
    EXPECT_EQ(scaledSceneSource(sceneShaderSource, 1), sceneShaderSource);

    const std::string text = "vec2 a = gl_FragCoord.xy; float my_gl_FragCoordX = gl_FragCoord.x;";
    EXPECT_EQ(scaledSceneSource(text, 4),
              "vec2 a = (vec4((gl_FragCoord.xy - 0.5) * 4.0 + 0.5, gl_FragCoord.zw)).xy; "
              "float my_gl_FragCoordX = (vec4((gl_FragCoord.xy - 0.5) * 4.0 + 0.5, gl_FragCoord.zw)).x;");
}

namespace {

struct Patch {
    std::uint32_t timeMs;
    int x;  // drawn-pixel position at the coarse scale, GL window coordinates
    int y;
};

// Draws `size`x`size` pixels of the scene at `scale` from (x, y) of the
// scaled picture and returns their RGBA floats.
std::vector<float> drawPatch(const std::string& source, int scale, std::uint32_t timeMs, int x, int y, int size)
{
    std::string log;
    const unsigned program = offscreen::buildFragmentProgram(source.c_str(), log);
    EXPECT_NE(program, 0u) << log;
    offscreen::RenderTarget target(FRAME_WIDTH / scale, FRAME_HEIGHT / scale, offscreen::PixelFormat::Rgba32f);
    EXPECT_TRUE(target.complete());
    EXPECT_TRUE(offscreen::drawFrame(program, timeMs, offscreen::PixelRect{x, y, size, size}));
    std::vector<float> pixels = target.readRgba32f(x, y, size, size);
    offscreen::deleteProgram(program);
    return pixels;
}

} // namespace

TEST(SceneScale, EveryDrawnPixelIsTheFullFramesPixelAtItsPlace)
{
    std::string error;
    auto context = offscreen::GlContext::create(error);
    ASSERT_TRUE(context) << error;

    const int scale = 4;
    const int size = 6;
    const std::string full = sceneShaderSource;
    const std::string scaled = scaledSceneSource(full, scale);
    // Patches of different scenes, centre and edges of the picture (the
    // vignette and the grain depend on the position).
    for (const Patch& patch : {Patch{4000, 237, 132}, Patch{30000, 10, 250}, Patch{106500, 400, 20},
                               Patch{150000, 470, 5}}) {
        const std::vector<float> coarse = drawPatch(scaled, scale, patch.timeMs, patch.x, patch.y, size);
        // The full frame's pixels at scale times each drawn pixel's index.
        const int fullSize = (size - 1) * scale + 1;
        const std::vector<float> fine =
            drawPatch(full, 1, patch.timeMs, patch.x * scale, patch.y * scale, fullSize);
        for (int row = 0; row < size; ++row) {
            for (int column = 0; column < size; ++column) {
                for (int channel = 0; channel < 3; ++channel) {
                    const float c = coarse[(row * size + column) * 4 + channel];
                    const float f = fine[((row * scale) * fullSize + column * scale) * 4 + channel];
                    ASSERT_EQ(c, f) << "time " << patch.timeMs << " ms, drawn pixel (" << patch.x + column << ", "
                                    << patch.y + row << "), channel " << channel;
                }
            }
        }
    }
}
