#include "fake_platform.h"

#include <algorithm>
#include <cstring>

#include "synth.h"

namespace fake {

std::vector<std::string> calls;
std::vector<std::uint32_t> clockReadings;
std::vector<bool> escapeAnswers;
std::vector<std::string> missingEntryPoints;
std::string infoLogText;
LengthReport lengthReport;
GLsizei forcedLength;
GLuint programName;
GLint linkStatus;
void (*threadEntry)(void*);
void* threadArgument;
const float* audioSamples;
std::uint32_t audioFrameCount;
const std::atomic<std::uint32_t>* audioFramesReady;
std::uint32_t framesReadyAtThreadStart;
std::uint32_t framesReadyAtDeviceStart;

namespace {

std::size_t clockIndex;
std::size_t escapeIndex;

void record(std::string call)
{
    calls.push_back(std::move(call));
}

GLuint DEMO_APIENTRY createShaderProgramv(GLenum type, GLsizei count, const GLchar* const* strings)
{
    record("glCreateShaderProgramv " + std::to_string(type) + " " + std::to_string(count) + " " +
           std::to_string(std::strlen(strings[0])));
    return programName;
}

void DEMO_APIENTRY getProgramInfoLog(GLuint program, GLsizei bufSize, GLsizei* length, GLchar* infoLog)
{
    record("glGetProgramInfoLog " + std::to_string(program) + " " + std::to_string(bufSize));
    // A context writes at most bufSize - 1 characters and a terminator.
    const std::size_t n = std::min<std::size_t>(infoLogText.size(), bufSize - 1);
    std::memcpy(infoLog, infoLogText.data(), n);
    infoLog[n] = 0;
    if (lengthReport == LengthReport::True) {
        *length = static_cast<GLsizei>(n);
    } else if (lengthReport == LengthReport::Forced) {
        *length = forcedLength;
    }
}

void DEMO_APIENTRY getProgramiv(GLuint program, GLenum pname, GLint* params)
{
    record("glGetProgramiv " + std::to_string(program) + " " + std::to_string(pname));
    *params = pname == GL_LINK_STATUS ? linkStatus : 0;
}

void DEMO_APIENTRY useProgram(GLuint program)
{
    record("glUseProgram " + std::to_string(program));
}

void requestDisplayMode(int width, int height)
{
    record("requestDisplayMode " + std::to_string(width) + " " + std::to_string(height));
}
void createWindow() { record("createWindow"); }
void createGlContext() { record("createGlContext"); }
void* getProcAddress(const char* name)
{
    record(std::string("getProcAddress ") + name);
    if (std::find(missingEntryPoints.begin(), missingEntryPoints.end(), name) != missingEntryPoints.end()) {
        return nullptr;
    }
    const std::string n = name;
    if (n == "glCreateShaderProgramv") return reinterpret_cast<void*>(createShaderProgramv);
    if (n == "glGetProgramInfoLog") return reinterpret_cast<void*>(getProgramInfoLog);
    if (n == "glGetProgramiv") return reinterpret_cast<void*>(getProgramiv);
    if (n == "glUseProgram") return reinterpret_cast<void*>(useProgram);
    return nullptr;
}
void hideCursor() { record("hideCursor"); }
void startThread(void (*entry)(void*), void* argument)
{
    record("startThread");
    framesReadyAtThreadStart = renderedFrames.load();
    threadEntry = entry;
    threadArgument = argument;
}
void startAudioDevice(const float* samples, std::uint32_t frameCount, const std::atomic<std::uint32_t>* framesReady)
{
    record("startAudioDevice " + std::to_string(frameCount));
    framesReadyAtDeviceStart = renderedFrames.load();
    audioSamples = samples;
    audioFrameCount = frameCount;
    audioFramesReady = framesReady;
}
std::uint32_t clockMs()
{
    const std::uint32_t t = clockReadings.empty() ? 0
                            : clockIndex < clockReadings.size() ? clockReadings[clockIndex]
                                                                : clockReadings.back();
    ++clockIndex;
    record("clockMs " + std::to_string(t));
    return t;
}
void DEMO_APIENTRY fogi(GLenum pname, GLint param)
{
    record("fogi " + std::to_string(pname) + " " + std::to_string(param));
}
void DEMO_APIENTRY rectf(GLfloat x1, GLfloat y1, GLfloat x2, GLfloat y2)
{
    char text[96];
    std::snprintf(text, sizeof text, "rectf %g %g %g %g", x1, y1, x2, y2);
    record(text);
}
void beginFrame() { record("beginFrame"); }
void presentFrame() { record("presentFrame"); }
void judgeScale() { record("judgeScale"); }
void peekMessage() { record("peekMessage"); }
bool quitRequested()
{
    const bool answer = escapeIndex < escapeAnswers.size() && escapeAnswers[escapeIndex];
    ++escapeIndex;
    record(answer ? "quitRequested 1" : "quitRequested 0");
    return answer;
}
void endProcess()
{
    record("endProcess");
    throw ProcessEnd{0, ""};
}
void failStartUp(const char* what)
{
    record(std::string("failStartUp ") + what);
    throw ProcessEnd{1, what};
}

const Platform fakePlatform = {
    .requestDisplayMode = requestDisplayMode,
    .createWindow = createWindow,
    .createGlContext = createGlContext,
    .getProcAddress = getProcAddress,
    .hideCursor = hideCursor,
    .startThread = startThread,
    .startAudioDevice = startAudioDevice,
    .beginFrame = beginFrame,
    .clockMs = clockMs,
    .fogi = fogi,
    .rectf = rectf,
    .presentFrame = presentFrame,
    .judgeScale = judgeScale,
    .peekMessage = peekMessage,
    .quitRequested = quitRequested,
    .endProcess = endProcess,
    .failStartUp = failStartUp,
    .openLog = nullptr,  // the log opened with fopen, as the tests read it
};

} // namespace

void reset()
{
    calls.clear();
    clockReadings.clear();
    escapeAnswers.clear();
    missingEntryPoints.clear();
    infoLogText.clear();
    lengthReport = LengthReport::True;
    forcedLength = 0;
    programName = 3;
    linkStatus = 1;
    clockIndex = 0;
    threadEntry = nullptr;
    threadArgument = nullptr;
    audioSamples = nullptr;
    audioFrameCount = 0;
    audioFramesReady = nullptr;
    framesReadyAtThreadStart = 0;
    framesReadyAtDeviceStart = 0;
    escapeIndex = 0;
}

const Platform& platform()
{
    return fakePlatform;
}

} // namespace fake
