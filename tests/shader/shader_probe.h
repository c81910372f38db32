#pragma once

// Runs pieces of the scene shader on the real text: the shader's main is
// renamed to sceneMain, a probe main is appended, and each probe case runs
// in one pixel of a row of 32-bit float pixels, whose RGBA is read back.

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace offscreen {
class GlContext;
}

using Probe = std::array<float, 4>;

class ShaderProbe {
public:
    // Creates the offscreen context once per test program; throws with the
    // reason when there is none.
    static ShaderProbe& instance();

    // Runs each case as a block of GLSL statements that set `vec4 result`.
    // Before the cases, the probe main calls startFrame(gl_Fog.end * .001)
    // with the fog end at `fogMs`, as the host's frame does; `probeIndex`
    // (int) is the case's index. `helpers` is GLSL placed between the shader
    // and the probe main (functions the cases share). `epilogue` runs after
    // the case that ran: cases that only choose their inputs can share one
    // call of a costly function there (every call site is compiled anew).
    std::vector<Probe> run(const std::vector<std::string>& cases, std::uint32_t fogMs = 0,
                           const std::string& helpers = "", const std::string& epilogue = "");

    // Builds `source` as the host does; returns the info log, and whether it linked.
    bool build(const std::string& source, std::string& log);

private:
    ShaderProbe();
    std::unique_ptr<offscreen::GlContext> context_;
};

// GLSL literals.
std::string glslFloat(double value);
std::string glslVec3(double x, double y, double z);
