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

PFNGLGENFRAMEBUFFERSPROC genFramebuffers;
PFNGLBINDFRAMEBUFFERPROC bindFramebuffer;
PFNGLGENRENDERBUFFERSPROC genRenderbuffers;
PFNGLBINDRENDERBUFFERPROC bindRenderbuffer;
PFNGLRENDERBUFFERSTORAGEPROC renderbufferStorage;
PFNGLFRAMEBUFFERRENDERBUFFERPROC framebufferRenderbuffer;
PFNGLCHECKFRAMEBUFFERSTATUSPROC checkFramebufferStatus;
PFNGLBLITFRAMEBUFFERPROC blitFramebuffer;
PFNGLUSEPROGRAMPROC useProgram;
PFNGLCREATESHADERPROGRAMVPROC createShaderProgramv;
PFNGLGETPROGRAMIVPROC getProgramiv;

offscreen_frame::Setup setup;
GLuint framebuffer;
GLuint renderbuffer;
int currentStep;
bool adaptive;
ScaleGovernor governor{0, false};
double frameStart;
// The scene program of each scale, by step; 0 until built. The scale that
// the frame loop started with has the host's program.
GLuint programs[SCENE_SCALE_COUNT];
bool programFailed[SCENE_SCALE_COUNT];
char densityName[16];

template <typename F>
bool fetch(F& entry, const char* name)
{
    entry = reinterpret_cast<F>(setup.getProcAddress(name));
    return entry != nullptr;
}

// The one place where the scale at `step` (or the density) becomes a size in
// pixels.
SampleGrid drawnSize(int step)
{
    return setup.density > 1 ? densityGrid(setup.density) : SCENE_SCALES[step].grid;
}

// Gives the renderbuffer the size of a frame at `step` and points the
// viewport at it; leaves the framebuffer bound for drawing and reading.
bool sizeFramebuffer(int step)
{
    const SampleGrid size = drawnSize(step);
    bindFramebuffer(GL_FRAMEBUFFER, framebuffer);
    bindRenderbuffer(GL_RENDERBUFFER, renderbuffer);
    // No alpha where the context can draw into that: the shader writes only
    // the colour, and the copy must be opaque. The window has no alpha of
    // its own either way.
    for (GLenum format : {GL_RGB8, GL_RGBA8}) {
        renderbufferStorage(GL_RENDERBUFFER, format, size.width, size.height);
        framebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, renderbuffer);
        if (checkFramebufferStatus(GL_FRAMEBUFFER) == GL_FRAMEBUFFER_COMPLETE) {
            glViewport(0, 0, size.width, size.height);
            return true;
        }
    }
    return false;
}

// The scene program for `step`, built on first use from the embedded text.
GLuint programFor(int step)
{
    if (programs[step] == 0 && !programFailed[step]) {
        const std::string text = scaledSceneSource(sceneShaderSource, step);
        const char* source = text.c_str();
        const GLuint program = createShaderProgramv(GL_FRAGMENT_SHADER, 1, &source);
        GLint linked = GL_FALSE;
        if (program != 0) {
            getProgramiv(program, GL_LINK_STATUS, &linked);
        }
        if (linked == GL_TRUE) {
            programs[step] = program;
        } else {
            programFailed[step] = true;
        }
    }
    return programs[step];
}

void printSlowFramesHint()
{
    if (setup.density > 1) {
        const SampleGrid size = drawnSize(currentStep);
        std::fprintf(stderr,
                     "demo: the GPU cannot keep up with --density %d (%dx%d): its frames take longer than "
                     "1/%d s; without --density the picture has 1/%d of the pixels\n",
                     setup.density, size.width, size.height,
                     static_cast<int>(1.0 / ScaleGovernor::FRAME_BUDGET_SECONDS + 0.5), setup.density * setup.density);
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
    setup = chosen;
    if (!fetch(genFramebuffers, "glGenFramebuffers") || !fetch(bindFramebuffer, "glBindFramebuffer") ||
        !fetch(genRenderbuffers, "glGenRenderbuffers") || !fetch(bindRenderbuffer, "glBindRenderbuffer") ||
        !fetch(renderbufferStorage, "glRenderbufferStorage") ||
        !fetch(framebufferRenderbuffer, "glFramebufferRenderbuffer") ||
        !fetch(checkFramebufferStatus, "glCheckFramebufferStatus") || !fetch(blitFramebuffer, "glBlitFramebuffer")) {
        return "the OpenGL context has no framebuffer objects (OpenGL 3.0 or GL_ARB_framebuffer_object)";
    }
    if (setup.adaptive && (!fetch(useProgram, "glUseProgram") || !fetch(createShaderProgramv, "glCreateShaderProgramv") ||
                  !fetch(getProgramiv, "glGetProgramiv"))) {
        return "OpenGL entry points for the scene's programs at other scales";
    }
    currentStep = setup.step;
    adaptive = setup.adaptive && setup.density == 1;
    // An adaptive run's first frame is its probe.
    governor = adaptive ? ScaleGovernor::probing(setup.step) : ScaleGovernor(setup.step, false, setup.density > 1);
    std::snprintf(densityName, sizeof densityName, "density-%d", setup.density);
    genFramebuffers(1, &framebuffer);
    genRenderbuffers(1, &renderbuffer);
    if (!sizeFramebuffer(setup.step)) {
        bindFramebuffer(GL_FRAMEBUFFER, 0);
        return setup.density > 1 ? "no offscreen framebuffer of the density's size"
                                 : "no offscreen framebuffer of the frame's size";
    }
    // The bars.
    glClearColor(0.f, 0.f, 0.f, 1.f);
    return nullptr;
}

void offscreen_frame::markFrameStart()
{
    frameStart = setup.seconds();
}

void offscreen_frame::copyToWindow(int drawableWidth, int drawableHeight)
{
    const ScreenRect to = letterbox(drawableWidth, drawableHeight, setup.frameWidth, setup.frameHeight);
    const SampleGrid from = drawnSize(currentStep);
    bindFramebuffer(GL_DRAW_FRAMEBUFFER, 0);
    glClear(GL_COLOR_BUFFER_BIT);
    blitFramebuffer(0, 0, from.width, from.height, to.x, to.y, to.x + to.width, to.y + to.height,
                    GL_COLOR_BUFFER_BIT, GL_LINEAR);
    if (adaptive || (setup.slowStartHint && governor.wantsFrameTimes())) {
        // Wait for the frame and its copy, so that the time is the drawing's
        // and not the wait for the display's refresh in the swap.
        glFinish();
        const double now = setup.seconds();
        governor.frameDone(now, now - frameStart);
        if (governor.takeSlowStartHint()) {
            printSlowFramesHint();
        }
    }
}

void offscreen_frame::prepareNextFrame()
{
    const int wanted = governor.step();
    if (wanted != currentStep) {
        if (programs[currentStep] == 0) {
            // The host's program, made current before the frame loop.
            GLint current = 0;
            glGetIntegerv(GL_CURRENT_PROGRAM, &current);
            programs[currentStep] = static_cast<GLuint>(current);
        }
        const GLuint program = programFor(wanted);
        if (program != 0 && sizeFramebuffer(wanted)) {
            useProgram(program);
            currentStep = wanted;
        } else {
            // Keep the scale that works.
            std::fprintf(stderr, "demo: the picture stays at scale %s: scale %s could not be set up\n",
                         SCENE_SCALES[currentStep].name, SCENE_SCALES[wanted].name);
            std::fflush(stderr);
            sizeFramebuffer(currentStep);
            governor = ScaleGovernor(currentStep, false);
            adaptive = false;
            return;
        }
    }
    bindFramebuffer(GL_FRAMEBUFFER, framebuffer);
}

const char* offscreen_frame::gridName()
{
    return setup.density > 1 ? densityName : SCENE_SCALES[currentStep].name;
}
