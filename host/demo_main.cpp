// Start-up and frame loop.
#include <cstdlib>

#include "frame_size.h"
#include "host.h"

HostState host;

namespace {
std::uint32_t loopStart;
}

void demoMain(const Platform& platform)
{
    // Start-up, in this order: the sound starts before the clock is read,
    // so it leads the picture by the time the last two steps take.
    platform.requestDisplayMode(FRAME_WIDTH, FRAME_HEIGHT);
    platform.createWindow();
    platform.createGlContext();                       // made current here
    createShaderProgram(platform);                    // and its log
    platform.hideCursor();
    startAudio(platform);                             // the render thread and the device run from here
    auto useProgram = reinterpret_cast<PfnGlUseProgram>(platform.getProcAddress("glUseProgram"));
    if (!useProgram) {
        platform.failStartUp("OpenGL entry point glUseProgram");
    }
    useProgram(host.shaderProgram);                   // current for the rest of the run
    loopStart = platform.clockMs();

    // The frame loop: the frame's start and its time, one rectangle over the
    // viewport, the present and the judgement of the next frame's scale, a
    // look at the messages (none removed), then the two ways out.
    for (;;) {
        platform.beginFrame();
        host.timeMs = platform.clockMs() - loopStart; // modulo 2^32: a wrap of the clock does no harm
        platform.fogi(GL_FOG_END, static_cast<GLint>(host.timeMs)); // the time in ms, read by the shader as gl_Fog.end
        platform.rectf(-1.f, -1.f, 1.f, 1.f);
        platform.presentFrame();
        platform.judgeScale();
        platform.peekMessage();
        if (platform.quitRequested()) {
            break;
        }
        if (host.timeMs >= EXIT_TIME_MS) {            // that frame has been drawn and shown
            break;
        }
    }
    platform.endProcess();
    std::abort(); // endProcess does not return
}
