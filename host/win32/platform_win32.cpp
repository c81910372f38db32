// The platform layer on Windows: exactly the Win32, WGL and multimedia calls
// of the demo, with their built-in records. Where the window did not get the
// frame's size (the mode change was refused), each frame is drawn offscreen
// and copied to the window scaled to fit (offscreen_frame.h). With options from
// the command line (demo_options.h) there is no mode change: the frame, at
// the chosen scale or density, is always drawn offscreen and scaled to a
// window that covers the desktop, or to an ordinary window (--window) whose
// messages are dispatched and whose close ends the demo as Escape does.
#include "platform_win32.h"

#include <windows.h>
#include <mmsystem.h>
#include <mmreg.h> // WAVE_FORMAT_IEEE_FLOAT
#include <GL/gl.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "demo_arguments.h"
#include "frame_size.h"
#include "host.h"
#include "log_file_win32.h"
#include "offscreen_frame.h"
#include "user_messages.h"

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

// The platform's state besides the built-in records.
struct Win32State {
    HWAVEOUT waveOut = nullptr;
    HDC deviceContext = nullptr;
    // The window, for its client area; the frame's size; and whether each
    // frame is drawn offscreen and copied to the window.
    HWND window = nullptr;
    int frameWidth = 0;
    int frameHeight = 0;
    bool scaledToWindow = false;
    // The command line's choices; `configured` when there were any.
    DemoOptions options;
    bool configured = false;
    bool modeChanged = false;
    // --window: Escape pressed in the window, or its close asked for.
    bool closeAsked = false;
};
Win32State win32;

// The window's title, and the icon resource (demo.rc) made from the demo's
// picture.
constexpr const char* WINDOW_TITLE = "demo";
constexpr WORD ICON_RESOURCE = 1;
constexpr const char* CLASS_NAME = "demo";

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
    // Out of the way of the message box: the window hidden, the desktop's
    // mode back.
    if (win32.window) {
        ShowWindow(win32.window, SW_HIDE);
    }
    if (win32.modeChanged) {
        ChangeDisplaySettingsA(nullptr, 0);
    }
    user_messages::tell(std::string("demo: cannot start: ") + what + "\n", true);
    ExitProcess(1);
}

void requestDisplayMode(int width, int height)
{
    // The record holds 1920 x 1080; CDS_FULLSCREEN makes the change temporary.
    // With options the desktop keeps its mode.
    if (!win32.configured) {
        win32.modeChanged = ChangeDisplaySettingsA(&displayMode, CDS_FULLSCREEN) == DISP_CHANGE_SUCCESSFUL;
    }
    win32.frameWidth = width;
    win32.frameHeight = height;
}

// The demo's picture as the window's icon, at the sizes the system shows.
HICON loadIcon(int sizeMetric)
{
    const int side = GetSystemMetrics(sizeMetric);
    return static_cast<HICON>(LoadImageA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(ICON_RESOURCE), IMAGE_ICON,
                                         side, side, LR_DEFAULTCOLOR));
}

// The window's messages where they are dispatched (--window): Escape and the
// close end the demo at the frame loop's next look; everything else as any
// window has it.
LRESULT CALLBACK windowProcedure(HWND handle, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_CLOSE || (message == WM_KEYDOWN && wParam == VK_ESCAPE)) {
        win32.closeAsked = true;
        return 0;
    }
    return DefWindowProcA(handle, message, wParam, lParam);
}

// Titled; at position 0, 0 with the given size (the maximised state makes
// it cover the screen).
HWND createWindowOfClass(LPCSTR className, HINSTANCE instance, int width, int height)
{
    return CreateWindowExA(0, className, WINDOW_TITLE, WINDOW_STYLE, 0, 0, width, height, nullptr, nullptr,
                           instance, nullptr);
}

// The demo's own class: black background, the demo's icon.
bool registerOwnClass(HINSTANCE instance)
{
    WNDCLASSEXA windowClass = {};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = windowProcedure;
    windowClass.hInstance = instance;
    windowClass.hIcon = loadIcon(SM_CXICON);
    windowClass.hIconSm = loadIcon(SM_CXSMICON);
    windowClass.hCursor = LoadCursorA(nullptr, MAKEINTRESOURCEA(32512)); // IDC_ARROW
    windowClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
    windowClass.lpszClassName = CLASS_NAME;
    return RegisterClassExA(&windowClass) != 0;
}

// Only where the system's class cannot be had (Wine registers its own
// classes in another order, so that 0xC018 names none there): the demo's own
// class, whose window procedure does what the default one does with every
// message that reaches it here.
// This window is made at the screen's size rather than 0 x 0: Wine gives the
// X window of a window made with no size an empty shape, and when a window
// manager takes the maximised window over, the window grows to the screen's
// size but keeps that empty shape, so that nothing drawn in it is ever shown;
// and without a window manager Wine leaves such a window's X window at its
// first size, for a window manager to enlarge.
HWND createWindowOfOwnClass()
{
    HINSTANCE instance = GetModuleHandleA(nullptr);
    if (!registerOwnClass(instance)) {
        return nullptr;
    }
    return createWindowOfClass(CLASS_NAME, instance, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN));
}

// --window: an ordinary window, resizable and closable, whose client area
// has the size asked for, where the system places it.
HWND createOrdinaryWindow()
{
    HINSTANCE instance = GetModuleHandleA(nullptr);
    if (!registerOwnClass(instance)) {
        return nullptr;
    }
    const DWORD style = WS_OVERLAPPEDWINDOW | WS_VISIBLE;
    RECT frame = {0, 0, win32.options.windowWidth, win32.options.windowHeight};
    AdjustWindowRectEx(&frame, style, FALSE, 0);
    return CreateWindowExA(0, CLASS_NAME, WINDOW_TITLE, style, CW_USEDEFAULT, CW_USEDEFAULT,
                           frame.right - frame.left, frame.bottom - frame.top, nullptr, nullptr, instance, nullptr);
}

// The window takes the keyboard, as a program started by its user does.
// Where a window manager hands the focus over through messages (Wine on X),
// they are dispatched until the window has it, for a moment at most.
void takeKeyboard()
{
    const DWORD start = GetTickCount();
    SetForegroundWindow(win32.window);
    SetFocus(win32.window);
    while (GetTickCount() - start < 1000) {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        if (GetForegroundWindow() == win32.window && GetFocus() == win32.window) {
            return;
        }
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
    }
}

void createWindow()
{
    if (win32.options.windowed) {
        win32.window = createOrdinaryWindow();
    } else {
        win32.window = createWindowOfClass(reinterpret_cast<LPCSTR>(static_cast<ULONG_PTR>(WINDOW_CLASS_ATOM)), nullptr,
                                     0, 0);
        if (win32.window) {
            // The system's class has neither the demo's icon nor a black background.
            SendMessageA(win32.window, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(loadIcon(SM_CXICON)));
            SendMessageA(win32.window, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(loadIcon(SM_CXSMICON)));
        } else {
            win32.window = createWindowOfOwnClass();
        }
    }
    if (!win32.window) {
        failStartUp("no window");
    }
    takeKeyboard();
    win32.deviceContext = GetDC(win32.window);
    // Black from the start, whatever the class paints, until the first frame.
    RECT client = {};
    GetClientRect(win32.window, &client);
    FillRect(win32.deviceContext, &client, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
}

// "4.5.0 ..." gives 45.
int versionOf(const char* text)
{
    int major = 0;
    int minor = 0;
    if (!text || std::sscanf(text, "%d.%d", &major, &minor) != 2) {
        return 0;
    }
    return major * 10 + minor;
}

bool hasExtension(const char* list, const char* name)
{
    const std::size_t length = std::strlen(name);
    for (const char* p = list; p && (p = std::strstr(p, name)) != nullptr; p += length) {
        if ((p == list || p[-1] == ' ') && (p[length] == '\0' || p[length] == ' ')) {
            return true;
        }
    }
    return false;
}

void createGlContext()
{
    const int format = ChoosePixelFormat(win32.deviceContext, &pixelFormat);
    if (!format) {
        failStartUp("no pixel format");
    }
    SetPixelFormat(win32.deviceContext, format, &pixelFormat);
    HGLRC context = wglCreateContext(win32.deviceContext);
    if (!context) {
        failStartUp("no OpenGL context");
    }
    wglMakeCurrent(win32.deviceContext, context);
    // The scene needs separate shader program objects (OpenGL 4.1 or
    // ARB_separate_shader_objects).
    if (versionOf(reinterpret_cast<const char*>(glGetString(GL_VERSION))) < 41 &&
        !hasExtension(reinterpret_cast<const char*>(glGetString(GL_EXTENSIONS)), "GL_ARB_separate_shader_objects")) {
        failStartUp("the OpenGL context offers neither OpenGL 4.1 nor GL_ARB_separate_shader_objects");
    }
    // A black frame until the first one is drawn (the clear colour is the
    // context's default, black).
    glClear(GL_COLOR_BUFFER_BIT);
    SwapBuffers(win32.deviceContext);
    win32.scaledToWindow = false;
    RECT client = {};
    GetClientRect(win32.window, &client);
    if (win32.configured) {
        const offscreen_frame::Setup setup = {
            .frameWidth = win32.frameWidth,
            .frameHeight = win32.frameHeight,
            .step = win32.options.step,
            .adaptive = win32.options.autoScale,
            .density = win32.options.density,
            .slowStartHint = true,
            .getProcAddress = getProcAddress,
            .seconds = seconds,
        };
        if (const char* missing = offscreen_frame::begin(setup)) {
            failStartUp(missing);
        }
        win32.scaledToWindow = true;
    } else if (client.right - client.left != win32.frameWidth || client.bottom - client.top != win32.frameHeight) {
        // A desktop of another size (the mode change was refused): the frame
        // is drawn offscreen at its own size and scaled to the window. Without
        // framebuffer objects the window is drawn to as it is.
        const offscreen_frame::Setup setup = {
            .frameWidth = win32.frameWidth,
            .frameHeight = win32.frameHeight,
            .step = 0,
            .adaptive = false,
            .density = 1,
            .slowStartHint = false,
            .getProcAddress = getProcAddress,
            .seconds = seconds,
        };
        win32.scaledToWindow = offscreen_frame::begin(setup) == nullptr;
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
    waveOutOpen(&win32.waveOut, WAVE_MAPPER, &waveFormat, 0, 0, CALLBACK_NULL);
    waveHeader.lpData = reinterpret_cast<LPSTR>(const_cast<float*>(samples));
    waveHeader.dwBufferLength = frameCount * 8;
    // sizeof(WAVEHDR) is 32 bytes on 32-bit Windows and 48 on 64-bit Windows.
    waveOutPrepareHeader(win32.waveOut, &waveHeader, sizeof(WAVEHDR));
    waveOutWrite(win32.waveOut, &waveHeader, sizeof(WAVEHDR));
}

void beginFrame()
{
    // Not marked on Windows, as before: the frame times then count from the
    // counter's zero, which holds --scale auto at its probe's coarsest scale.
    // Marked here, under Wine with llvmpipe the frame times led it to scales
    // whose frames came 0.6 s apart; until that is understood, Windows keeps
    // the coarsest scale.
}

std::uint32_t clockMs()
{
    return timeGetTime();
}

void presentFrame()
{
    if (win32.scaledToWindow) {
        RECT client = {};
        GetClientRect(win32.window, &client);
        // A minimised window has no client area to show the frame in.
        if (client.right > client.left && client.bottom > client.top) {
            offscreen_frame::copyToWindow(client.right - client.left, client.bottom - client.top);
            SwapBuffers(win32.deviceContext);
        }
        return;
    }
    SwapBuffers(win32.deviceContext);
}

void judgeScale()
{
    if (win32.scaledToWindow) {
        offscreen_frame::prepareNextFrame();
    }
}

void peekMessage()
{
    if (win32.options.windowed) {
        // An ordinary window is moved, resized and closed through its
        // messages: all of them are dispatched.
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        return;
    }
    // No message record, no window, every message, nothing removed.
    PeekMessageW(nullptr, nullptr, 0, 0, PM_NOREMOVE);
}

bool quitRequested()
{
    // An ordinary window hears Escape only while it has the keyboard.
    if (win32.options.windowed) {
        return win32.closeAsked;
    }
    // The most significant bit (down now) or the least (pressed since the
    // previous query): any non-zero state.
    return GetAsyncKeyState(VK_ESCAPE) != 0;
}

void endProcess()
{
    ExitProcess(0);
}

} // namespace

void win32_platform::configure(const DemoOptions& chosen)
{
    win32.options = chosen;
    win32.configured = hasChoices(chosen);
}

const Platform win32Platform = {
    .requestDisplayMode = requestDisplayMode,
    .createWindow = createWindow,
    .createGlContext = createGlContext,
    .getProcAddress = getProcAddress,
    .hideCursor = hideCursor,
    .startThread = startThread,
    .startAudioDevice = startAudioDevice,
    .beginFrame = beginFrame,
    .clockMs = clockMs,
    .fogi = glFogi,
    .rectf = glRectf,
    .presentFrame = presentFrame,
    .judgeScale = judgeScale,
    .peekMessage = peekMessage,
    .quitRequested = quitRequested,
    .endProcess = endProcess,
    .failStartUp = failStartUp,
    .openLog = win32_platform::openLog,
};
