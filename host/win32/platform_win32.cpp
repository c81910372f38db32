// The platform layer on Windows: exactly the Win32, WGL and multimedia calls
// of the demo, with their built-in records. Where the window did not get the
// frame's size (the mode change was refused), each frame is drawn offscreen
// and copied to the window scaled to fit (scaled_frame.h).
#include <windows.h>
#include <mmsystem.h>
#include <mmreg.h> // WAVE_FORMAT_IEEE_FLOAT
#include <GL/gl.h>

#include <cstdio>

#include "frame_size.h"
#include "host.h"
#include "log_file_win32.h"
#include "scaled_frame.h"

namespace {

// The built-in records: zero but in the fields named.
DEVMODEA displayMode = {
    .dmSize = 156,
    .dmFields = DM_PELSWIDTH | DM_PELSHEIGHT,
    .dmPelsWidth = FRAME_WIDTH,
    .dmPelsHeight = FRAME_HEIGHT,
};
static_assert(sizeof(DEVMODEA) == 156);
static_assert((DM_PELSWIDTH | DM_PELSHEIGHT) == 0x00180000);

// nSize and nVersion are 0, not 40 and 1.
PIXELFORMATDESCRIPTOR pixelFormat = {
    .nSize = 0,
    .nVersion = 0,
    .dwFlags = PFD_SUPPORT_OPENGL | PFD_DOUBLEBUFFER,
    .iPixelType = PFD_TYPE_RGBA,
    .iLayerType = PFD_MAIN_PLANE,
};
static_assert(sizeof(PIXELFORMATDESCRIPTOR) == 40);
static_assert((PFD_SUPPORT_OPENGL | PFD_DOUBLEBUFFER) == 0x21);

// The sound: 32-bit float stereo at 44,100 frames a second.
WAVEFORMATEX waveFormat = {
    .wFormatTag = WAVE_FORMAT_IEEE_FLOAT,
    .nChannels = 2,
    .nSamplesPerSec = SAMPLE_RATE,
    .nAvgBytesPerSec = SAMPLE_RATE * 8,
    .nBlockAlign = 8,
    .wBitsPerSample = 32,
    .cbSize = 0,
};
static_assert(sizeof(WAVEFORMATEX) == 18);
static_assert(WAVE_FORMAT_IEEE_FLOAT == 3);

// lpData and dwBufferLength are the SampleBuffer's, set when it is handed
// over; the rest is zero: no flags, no loops.
WAVEHDR waveHeader;
HWAVEOUT waveOut;

HDC deviceContext;
// The window, for its client area; the frame's size; and whether each frame
// is drawn offscreen and copied to the window.
HWND window;
int frameWidth;
int frameHeight;
bool scaledToWindow;

constexpr WORD WINDOW_CLASS_ATOM = 0xC018; // a class that the system registers
constexpr DWORD WINDOW_STYLE = WS_POPUP | WS_VISIBLE | WS_MAXIMIZE;
static_assert(WINDOW_STYLE == 0x91000000);

void* getProcAddress(const char* name)
{
    PROC entry = wglGetProcAddress(name);
    // Some drivers answer a missing entry point with 1, 2, 3 or -1.
    const auto value = reinterpret_cast<INT_PTR>(entry);
    if (value >= -1 && value <= 3) {
        return nullptr;
    }
    return reinterpret_cast<void*>(entry);
}

double seconds()
{
    LARGE_INTEGER count;
    LARGE_INTEGER frequency;
    QueryPerformanceCounter(&count);
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(count.QuadPart) / static_cast<double>(frequency.QuadPart);
}

void failStartUp(const char* what)
{
    std::fprintf(stderr, "demo: cannot start: %s\n", what);
    std::fflush(stderr);
    ExitProcess(1);
}

void setFullscreenMode(int width, int height)
{
    // The record holds 1920 x 1080; CDS_FULLSCREEN makes the change temporary.
    ChangeDisplaySettingsA(&displayMode, CDS_FULLSCREEN);
    frameWidth = width;
    frameHeight = height;
}

// No title; at position 0, 0 with the given size (the maximised state makes
// it cover the screen).
HWND createWindowOfClass(LPCSTR className, HINSTANCE instance, int width, int height)
{
    return CreateWindowExA(0, className, nullptr, WINDOW_STYLE, 0, 0, width, height, nullptr, nullptr, instance,
                           nullptr);
}

// Only where the system's class cannot be had (Wine registers its own
// classes in another order, so that 0xC018 names none there): a minimal class
// of our own, with the default window procedure and no background brush.
// This window is made at the screen's size rather than 0 x 0: Wine gives the
// X window of a window made with no size an empty shape, and when a window
// manager takes the maximised window over, the window grows to the screen's
// size but keeps that empty shape, so that nothing drawn in it is ever shown;
// and without a window manager Wine leaves such a window's X window at its
// first size, for a window manager to enlarge.
HWND createWindowOfOwnClass()
{
    HINSTANCE instance = GetModuleHandleA(nullptr);
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = DefWindowProcA;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = "demo";
    if (!RegisterClassA(&windowClass)) {
        return nullptr;
    }
    return createWindowOfClass(windowClass.lpszClassName, instance, GetSystemMetrics(SM_CXSCREEN),
                               GetSystemMetrics(SM_CYSCREEN));
}

void createWindow()
{
    window = createWindowOfClass(reinterpret_cast<LPCSTR>(static_cast<ULONG_PTR>(WINDOW_CLASS_ATOM)), nullptr, 0, 0);
    if (!window) {
        window = createWindowOfOwnClass();
    }
    if (!window) {
        failStartUp("no window");
    }
    deviceContext = GetDC(window);
}

void createGlContext()
{
    const int format = ChoosePixelFormat(deviceContext, &pixelFormat);
    if (!format) {
        failStartUp("no pixel format");
    }
    SetPixelFormat(deviceContext, format, &pixelFormat);
    HGLRC context = wglCreateContext(deviceContext);
    if (!context) {
        failStartUp("no OpenGL context");
    }
    wglMakeCurrent(deviceContext, context);
    scaledToWindow = false;
    RECT client = {};
    GetClientRect(window, &client);
    if (client.right - client.left != frameWidth || client.bottom - client.top != frameHeight) {
        // A desktop of another size (the mode change was refused): the frame
        // is drawn offscreen at its own size and scaled to the window. Without
        // framebuffer objects the window is drawn to as it is.
        const scaled_frame::Setup setup = {
            .frameWidth = frameWidth,
            .frameHeight = frameHeight,
            .step = 0,
            .adaptive = false,
            .density = 1,
            .slowStartHint = false,
            .getProcAddress = getProcAddress,
            .seconds = seconds,
        };
        scaledToWindow = scaled_frame::begin(setup) == nullptr;
    }
}

void hideCursor()
{
    ShowCursor(FALSE);
}

void (*threadEntry)(void*);

DWORD WINAPI runThread(LPVOID argument)
{
    // The song has a deadline (the device's play position) and the picture
    // has none: this thread asks to run ahead of the drawing, which a
    // software renderer may spread over every core.
    SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_HIGHEST);
    threadEntry(argument);
    return 0;
}

void startThread(void (*entry)(void*), void* argument)
{
    threadEntry = entry;
    // Default security and stack, runs at once; the handle is not kept.
    CreateThread(nullptr, 0, runThread, argument, 0, nullptr);
}

void startAudioDevice(const float* samples, std::uint32_t frameCount, const std::atomic<std::uint32_t>*)
{
    // The wave device reads the buffer in real time; the buffer is shared
    // without a count: rendering must stay ahead of the device.
    waveOutOpen(&waveOut, WAVE_MAPPER, &waveFormat, 0, 0, CALLBACK_NULL);
    waveHeader.lpData = reinterpret_cast<LPSTR>(const_cast<float*>(samples));
    waveHeader.dwBufferLength = frameCount * 8;
    // sizeof(WAVEHDR) is 32 bytes on 32-bit Windows and 48 on 64-bit Windows.
    waveOutPrepareHeader(waveOut, &waveHeader, sizeof(WAVEHDR));
    waveOutWrite(waveOut, &waveHeader, sizeof(WAVEHDR));
}

std::uint32_t clockMs()
{
    return timeGetTime();
}

void swapBuffers()
{
    if (scaledToWindow) {
        RECT client = {};
        GetClientRect(window, &client);
        scaled_frame::copyToWindow(client.right - client.left, client.bottom - client.top);
        SwapBuffers(deviceContext);
        scaled_frame::prepareNextFrame();
        return;
    }
    SwapBuffers(deviceContext);
}

void peekMessage()
{
    // No message record, no window, every message, nothing removed.
    PeekMessageW(nullptr, nullptr, 0, 0, PM_NOREMOVE);
}

bool escapePressed()
{
    // The most significant bit (down now) or the least (pressed since the
    // previous query): any non-zero state.
    return GetAsyncKeyState(VK_ESCAPE) != 0;
}

void endProcess()
{
    ExitProcess(0);
}

const Platform win32Platform = {
    .setFullscreenMode = setFullscreenMode,
    .createWindow = createWindow,
    .createGlContext = createGlContext,
    .getProcAddress = getProcAddress,
    .hideCursor = hideCursor,
    .startThread = startThread,
    .startAudioDevice = startAudioDevice,
    .clockMs = clockMs,
    .fogi = glFogi,
    .rectf = glRectf,
    .swapBuffers = swapBuffers,
    .peekMessage = peekMessage,
    .escapePressed = escapePressed,
    .endProcess = endProcess,
    .failStartUp = failStartUp,
    .openLog = win32_platform::openLog,
};

} // namespace

// The program's entry: the four arguments are ignored.
int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    demoMain(win32Platform);
}
