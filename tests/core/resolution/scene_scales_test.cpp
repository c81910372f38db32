// The scene at an internal resolution: the scale and density options'
// values, the grids whose points can be placed exactly, and that every pixel
// drawn at a coarser scale is exactly the full frame's pixel it stands for
// (checked on patches of the real picture through offscreen EGL).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "draw_patch.h"
#include "offscreen_gl.h"
#include "scene_scales.h"
#include "shader_source.h"

TEST(SceneScale, EachScaleByItsNameItsSizeOrItsHeightAndNothingElse)
{
    for (int step = 0; step < SCENE_SCALE_COUNT; ++step) {
        const SampleGrid& grid = SCENE_SCALES[step].grid;
        const std::string height = std::to_string(grid.height);
        for (const std::string& name :
             {std::string(SCENE_SCALES[step].name), height + "p", std::to_string(grid.width) + "x" + height}) {
            EXPECT_EQ(parseSceneScale(name), step) << name;
        }
        EXPECT_TRUE(isExactSampleGrid(grid)) << SCENE_SCALES[step].name;
        if (step > 0) {
            EXPECT_LT(grid.width, SCENE_SCALES[step - 1].grid.width) << "finest first";
        }
    }
    EXPECT_EQ(parseSceneScale("720p"), parseSceneScale("1280x720"));
    EXPECT_EQ(sceneScaleNames(), "1, 864p, 720p, 2, 3, 4 or 6");
    for (const char* bad : {"0", "5", "7", "8", "12", "", " 2", "2 ", "02", "+2", "-2", "2.0", "0x2", "auto", "two",
                            "720", "720P", "1280X720", "1280x720 ", "1.5", "1600x900", "900p", "1920x1081"}) {
        EXPECT_FALSE(parseSceneScale(bad).has_value()) << '"' << bad << '"';
    }
    for (int density = 1; density <= MAX_SCENE_DENSITY; ++density) {
        EXPECT_EQ(parseSceneDensity(std::to_string(density)), density);
        EXPECT_TRUE(isExactSampleGrid(densityGrid(density)));
    }
    for (const char* bad : {"0", "5", "", "02", "2.0", "+2", "two"}) {
        EXPECT_FALSE(parseSceneDensity(bad).has_value()) << '"' << bad << '"';
    }
    // Grids whose points are not exact in single precision, or of another shape.
    for (const SampleGrid grid : {SampleGrid{1600, 900}, SampleGrid{1920, 1000}, SampleGrid{1000, 1080},
                                  SampleGrid{0, 0}, densityGrid(5)}) {
        EXPECT_FALSE(isExactSampleGrid(grid)) << grid.width << "x" << grid.height;
        EXPECT_EQ(sampleGridSource("void main() {}", grid), "");
    }
}

TEST(SceneScale, ScaleOneIsTheTextUnchangedAndOthersReplaceOnlyTheBuiltIn)
{
    EXPECT_EQ(scaledSceneSource(sceneShaderSource, 0), sceneShaderSource);

    const std::string text = "vec2 a = gl_FragCoord.xy; float my_gl_FragCoordX = gl_FragCoord.x;";
    EXPECT_EQ(scaledSceneSource(text, *parseSceneScale("4")),
              "vec2 a = (vec4((gl_FragCoord.xy - 0.5) * 4.0 + 0.5, gl_FragCoord.zw)).xy; "
              "float my_gl_FragCoordX = (vec4((gl_FragCoord.xy - 0.5) * 4.0 + 0.5, gl_FragCoord.zw)).x;");
}

namespace {

struct Patch {
    std::uint32_t timeMs;
    int x;  // drawn-pixel position at the coarse scale, GL window coordinates
    int y;
};

// The frame pixel that drawn pixel k of `drawn` pixels across `frame` shows:
// the one whose centre is nearest to k * frame / drawn + 1/2, halves up.
int framePixel(int k, int drawn, int frame)
{
    return (2 * k * frame + drawn) / (2 * drawn);
}

} // namespace

TEST(SceneScale, EveryDrawnPixelIsTheFullFramesPixelAtItsPlace)
{
    std::string error;
    auto context = offscreen::GlContext::create(error);
    ASSERT_TRUE(context) << error;

    const int size = 6;
    const std::string full = sceneShaderSource;
    for (const char* name : {"4", "864p", "720p"}) {
        const SampleGrid grid = SCENE_SCALES[*parseSceneScale(name)].grid;
        const std::string scaled = scaledSceneSource(full, *parseSceneScale(name));
        if (FRAME_WIDTH % grid.width != 0) {
            // Between 1 and 2 the pixel is also the one nearest to the drawn
            // pixel's own centre.
            for (int k = 0; k < grid.width; ++k) {
                ASSERT_EQ(framePixel(k, grid.width, FRAME_WIDTH), (2 * k + 1) * FRAME_WIDTH / (2 * grid.width))
                    << name << " " << k;
            }
        }
        // Patches of different scenes, centre and edges of the picture (the
        // vignette and the grain depend on the position).
        for (const Patch& patch : {Patch{4000, 237, 132}, Patch{30000, 10, 250}, Patch{106500, 400, 20},
                                   Patch{150000, 470, 5}}) {
            const int x = patch.x * grid.width / 480;
            const int y = patch.y * grid.height / 270;
            const std::vector<float> coarse = drawRect(scaled, grid.width, grid.height, patch.timeMs, {x, y, size, size});
            const int fx = framePixel(x, grid.width, FRAME_WIDTH);
            const int fy = framePixel(y, grid.height, FRAME_HEIGHT);
            const int fullWidth = framePixel(x + size - 1, grid.width, FRAME_WIDTH) - fx + 1;
            const int fullHeight = framePixel(y + size - 1, grid.height, FRAME_HEIGHT) - fy + 1;
            const std::vector<float> fine = drawRect(full, FRAME_WIDTH, FRAME_HEIGHT, patch.timeMs, {fx, fy, fullWidth, fullHeight});
            for (int row = 0; row < size; ++row) {
                for (int column = 0; column < size; ++column) {
                    const int fineRow = framePixel(y + row, grid.height, FRAME_HEIGHT) - fy;
                    const int fineColumn = framePixel(x + column, grid.width, FRAME_WIDTH) - fx;
                    for (int channel = 0; channel < 3; ++channel) {
                        const float c = coarse[(row * size + column) * 4 + channel];
                        const float f = fine[(fineRow * fullWidth + fineColumn) * 4 + channel];
                        ASSERT_EQ(c, f) << "scale " << name << ", time " << patch.timeMs << " ms, drawn pixel ("
                                        << x + column << ", " << y + row << "), channel " << channel;
                    }
                }
            }
        }
    }
}
