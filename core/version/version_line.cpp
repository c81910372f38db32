#include "version.h"

#include <string>

const char* versionLine(const char* program)
{
    static std::string line;
    line = std::string(program) + " " + DEMO_VERSION;
    if (*DEMO_REVISION != '\0') {
        line += std::string(" (") + DEMO_REVISION + ")";
    }
    return line.c_str();
}
