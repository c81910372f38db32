// The shader program and its log.
#include <cstdio>

#include "host.h"
#include "shader_source.h"

const char* sceneSourceText;

namespace {
constexpr GLsizei INFO_LOG_SIZE = 4096;
constexpr GLsizei INFO_LOG_QUERY_SIZE = 4095;
}

void createShaderProgram(const Platform& platform)
{
    std::FILE* logFile = std::fopen("./ShaderLog.txt", "wb");            // 1
    if (logFile) {
        std::fprintf(logFile, "** Start logging:\n");                  // 2
        std::fflush(logFile);
    }

    auto createShaderProgramv =
        reinterpret_cast<PfnGlCreateShaderProgramv>(platform.getProcAddress("glCreateShaderProgramv"));
    if (!createShaderProgramv) {
        platform.failStartUp("OpenGL entry point glCreateShaderProgramv");
    }
    const char* source = sceneSourceText ? sceneSourceText : sceneShaderSource;
    shaderProgram = createShaderProgramv(GL_FRAGMENT_SHADER, 1, &source); // 3

    if (logFile) {
        std::fprintf(logFile, "** Linking shader %d:\n", 0);           // 4
    }

    auto getProgramInfoLog =
        reinterpret_cast<PfnGlGetProgramInfoLog>(platform.getProcAddress("glGetProgramInfoLog"));
    if (!getProgramInfoLog) {
        platform.failStartUp("OpenGL entry point glGetProgramInfoLog");
    }
    char infoLog[INFO_LOG_SIZE];
    GLsizei logLength = 0; // a query that reports nothing leaves an empty text
    getProgramInfoLog(shaderProgram, INFO_LOG_QUERY_SIZE, &logLength, infoLog); // 5
    // The terminator must fall inside the buffer whatever length is reported.
    if (logLength < 0) {
        logLength = 0;
    } else if (logLength > INFO_LOG_QUERY_SIZE - 1) {
        logLength = INFO_LOG_QUERY_SIZE - 1;
    }
    infoLog[logLength] = 0;                                              // 6

    if (logFile) {
        std::fputs(infoLog, logFile);                                  // 7: text, not a format
        std::fclose(logFile);                                          // 8
    }
}
