// The offscreen frame at an internal resolution and its copy to the window.
#include "offscreen_frame.h"

#include <GL/gl.h>
#include <GL/glext.h>

#include <cstdio>
#include <string>

#include "letterbox.h"
#include "scale_governor.h"
#include "scene_scales.h"
#include "shader_source.h"

namespace {

// The OpenGL entry points beyond the base set, fetched by begin().
struct FramebufferCalls {
    PFNGLGENFRAMEBUFFERSPROC genFramebuffers = nullptr;
    PFNGLBINDFRAMEBUFFERPROC bindFramebuffer = nullptr;
    PFNGLGENRENDERBUFFERSPROC genRenderbuffers = nullptr;
    PFNGLBINDRENDERBUFFERPROC bindRenderbuffer = nullptr;
    PFNGLRENDERBUFFERSTORAGEPROC renderbufferStorage = nullptr;
    PFNGLFRAMEBUFFERRENDERBUFFERPROC framebufferRenderbuffer = nullptr;
    PFNGLCHECKFRAMEBUFFERSTATUSPROC checkFramebufferStatus = nullptr;
    PFNGLBLITFRAMEBUFFERPROC blitFramebuffer = nullptr;
    PFNGLUSEPROGRAMPROC useProgram = nullptr;
    PFNGLCREATESHADERPROGRAMVPROC createShaderProgramv = nullptr;
    PFNGLGETPROGRAMIVPROC getProgramiv = nullptr;
};
FramebufferCalls gl;

// The offscreen frame: its framebuffer at the current scale, the scale's
// judge, and the scene program of each scale.
struct FrameState {
    offscreen_frame::Setup setup{};
    GLuint framebuffer = 0;
    GLuint renderbuffer = 0;
    int currentStep = 0;
    bool adaptive = false;
    ScaleGovernor governor{0, false};
    double frameStart = 0.0;
    // The scene program of each scale, by step; 0 until built. The scale
    // that the frame loop started with has the host's program.
    GLuint programs[SCENE_SCALE_COUNT] = {};
    bool programFailed[SCENE_SCALE_COUNT] = {};
    char densityName[16] = {};
};
FrameState frame;

template <typename F>
bool fetch(F& entry, const char* name)
{
    entry = reinterpret_cast<F>(frame.setup.getProcAddress(name));
    return entry != nullptr;
}

// The one place where the scale at `step` (or the density) becomes a size in
// pixels.
SampleGrid drawnSize(int step)
{
    return frame.setup.density > 1 ? densityGrid(frame.setup.density) : SCENE_SCALES[step].grid;
}

// Gives the renderbuffer the size of a frame at `step` and points the
// viewport at it; leaves the framebuffer bound for drawing and reading.
bool sizeFramebuffer(int step)
{
    const SampleGrid size = drawnSize(step);
    gl.bindFramebuffer(GL_FRAMEBUFFER, frame.framebuffer);
    gl.bindRenderbuffer(GL_RENDERBUFFER, frame.renderbuffer);
    // No alpha where the context can draw into that: the shader writes only
    // the colour, and the copy must be opaque. The window has no alpha of
    // its own either way.
    for (GLenum format : {GL_RGB8, GL_RGBA8}) {
        gl.renderbufferStorage(GL_RENDERBUFFER, format, size.width, size.height);
        gl.framebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, frame.renderbuffer);
        if (gl.checkFramebufferStatus(GL_FRAMEBUFFER) == GL_FRAMEBUFFER_COMPLETE) {
            glViewport(0, 0, size.width, size.height);
            return true;
        }
    }
    return false;
}

// The scene program for `step`, built on first use from the embedded text.
GLuint programFor(int step)
{
    if (frame.programs[step] == 0 && !frame.programFailed[step]) {
        const std::string text = scaledSceneSource(sceneShaderSource, step);
        const char* source = text.c_str();
        const GLuint program = gl.createShaderProgramv(GL_FRAGMENT_SHADER, 1, &source);
        GLint linked = GL_FALSE;
        if (program != 0) {
            gl.getProgramiv(program, GL_LINK_STATUS, &linked);
        }
        if (linked == GL_TRUE) {
            frame.programs[step] = program;
        } else {
            frame.programFailed[step] = true;
        }
    }
    return frame.programs[step];
}

void printSlowFramesHint()
{
    if (frame.setup.density > 1) {
        const SampleGrid size = drawnSize(frame.currentStep);
        std::fprintf(stderr,
                     "demo: the GPU cannot keep up with --density %d (%dx%d): its frames take longer than "
                     "1/%d s; without --density the picture has 1/%d of the pixels\n",
                     frame.setup.density, size.width, size.height,
                     static_cast<int>(1.0 / ScaleGovernor::FRAME_BUDGET_SECONDS + 0.5), frame.setup.density * frame.setup.density);
    } else {
        std::fprintf(stderr,
                     "demo: the first frames took longer than %d ms at full resolution; "
                     "'demo --scale auto' draws fewer pixels where the GPU needs it\n",
                     static_cast<int>(ScaleGovernor::SLOW_START_SECONDS * 1000));
    }
    std::fflush(stderr);
}

} // namespace

const char* offscreen_frame::begin(const Setup& chosen)
{
    frame.setup = chosen;
    if (!fetch(gl.genFramebuffers, "glGenFramebuffers") || !fetch(gl.bindFramebuffer, "glBindFramebuffer") ||
        !fetch(gl.genRenderbuffers, "glGenRenderbuffers") || !fetch(gl.bindRenderbuffer, "glBindRenderbuffer") ||
        !fetch(gl.renderbufferStorage, "glRenderbufferStorage") ||
        !fetch(gl.framebufferRenderbuffer, "glFramebufferRenderbuffer") ||
        !fetch(gl.checkFramebufferStatus, "glCheckFramebufferStatus") || !fetch(gl.blitFramebuffer, "glBlitFramebuffer")) {
        return "the OpenGL context has no framebuffer objects (OpenGL 3.0 or GL_ARB_framebuffer_object)";
    }
    if (frame.setup.adaptive && (!fetch(gl.useProgram, "glUseProgram") || !fetch(gl.createShaderProgramv, "glCreateShaderProgramv") ||
                  !fetch(gl.getProgramiv, "glGetProgramiv"))) {
        return "OpenGL entry points for the scene's programs at other scales";
    }
    frame.currentStep = frame.setup.step;
    frame.adaptive = frame.setup.adaptive && frame.setup.density == 1;
    // An adaptive run's first frame is its probe.
    frame.governor = frame.adaptive ? ScaleGovernor::probing(frame.setup.step) : ScaleGovernor(frame.setup.step, false, frame.setup.density > 1);
    std::snprintf(frame.densityName, sizeof frame.densityName, "density-%d", frame.setup.density);
    gl.genFramebuffers(1, &frame.framebuffer);
    gl.genRenderbuffers(1, &frame.renderbuffer);
    if (!sizeFramebuffer(frame.setup.step)) {
        gl.bindFramebuffer(GL_FRAMEBUFFER, 0);
        return frame.setup.density > 1 ? "no offscreen framebuffer of the density's size"
                                 : "no offscreen framebuffer of the frame's size";
    }
    // The bars.
    glClearColor(0.f, 0.f, 0.f, 1.f);
    return nullptr;
}

void offscreen_frame::markFrameStart()
{
    frame.frameStart = frame.setup.seconds();
}

void offscreen_frame::copyToWindow(int drawableWidth, int drawableHeight)
{
    const ScreenRect to = letterbox(drawableWidth, drawableHeight, frame.setup.frameWidth, frame.setup.frameHeight);
    const SampleGrid from = drawnSize(frame.currentStep);
    gl.bindFramebuffer(GL_DRAW_FRAMEBUFFER, 0);
    glClear(GL_COLOR_BUFFER_BIT);
    gl.blitFramebuffer(0, 0, from.width, from.height, to.x, to.y, to.x + to.width, to.y + to.height,
                    GL_COLOR_BUFFER_BIT, GL_LINEAR);
    if (frame.adaptive || (frame.setup.slowStartHint && frame.governor.wantsFrameTimes())) {
        // Wait for the frame and its copy, so that the time is the drawing's
        // and not the wait for the display's refresh in the swap.
        glFinish();
        const double now = frame.setup.seconds();
        frame.governor.frameDone(now, now - frame.frameStart);
        if (frame.governor.takeSlowStartHint()) {
            printSlowFramesHint();
        }
    }
}

void offscreen_frame::prepareNextFrame()
{
    const int wanted = frame.governor.step();
    if (wanted != frame.currentStep) {
        if (frame.programs[frame.currentStep] == 0) {
            // The host's program, made current before the frame loop.
            GLint current = 0;
            glGetIntegerv(GL_CURRENT_PROGRAM, &current);
            frame.programs[frame.currentStep] = static_cast<GLuint>(current);
        }
        const GLuint program = programFor(wanted);
        if (program != 0 && sizeFramebuffer(wanted)) {
            gl.useProgram(program);
            frame.currentStep = wanted;
        } else {
            // Keep the scale that works.
            std::fprintf(stderr, "demo: the picture stays at scale %s: scale %s could not be set up\n",
                         SCENE_SCALES[frame.currentStep].name, SCENE_SCALES[wanted].name);
            std::fflush(stderr);
            sizeFramebuffer(frame.currentStep);
            frame.governor = ScaleGovernor(frame.currentStep, false);
            frame.adaptive = false;
            return;
        }
    }
    gl.bindFramebuffer(GL_FRAMEBUFFER, frame.framebuffer);
}

const char* offscreen_frame::gridName()
{
    return frame.setup.density > 1 ? frame.densityName : SCENE_SCALES[frame.currentStep].name;
}
