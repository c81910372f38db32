// Start-up and frame loop.
#include <cstdlib>

#include "host.h"

GLuint shaderProgram;
std::uint32_t timeMs;

namespace {
std::uint32_t loopStart;
}

void demoMain(const Platform& platform)
{
    // Start-up, in this order.
    platform.setFullscreenMode(1920, 1080);           // 1
    platform.createWindow();                          // 2
    platform.createGlContext();                       // 3, 4, 5
    createShaderProgram(platform);                    // 6
    platform.hideCursor();                            // 7
    startAudio(platform);                             // 8
    auto useProgram = reinterpret_cast<PfnGlUseProgram>(platform.getProcAddress("glUseProgram"));
    if (!useProgram) {
        platform.failStartUp("OpenGL entry point glUseProgram");
    }
    useProgram(shaderProgram);                        // 9
    loopStart = platform.clockMs();                   // 10

    // The frame loop.
    for (;;) {
        timeMs = platform.clockMs() - loopStart;      // 1: modulo 2^32
        platform.fogi(GL_FOG_END, static_cast<GLint>(timeMs)); // 2
        platform.rectf(-1.f, -1.f, 1.f, 1.f);        // 3
        platform.swapBuffers();                       // 4
        platform.peekMessage();                       // 5
        if (platform.escapePressed()) {               // 6
            break;
        }
        if (timeMs >= EXIT_TIME_MS) {                 // 7
            break;
        }
    }
    platform.endProcess();
    std::abort(); // endProcess does not return
}
