#include "shader_variants.h"

#include <regex>

namespace offscreen {

std::string renameMain(const std::string& source, const std::string& newName, std::string& error)
{
    static const std::regex mainDefinition(R"(\bvoid\s+main\s*\(\s*(void)?\s*\))");
    auto begin = std::sregex_iterator(source.begin(), source.end(), mainDefinition);
    const auto count = std::distance(begin, std::sregex_iterator());
    if (count != 1) {
        error = "the shader holds " + std::to_string(count) + " definitions of void main(), not one";
        return {};
    }
    return std::regex_replace(source, mainDefinition, "void " + newName + "()");
}

std::string stepCountingSource(const std::string& source, std::string& error)
{
    const std::string line = MARCH_STEP_LINE;
    const std::size_t at = source.find(line);
    if (at == std::string::npos || source.find(line, at + 1) != std::string::npos) {
        error = "the shader does not hold exactly one line '" + line + "' in marchRay";
        return {};
    }
    std::string counted = source;
    counted.insert(at + line.size(), " marchStepCount += 1.0;");
    counted = renameMain(counted, "sceneMain", error);
    if (counted.empty())
        return {};
    // The counter must be declared before marchRay: put it in front of the
    // first function, after any #version line.
    std::size_t insertAt = 0;
    if (counted.rfind("#version", 0) == 0)
        insertAt = counted.find('\n') + 1;
    counted.insert(insertAt, "float marchStepCount;\n");
    counted +=
        "\nvoid main()\n{\n    marchStepCount = 0.0;\n    sceneMain();\n    gl_FragColor.w = marchStepCount;\n}\n";
    return counted;
}

}  // namespace offscreen
