// scene-es: writes the scene shader as GLSL ES 3.00 for WebGL2 (see
// glsl_es_source.h). The web build runs it at build time; the output appears
// only when complete (temporary name, then rename).
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>

#include "glsl_es_source.h"

namespace {

constexpr const char* USAGE =
    "Usage: scene-es INPUT OUTPUT\n"
    "Converts the scene shader INPUT (shader/scene.frag, for a compatibility-profile\n"
    "OpenGL context) into GLSL ES 3.00 for WebGL2 and writes it to OUTPUT.\n";

bool readFile(const std::string& path, std::string& text)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return false;
    }
    std::ostringstream buffer;
    buffer << in.rdbuf();
    text = buffer.str();
    return !in.bad();
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        std::fputs(USAGE, stdout);
        return 0;
    }
    if (argc != 3 || argv[1][0] == '\0' || argv[2][0] == '\0') {
        std::fputs("scene-es: needs an INPUT and an OUTPUT file\n", stderr);
        std::fputs(USAGE, stderr);
        return 2;
    }
    const std::string input = argv[1];
    const std::string output = argv[2];
    std::string source;
    if (!readFile(input, source)) {
        std::fprintf(stderr, "scene-es: cannot read '%s': %s\n", input.c_str(), std::strerror(errno));
        return 1;
    }
    const GlslEsResult result = glslEsSceneSource(source);
    if (!result.error.empty()) {
        std::fprintf(stderr, "scene-es: %s: %s\n", input.c_str(), result.error.c_str());
        return 1;
    }
    const std::string temp = output + ".tmp";
    {
        std::ofstream out(temp, std::ios::binary | std::ios::trunc);
        out << result.text;
        out.close();
        if (!out) {
            std::fprintf(stderr, "scene-es: cannot write '%s'\n", temp.c_str());
            std::remove(temp.c_str());
            return 1;
        }
    }
    if (std::rename(temp.c_str(), output.c_str()) != 0) {
        std::fprintf(stderr, "scene-es: cannot rename '%s' to '%s': %s\n", temp.c_str(), output.c_str(),
                     std::strerror(errno));
        std::remove(temp.c_str());
        return 1;
    }
    return 0;
}
