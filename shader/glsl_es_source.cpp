#include "glsl_es_source.h"

#include <array>
#include <cctype>

namespace {

bool isIdentifierStart(char c)
{
    return std::isalpha(static_cast<unsigned char>(c)) || c == '_';
}

bool isIdentifierChar(char c)
{
    return std::isalnum(static_cast<unsigned char>(c)) || c == '_';
}

// The gl_ names that a GLSL ES 3.00 fragment shader has as well.
constexpr std::array<std::string_view, 6> ES_BUILTINS = {
    "gl_FragCoord", "gl_FrontFacing", "gl_PointCoord", "gl_FragDepth", "gl_MaxDrawBuffers", "gl_DepthRange"};

bool isEsBuiltin(std::string_view name)
{
    for (std::string_view builtin : ES_BUILTINS) {
        if (name == builtin) {
            return true;
        }
    }
    return false;
}

int lineOf(std::string_view source, std::size_t at)
{
    int line = 1;
    for (std::size_t i = 0; i < at && i < source.size(); ++i) {
        line += source[i] == '\n';
    }
    return line;
}

std::size_t skipBlanks(std::string_view source, std::size_t at)
{
    while (at < source.size() && std::isspace(static_cast<unsigned char>(source[at]))) {
        ++at;
    }
    return at;
}

} // namespace

GlslEsResult glslEsSceneSource(std::string_view source)
{
    const std::string_view timeUniform = GLSL_ES_TIME_UNIFORM;
    const std::string_view output = GLSL_ES_OUTPUT;
    auto fail = [&](std::size_t at, const std::string& what) {
        return GlslEsResult{{}, "line " + std::to_string(lineOf(source, at)) + ": " + what};
    };

    std::string body;
    body.reserve(source.size());
    bool readsTime = false;
    std::size_t at = 0;
    while (at < source.size()) {
        const char c = source[at];
        // Comments pass unchanged.
        if (source.substr(at, 2) == "//") {
            const std::size_t end = source.find('\n', at);
            const std::size_t stop = end == std::string_view::npos ? source.size() : end;
            body.append(source.substr(at, stop - at));
            at = stop;
            continue;
        }
        if (source.substr(at, 2) == "/*") {
            const std::size_t end = source.find("*/", at + 2);
            if (end == std::string_view::npos) {
                return fail(at, "comment without an end");
            }
            body.append(source.substr(at, end + 2 - at));
            at = end + 2;
            continue;
        }
        if (c == '#') {
            const std::size_t word = skipBlanks(source, at + 1);
            if (source.substr(word, 7) == "version") {
                return fail(at, "the text has a version directive of its own");
            }
        }
        if (!isIdentifierStart(c) || (at > 0 && isIdentifierChar(source[at - 1]))) {
            body += c;
            ++at;
            continue;
        }
        std::size_t end = at;
        while (end < source.size() && isIdentifierChar(source[end])) {
            ++end;
        }
        const std::string_view name = source.substr(at, end - at);
        if (name == timeUniform || name == output) {
            return fail(at, "the name " + std::string(name) + " is taken by the ES text");
        }
        if (name == "gl_Fog") {
            // Only gl_Fog.end, the time, has a counterpart: the uniform.
            const std::size_t dot = skipBlanks(source, end);
            const std::size_t member = skipBlanks(source, dot + 1);
            std::size_t memberEnd = member;
            while (memberEnd < source.size() && isIdentifierChar(source[memberEnd])) {
                ++memberEnd;
            }
            if (dot >= source.size() || source[dot] != '.' || source.substr(member, memberEnd - member) != "end") {
                return fail(at, "only gl_Fog.end can be read in GLSL ES (as the uniform)");
            }
            body.append(timeUniform);
            readsTime = true;
            at = memberEnd;
            continue;
        }
        if (name == "gl_FragColor") {
            body.append(output);
        } else if (name.substr(0, 3) == "gl_" && !isEsBuiltin(name)) {
            return fail(at, std::string(name) + " has no GLSL ES 3.00 counterpart");
        } else {
            body.append(name);
        }
        at = end;
    }
    if (!readsTime) {
        return fail(source.size(), "the text never reads the time (gl_Fog.end)");
    }

    std::string text = "#version 300 es\nprecision highp float;\nprecision highp int;\nuniform float ";
    text += timeUniform;
    text += ";\nout vec4 ";
    text += output;
    text += ";\n#line 1\n";
    text += body;
    return GlslEsResult{std::move(text), {}};
}
