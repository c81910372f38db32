#include "shader_probe.h"

#include "offscreen_gl.h"
#include "shader_source.h"
#include "shader_variants.h"

#include <cmath>
#include <cstdio>
#include <stdexcept>

ShaderProbe& ShaderProbe::instance()
{
    static ShaderProbe probe;
    return probe;
}

ShaderProbe::ShaderProbe()
{
    std::string error;
    context_ = offscreen::GlContext::create(error);
    if (!context_)
        throw std::runtime_error(error);
}

bool ShaderProbe::build(const std::string& source, std::string& log)
{
    const unsigned program = offscreen::buildFragmentProgram(source.c_str(), log);
    if (program == 0)
        return false;
    offscreen::deleteProgram(program);
    return true;
}

std::vector<Probe> ShaderProbe::run(const std::vector<std::string>& cases, std::uint32_t fogMs,
                                    const std::string& helpers, const std::string& epilogue)
{
    std::string error;
    std::string source = offscreen::renameMain(sceneShaderSource, "sceneMain", error);
    if (source.empty())
        throw std::runtime_error(error);
    source += "\n// ---- probe\n" + helpers + "\nvoid main()\n{\n    startFrame(gl_Fog.end * 0.001);\n"
              "    int probeIndex = int(gl_FragCoord.x);\n    vec4 result = vec4(0.0);\n";
    for (std::size_t i = 0; i < cases.size(); ++i)
        source += std::string(i == 0 ? "    " : "    else ") + "if (probeIndex == " + std::to_string(i) + ") {\n" +
                  cases[i] + "\n    }\n";
    source += epilogue + "\n    gl_FragColor = result;\n}\n";

    std::string log;
    const unsigned program = offscreen::buildFragmentProgram(source.c_str(), log);
    if (program == 0)
        throw std::runtime_error("probe shader does not build:\n" + log);
    const int width = static_cast<int>(cases.size());
    offscreen::RenderTarget target(width, 1, offscreen::PixelFormat::Rgba32f);
    if (!target.complete())
        throw std::runtime_error("no float framebuffer");
    const bool drawn = offscreen::drawFrame(program, fogMs, offscreen::PixelRect{0, 0, width, 1});
    const std::vector<float> pixels = target.readRgba32f(0, 0, width, 1);
    offscreen::deleteProgram(program);
    if (!drawn)
        throw std::runtime_error("OpenGL error while drawing the probe");
    std::vector<Probe> result(cases.size());
    for (std::size_t i = 0; i < cases.size(); ++i)
        for (int c = 0; c < 4; ++c)
            result[i][c] = pixels[4 * i + c];
    return result;
}

std::string glslFloat(double value)
{
    char text[64];
    std::snprintf(text, sizeof text, "%.9g", value);
    std::string s = text;
    if (s.find_first_of(".eE") == std::string::npos)
        s += ".0";
    if (s[0] == '-')
        s = "(" + s + ")";
    return s;
}

std::string glslVec3(double x, double y, double z)
{
    return "vec3(" + glslFloat(x) + ", " + glslFloat(y) + ", " + glslFloat(z) + ")";
}
