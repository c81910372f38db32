// The offscreen frame at an internal resolution and its copy to the window.
#include "scaled_frame.h"

#include <SDL2/SDL.h>
#include <SDL2/SDL_opengl.h>

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

int frameWidth;
int frameHeight;
GLuint framebuffer;
GLuint renderbuffer;
int currentScale;
bool adaptive;
ScaleGovernor governor{1, false};
Uint64 frameStart;
unsigned framesTimed;
// The scene program of each scale, by scale; 0 until built. The scale that
// the frame loop started with has the host's program.
GLuint programs[7];
bool programFailed[7];

template <typename F>
bool fetch(F& entry, const char* name)
{
    entry = reinterpret_cast<F>(SDL_GL_GetProcAddress(name));
    return entry != nullptr;
}

// Gives the renderbuffer the size of a frame at `scale` and points the
// viewport at it; leaves the framebuffer bound for drawing and reading.
bool sizeFramebuffer(int scale)
{
    bindFramebuffer(GL_FRAMEBUFFER, framebuffer);
    bindRenderbuffer(GL_RENDERBUFFER, renderbuffer);
    // No alpha where the context can draw into that: the shader writes only
    // the colour, and the copy must be opaque. The window has no alpha of
    // its own either way.
    for (GLenum format : {GL_RGB8, GL_RGBA8}) {
        renderbufferStorage(GL_RENDERBUFFER, format, frameWidth / scale, frameHeight / scale);
        framebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, renderbuffer);
        if (checkFramebufferStatus(GL_FRAMEBUFFER) == GL_FRAMEBUFFER_COMPLETE) {
            glViewport(0, 0, frameWidth / scale, frameHeight / scale);
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

double secondsSince(Uint64 start, Uint64 now)
{
    return static_cast<double>(now - start) / static_cast<double>(SDL_GetPerformanceFrequency());
}

} // namespace

const char* scaled_frame::begin(int width, int height, int scale, bool adapt)
{
    if (!fetch(genFramebuffers, "glGenFramebuffers") || !fetch(bindFramebuffer, "glBindFramebuffer") ||
        !fetch(genRenderbuffers, "glGenRenderbuffers") || !fetch(bindRenderbuffer, "glBindRenderbuffer") ||
        !fetch(renderbufferStorage, "glRenderbufferStorage") ||
        !fetch(framebufferRenderbuffer, "glFramebufferRenderbuffer") ||
        !fetch(checkFramebufferStatus, "glCheckFramebufferStatus") || !fetch(blitFramebuffer, "glBlitFramebuffer")) {
        return "the OpenGL context has no framebuffer objects (OpenGL 3.0 or GL_ARB_framebuffer_object)";
    }
    if (adapt && (!fetch(useProgram, "glUseProgram") || !fetch(createShaderProgramv, "glCreateShaderProgramv") ||
                  !fetch(getProgramiv, "glGetProgramiv"))) {
        return "OpenGL entry points for the scene's programs at other scales";
    }
    frameWidth = width;
    frameHeight = height;
    currentScale = scale;
    adaptive = adapt;
    governor = ScaleGovernor(scale, adapt);
    genFramebuffers(1, &framebuffer);
    genRenderbuffers(1, &renderbuffer);
    if (!sizeFramebuffer(scale)) {
        return "no offscreen framebuffer of the frame's size";
    }
    // The bars.
    glClearColor(0.f, 0.f, 0.f, 1.f);
    return nullptr;
}

void scaled_frame::markFrameStart()
{
    frameStart = SDL_GetPerformanceCounter();
}

void scaled_frame::copyToWindow(int drawableWidth, int drawableHeight)
{
    const ScreenRect to = letterbox(drawableWidth, drawableHeight, frameWidth, frameHeight);
    bindFramebuffer(GL_DRAW_FRAMEBUFFER, 0);
    glClear(GL_COLOR_BUFFER_BIT);
    blitFramebuffer(0, 0, frameWidth / currentScale, frameHeight / currentScale, to.x, to.y, to.x + to.width,
                    to.y + to.height, GL_COLOR_BUFFER_BIT, GL_LINEAR);
    if (adaptive || framesTimed < 2) {
        // Wait for the frame and its copy, so that the time is the drawing's
        // and not the wait for the display's refresh in the swap.
        glFinish();
        const Uint64 now = SDL_GetPerformanceCounter();
        ++framesTimed;
        governor.frameDone(secondsSince(0, now), secondsSince(frameStart, now));
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
