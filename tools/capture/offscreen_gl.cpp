#include "offscreen_gl.h"

#include <EGL/egl.h>
#include <EGL/eglext.h>
#define GL_GLEXT_PROTOTYPES 1
#include <GL/gl.h>
#include <GL/glext.h>

#include <cstdio>
#include <cstring>

namespace offscreen {
namespace {

bool hasExtension(const char* list, const char* name)
{
    if (!list)
        return false;
    const std::size_t length = std::strlen(name);
    for (const char* p = list; (p = std::strstr(p, name)) != nullptr; p += length) {
        const bool startOk = p == list || p[-1] == ' ';
        const bool endOk = p[length] == '\0' || p[length] == ' ';
        if (startOk && endOk)
            return true;
    }
    return false;
}

struct DisplayChoice {
    EGLDisplay display = EGL_NO_DISPLAY;
    std::string platform;
};

// Surfaceless Mesa first (no window system at all), then the first EGL
// device (NVIDIA's headless route), then the default display.
std::vector<DisplayChoice> candidateDisplays()
{
    std::vector<DisplayChoice> result;
    const char* clientExtensions = eglQueryString(EGL_NO_DISPLAY, EGL_EXTENSIONS);
    auto getPlatformDisplay = reinterpret_cast<PFNEGLGETPLATFORMDISPLAYEXTPROC>(
        eglGetProcAddress("eglGetPlatformDisplayEXT"));
    if (getPlatformDisplay && hasExtension(clientExtensions, "EGL_MESA_platform_surfaceless")) {
        EGLDisplay d = getPlatformDisplay(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, nullptr);
        if (d != EGL_NO_DISPLAY)
            result.push_back({d, "EGL surfaceless"});
    }
    auto queryDevices = reinterpret_cast<PFNEGLQUERYDEVICESEXTPROC>(eglGetProcAddress("eglQueryDevicesEXT"));
    if (getPlatformDisplay && queryDevices && hasExtension(clientExtensions, "EGL_EXT_platform_device")) {
        EGLDeviceEXT devices[8];
        EGLint count = 0;
        if (queryDevices(8, devices, &count)) {
            for (EGLint i = 0; i < count; ++i) {
                EGLDisplay d = getPlatformDisplay(EGL_PLATFORM_DEVICE_EXT, devices[i], nullptr);
                if (d != EGL_NO_DISPLAY)
                    result.push_back({d, "EGL device " + std::to_string(i)});
            }
        }
    }
    EGLDisplay d = eglGetDisplay(EGL_DEFAULT_DISPLAY);
    if (d != EGL_NO_DISPLAY)
        result.push_back({d, "EGL default display"});
    return result;
}

}  // namespace

std::unique_ptr<GlContext> GlContext::create(std::string& error)
{
    std::string reasons;
    for (const DisplayChoice& choice : candidateDisplays()) {
        EGLDisplay display = choice.display;
        EGLint major = 0, minor = 0;
        if (!eglInitialize(display, &major, &minor)) {
            reasons += "\n  " + choice.platform + ": eglInitialize failed";
            continue;
        }
        if (!eglBindAPI(EGL_OPENGL_API)) {
            reasons += "\n  " + choice.platform + ": no desktop OpenGL";
            eglTerminate(display);
            continue;
        }
        const char* extensions = eglQueryString(display, EGL_EXTENSIONS);
        const bool surfaceless = hasExtension(extensions, "EGL_KHR_surfaceless_context");
        const EGLint configAttribs[] = {
            EGL_RENDERABLE_TYPE, EGL_OPENGL_BIT,
            EGL_SURFACE_TYPE, surfaceless ? 0 : EGL_PBUFFER_BIT,
            EGL_RED_SIZE, 8, EGL_GREEN_SIZE, 8, EGL_BLUE_SIZE, 8,
            EGL_NONE};
        EGLConfig config = nullptr;
        EGLint configCount = 0;
        if (!eglChooseConfig(display, configAttribs, &config, 1, &configCount) || configCount < 1) {
            reasons += "\n  " + choice.platform + ": no OpenGL config";
            eglTerminate(display);
            continue;
        }
        // The compatibility profile keeps gl_Fog and glRectf; asking for no
        // particular version gets the newest the driver offers.
        const EGLint contextAttribs[] = {
            EGL_CONTEXT_OPENGL_PROFILE_MASK, EGL_CONTEXT_OPENGL_COMPATIBILITY_PROFILE_BIT,
            EGL_NONE};
        EGLContext context = eglCreateContext(display, config, EGL_NO_CONTEXT, contextAttribs);
        if (context == EGL_NO_CONTEXT) {
            reasons += "\n  " + choice.platform + ": no compatibility-profile context";
            eglTerminate(display);
            continue;
        }
        EGLSurface surface = EGL_NO_SURFACE;
        if (!surfaceless) {
            const EGLint pbufferAttribs[] = {EGL_WIDTH, 16, EGL_HEIGHT, 16, EGL_NONE};
            surface = eglCreatePbufferSurface(display, config, pbufferAttribs);
        }
        if (!eglMakeCurrent(display, surface, surface, context)) {
            reasons += "\n  " + choice.platform + ": eglMakeCurrent failed";
            if (surface != EGL_NO_SURFACE)
                eglDestroySurface(display, surface);
            eglDestroyContext(display, context);
            eglTerminate(display);
            continue;
        }
        // Separate shader programs: OpenGL 4.1 or the extension.
        const char* version = reinterpret_cast<const char*>(glGetString(GL_VERSION));
        int glMajor = 0, glMinor = 0;
        if (version)
            std::sscanf(version, "%d.%d", &glMajor, &glMinor);
        bool separate = glMajor > 4 || (glMajor == 4 && glMinor >= 1);
        if (!separate) {
            GLint count = 0;
            glGetIntegerv(GL_NUM_EXTENSIONS, &count);
            for (GLint i = 0; i < count && !separate; ++i) {
                const char* name = reinterpret_cast<const char*>(glGetStringi(GL_EXTENSIONS, i));
                separate = name && std::strcmp(name, "GL_ARB_separate_shader_objects") == 0;
            }
        }
        if (!separate) {
            reasons += "\n  " + choice.platform + ": OpenGL " + (version ? version : "?") +
                       " has no separate shader programs";
            eglMakeCurrent(display, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
            if (surface != EGL_NO_SURFACE)
                eglDestroySurface(display, surface);
            eglDestroyContext(display, context);
            eglTerminate(display);
            continue;
        }
        std::unique_ptr<GlContext> result(new GlContext());
        result->display_ = display;
        result->context_ = context;
        result->surface_ = surface;
        result->platform_ = choice.platform;
        return result;
    }
    error = "no EGL display with an OpenGL compatibility-profile context" +
            (reasons.empty() ? std::string(" (no EGL display at all)") : reasons);
    return nullptr;
}

GlContext::~GlContext()
{
    eglMakeCurrent(display_, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
    if (surface_ != EGL_NO_SURFACE)
        eglDestroySurface(display_, surface_);
    eglDestroyContext(display_, context_);
    eglTerminate(display_);
}

std::string GlContext::description() const
{
    auto text = [](GLenum name) {
        const char* s = reinterpret_cast<const char*>(glGetString(name));
        return std::string(s ? s : "?");
    };
    return "OpenGL " + text(GL_VERSION) + " (" + text(GL_RENDERER) + ") via " + platform_;
}

RenderTarget::RenderTarget(int width, int height, PixelFormat format)
    : width_(width), height_(height)
{
    glGenFramebuffers(1, &framebuffer_);
    glGenRenderbuffers(1, &renderbuffer_);
    glBindRenderbuffer(GL_RENDERBUFFER, renderbuffer_);
    glRenderbufferStorage(GL_RENDERBUFFER, format == PixelFormat::Rgba8 ? GL_RGBA8 : GL_RGBA32F, width, height);
    glBindFramebuffer(GL_FRAMEBUFFER, framebuffer_);
    glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, renderbuffer_);
    glDrawBuffer(GL_COLOR_ATTACHMENT0);
    glReadBuffer(GL_COLOR_ATTACHMENT0);
    complete_ = glCheckFramebufferStatus(GL_FRAMEBUFFER) == GL_FRAMEBUFFER_COMPLETE;
    glViewport(0, 0, width, height);
    glDisable(GL_DITHER);
    glClearColor(0.0f, 0.0f, 0.0f, 0.0f);
    glClear(GL_COLOR_BUFFER_BIT);
}

RenderTarget::~RenderTarget()
{
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
    glDeleteFramebuffers(1, &framebuffer_);
    glDeleteRenderbuffers(1, &renderbuffer_);
}

std::vector<std::uint8_t> RenderTarget::readRgb8TopDown(int x, int y, int width, int height) const
{
    std::vector<std::uint8_t> bottomUp(static_cast<std::size_t>(width) * height * 3);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(x, y, width, height, GL_RGB, GL_UNSIGNED_BYTE, bottomUp.data());
    std::vector<std::uint8_t> topDown(bottomUp.size());
    const std::size_t rowBytes = static_cast<std::size_t>(width) * 3;
    for (int row = 0; row < height; ++row)
        std::memcpy(topDown.data() + rowBytes * row, bottomUp.data() + rowBytes * (height - 1 - row), rowBytes);
    return topDown;
}

std::vector<float> RenderTarget::readRgba32f(int x, int y, int width, int height) const
{
    std::vector<float> pixels(static_cast<std::size_t>(width) * height * 4);
    glPixelStorei(GL_PACK_ALIGNMENT, 4);
    glReadPixels(x, y, width, height, GL_RGBA, GL_FLOAT, pixels.data());
    return pixels;
}

unsigned buildFragmentProgram(const char* source, std::string& log)
{
    const GLuint program = glCreateShaderProgramv(GL_FRAGMENT_SHADER, 1, &source);
    log.clear();
    if (program == 0) {
        log = "glCreateShaderProgramv returned no program";
        return 0;
    }
    GLint length = 0;
    glGetProgramiv(program, GL_INFO_LOG_LENGTH, &length);
    if (length > 0) {
        std::vector<char> text(static_cast<std::size_t>(length) + 1, '\0');
        GLsizei written = 0;
        glGetProgramInfoLog(program, length, &written, text.data());
        log.assign(text.data(), static_cast<std::size_t>(written));
    }
    GLint linked = 0;
    glGetProgramiv(program, GL_LINK_STATUS, &linked);
    if (!linked) {
        glDeleteProgram(program);
        return 0;
    }
    return program;
}

void deleteProgram(unsigned program)
{
    glUseProgram(0);
    glDeleteProgram(program);
}

bool drawBand(unsigned program, std::uint32_t timeMs, const PixelRect& band)
{
    glUseProgram(program);
    glEnable(GL_SCISSOR_TEST);
    glScissor(band.x, band.y, band.width, band.height);
    // The host's two per-frame calls.
    glFogi(GL_FOG_END, static_cast<GLint>(timeMs));
    glRectf(-1.0f, -1.0f, 1.0f, 1.0f);
    glFinish();
    glDisable(GL_SCISSOR_TEST);
    return glGetError() == GL_NO_ERROR;
}

bool drawFrame(unsigned program, std::uint32_t timeMs, const PixelRect& rect)
{
    return drawFrame(program, timeMs, rect, 0, [](int) { return true; });
}

}  // namespace offscreen
