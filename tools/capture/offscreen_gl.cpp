#include "offscreen_gl.h"

#include <EGL/egl.h>
#include <EGL/eglext.h>
#define GL_GLEXT_PROTOTYPES 1
#include <GL/gl.h>
#include <GL/glext.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>

#include "display_choice.h"

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

// The displays to try: surfaceless Mesa (no window system at all), every EGL
// device (NVIDIA's headless route, and each GPU's), then the default display.
// Which of those that work draws is display_choice.h's choice.
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

namespace {

// A display with the scene's OpenGL made current on it.
struct OpenDisplay {
    EGLDisplay display = EGL_NO_DISPLAY;
    EGLContext context = EGL_NO_CONTEXT;
    EGLSurface surface = EGL_NO_SURFACE;
};

void closeDisplay(const OpenDisplay& open)
{
    eglMakeCurrent(open.display, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
    if (open.surface != EGL_NO_SURFACE)
        eglDestroySurface(open.display, open.surface);
    if (open.context != EGL_NO_CONTEXT)
        eglDestroyContext(open.display, open.context);
    eglTerminate(open.display);
}

// Makes a compatibility-profile context with separate shader programs
// current on the display; on failure says why in `why` and leaves the
// display terminated.
bool openDisplay(EGLDisplay display, OpenDisplay& open, std::string& why)
{
    open = {display, EGL_NO_CONTEXT, EGL_NO_SURFACE};
    EGLint major = 0, minor = 0;
    if (!eglInitialize(display, &major, &minor)) {
        why = "eglInitialize failed";
        return false;
    }
    if (!eglBindAPI(EGL_OPENGL_API)) {
        why = "no desktop OpenGL";
        eglTerminate(display);
        return false;
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
        why = "no OpenGL config";
        eglTerminate(display);
        return false;
    }
    // The compatibility profile keeps gl_Fog and glRectf; asking for no
    // particular version gets the newest the driver offers.
    const EGLint contextAttribs[] = {
        EGL_CONTEXT_OPENGL_PROFILE_MASK, EGL_CONTEXT_OPENGL_COMPATIBILITY_PROFILE_BIT,
        EGL_NONE};
    open.context = eglCreateContext(display, config, EGL_NO_CONTEXT, contextAttribs);
    if (open.context == EGL_NO_CONTEXT) {
        why = "no compatibility-profile context";
        eglTerminate(display);
        return false;
    }
    if (!surfaceless) {
        const EGLint pbufferAttribs[] = {EGL_WIDTH, 16, EGL_HEIGHT, 16, EGL_NONE};
        open.surface = eglCreatePbufferSurface(display, config, pbufferAttribs);
    }
    if (!eglMakeCurrent(display, open.surface, open.surface, open.context)) {
        why = "eglMakeCurrent failed";
        closeDisplay(open);
        return false;
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
        why = "OpenGL " + std::string(version ? version : "?") + " has no separate shader programs";
        closeDisplay(open);
        return false;
    }
    return true;
}

}  // namespace

std::unique_ptr<GlContext> GlContext::create(std::string& error)
{
    // Every display that offers the scene's OpenGL, with its renderer; then
    // the choice among them (display_choice.h), and the others closed.
    std::string reasons;
    std::vector<OpenDisplay> opened;
    std::vector<FoundDisplay> found;
    for (const DisplayChoice& choice : candidateDisplays()) {
        OpenDisplay open;
        std::string why;
        if (!openDisplay(choice.display, open, why)) {
            reasons += "\n  " + choice.platform + ": " + why;
            continue;
        }
        const char* renderer = reinterpret_cast<const char*>(glGetString(GL_RENDERER));
        opened.push_back(open);
        found.push_back({choice.platform, renderer ? renderer : "?"});
        eglMakeCurrent(open.display, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
    }
    const char* wanted = std::getenv(RENDERER_VARIABLE);
    std::string why;
    const std::optional<std::size_t> choice =
        found.empty() ? std::nullopt : chooseDisplay(found, wanted ? wanted : "", why);
    const std::size_t chosen = choice.value_or(opened.size());
    for (std::size_t i = 0; i < opened.size(); ++i)
        if (i != chosen)
            closeDisplay(opened[i]);
    if (found.empty()) {
        error = "no EGL display with an OpenGL compatibility-profile context" +
                (reasons.empty() ? std::string(" (no EGL display at all)") : reasons);
        return nullptr;
    }
    if (chosen == opened.size()) {
        error = why;
        return nullptr;
    }
    const OpenDisplay& open = opened[chosen];
    eglMakeCurrent(open.display, open.surface, open.surface, open.context);
    std::unique_ptr<GlContext> result(new GlContext());
    result->display_ = open.display;
    result->context_ = open.context;
    result->surface_ = open.surface;
    result->platform_ = found[chosen].name;
    // Drawing on the CPU where nothing better was found says so.
    if (isSoftwareRenderer(found[chosen].renderer) && !(wanted && *wanted))
        result->platform_ += ", a software renderer (no hardware one found)";
    return result;
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
