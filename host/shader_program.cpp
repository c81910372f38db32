// The shader program and its log; a program that did not build ends the
// start-up with one line on stderr.
#include <cstdio>
#include <cstring>

#include "host.h"
#include "shader_source.h"

namespace {
constexpr GLsizei INFO_LOG_SIZE = 4096;
constexpr GLsizei INFO_LOG_QUERY_SIZE = 4095;
constexpr const char* LOG_PATH = "./ShaderLog.txt";
}

void createShaderProgram(const Platform& platform)
{
    std::FILE* logFile = platform.openLog ? platform.openLog(LOG_PATH)  // created or emptied
                                          : std::fopen(LOG_PATH, "wb");
    if (logFile) {
        std::fprintf(logFile, "** Start logging:\n");
        std::fflush(logFile); // this line is in the file before the compiler runs
    }

    auto createShaderProgramv =
        reinterpret_cast<PfnGlCreateShaderProgramv>(platform.getProcAddress("glCreateShaderProgramv"));
    if (!createShaderProgramv) {
        platform.failStartUp("OpenGL entry point glCreateShaderProgramv");
    }
    const char* source = host.sceneSourceText ? host.sceneSourceText : sceneShaderSource;
    host.shaderProgram = createShaderProgramv(GL_FRAGMENT_SHADER, 1, &source); // compiled and linked

    if (logFile) {
        std::fprintf(logFile, "** Linking shader %d:\n", 0);
    }

    auto getProgramInfoLog =
        reinterpret_cast<PfnGlGetProgramInfoLog>(platform.getProcAddress("glGetProgramInfoLog"));
    if (!getProgramInfoLog) {
        platform.failStartUp("OpenGL entry point glGetProgramInfoLog");
    }
    char infoLog[INFO_LOG_SIZE];
    GLsizei logLength = 0; // a query that reports nothing leaves an empty text
    getProgramInfoLog(host.shaderProgram, INFO_LOG_QUERY_SIZE, &logLength, infoLog);
    // The terminator must fall inside the buffer whatever length is reported.
    if (logLength < 0) {
        logLength = 0;
    } else if (logLength > INFO_LOG_QUERY_SIZE - 1) {
        logLength = INFO_LOG_QUERY_SIZE - 1;
    }
    infoLog[logLength] = 0;

    bool logWritten = false;
    if (logFile) {
        std::fputs(infoLog, logFile);                                  // text, not a format
        logWritten = !std::ferror(logFile);
        logWritten = std::fclose(logFile) == 0 && logWritten;
    }

    // A program that did not compile or link draws nothing of the scene:
    // the start-up ends here, pointing at the log or quoting its first line.
    auto getProgramiv = reinterpret_cast<PfnGlGetProgramiv>(platform.getProcAddress("glGetProgramiv"));
    if (!getProgramiv) {
        platform.failStartUp("OpenGL entry point glGetProgramiv");
    }
    GLint linked = 0;
    getProgramiv(host.shaderProgram, GL_LINK_STATUS, &linked);
    if (!linked) {
        char line[INFO_LOG_SIZE + 64];
        const int firstLine = static_cast<int>(std::strcspn(infoLog, "\r\n"));
        if (logWritten) {
            std::snprintf(line, sizeof line, "the scene shader did not build; see ./ShaderLog.txt");
        } else if (firstLine > 0) {
            std::snprintf(line, sizeof line, "the scene shader did not build: %.*s", firstLine, infoLog);
        } else {
            std::snprintf(line, sizeof line, "the scene shader did not build (the driver gave no log)");
        }
        platform.failStartUp(line);
    }
}
