// The offscreen frame at an internal resolution and its copy to the window.
#include "scaled_frame.h"

#include <GL/gl.h>
#include <GL/glext.h>

#include <cstdio>
#include <string>

#include "letterbox.h"
#include "scale_governor.h"
#include "scaled_source.h"
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

// The size that a frame is drawn at: the frame's size divided by the scale.
struct DrawnSize {
    int width;
    int height;
};

scaled_frame::Setup setup;
GLuint framebuffer;
GLuint renderbuffer;
int currentScale;
bool adaptive;
ScaleGovernor governor{1, false};
double frameStart;
unsigned framesTimed;
// The scene program of each scale, by scale; 0 until built. The scale that
// the frame loop started with has the host's program.
GLuint programs[7];
bool programFailed[7];

template <typename F>
bool fetch(F& entry, const char* name)
{
    entry = reinterpret_cast<F>(setup.getProcAddress(name));
    return entry != nullptr;
}

// The one place where a scale becomes a size in pixels.
DrawnSize drawnSize(int scale)
{
    return {setup.frameWidth / scale, setup.frameHeight / scale};
}

// Gives the renderbuffer the size of a frame at `scale` and points the
// viewport at it; leaves the framebuffer bound for drawing and reading.
bool sizeFramebuffer(int scale)
{
    const DrawnSize size = drawnSize(scale);
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

// The scene program for `scale`, built on first use from the embedded text.
GLuint programFor(int scale)
{
    if (programs[scale] == 0 && !programFailed[scale]) {
        const std::string text = scaledSceneSource(sceneShaderSource, scale);
        const char* source = text.c_str();
        const GLuint program = createShaderProgramv(GL_FRAGMENT_SHADER, 1, &source);
        GLint linked = GL_FALSE;
        if (program != 0) {
            getProgramiv(program, GL_LINK_STATUS, &linked);
        }
        if (linked == GL_TRUE) {
            programs[scale] = program;
        } else {
            programFailed[scale] = true;
        }
    }
    return programs[scale];
}

} // namespace

const char* scaled_frame::begin(const Setup& chosen)
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
    currentScale = setup.scale;
    adaptive = setup.adaptive;
    governor = ScaleGovernor(setup.scale, setup.adaptive);
    genFramebuffers(1, &framebuffer);
    genRenderbuffers(1, &renderbuffer);
    if (!sizeFramebuffer(setup.scale)) {
        bindFramebuffer(GL_FRAMEBUFFER, 0);
        return "no offscreen framebuffer of the frame's size";
    }
    // The bars.
    glClearColor(0.f, 0.f, 0.f, 1.f);
    return nullptr;
}

void scaled_frame::markFrameStart()
{
    frameStart = setup.seconds();
}

void scaled_frame::copyToWindow(int drawableWidth, int drawableHeight)
{
    const ScreenRect to = letterbox(drawableWidth, drawableHeight, setup.frameWidth, setup.frameHeight);
    const DrawnSize from = drawnSize(currentScale);
    bindFramebuffer(GL_DRAW_FRAMEBUFFER, 0);
    glClear(GL_COLOR_BUFFER_BIT);
    blitFramebuffer(0, 0, from.width, from.height, to.x, to.y, to.x + to.width, to.y + to.height,
                    GL_COLOR_BUFFER_BIT, GL_LINEAR);
    if (adaptive || (setup.slowStartHint && framesTimed < 2)) {
        // Wait for the frame and its copy, so that the time is the drawing's
        // and not the wait for the display's refresh in the swap.
        glFinish();
        const double now = setup.seconds();
        ++framesTimed;
        governor.frameDone(now, now - frameStart);
        if (governor.takeSlowStartHint()) {
            std::fprintf(stderr,
                         "demo: the first frames took longer than %d ms at full resolution; "
                         "'demo --scale auto' draws fewer pixels where the GPU needs it\n",
                         static_cast<int>(ScaleGovernor::SLOW_START_SECONDS * 1000));
            std::fflush(stderr);
        }
    }
}

void scaled_frame::prepareNextFrame()
{
    const int wanted = governor.scale();
    if (wanted != currentScale) {
        if (programs[currentScale] == 0) {
            // The host's program, made current before the frame loop.
            GLint current = 0;
            glGetIntegerv(GL_CURRENT_PROGRAM, &current);
            programs[currentScale] = static_cast<GLuint>(current);
        }
        const GLuint program = programFor(wanted);
        if (program != 0 && sizeFramebuffer(wanted)) {
            useProgram(program);
            currentScale = wanted;
        } else {
            // Keep the scale that works.
            std::fprintf(stderr, "demo: the picture stays at scale %d: scale %d could not be set up\n",
                         currentScale, wanted);
            std::fflush(stderr);
            sizeFramebuffer(currentScale);
            governor = ScaleGovernor(currentScale, false);
            adaptive = false;
            return;
        }
    }
    bindFramebuffer(GL_FRAMEBUFFER, framebuffer);
}

int scaled_frame::scale()
{
    return currentScale;
}
