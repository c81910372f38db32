// demo.exe's words to its user: the console where there is one, and a
// message box.
#include "user_messages.h"

#include <windows.h>

#include <cstdio>

namespace {

// Whether stdout and stderr lead anywhere. A program of the Windows
// subsystem gets standard handles only when they are redirected (or, under
// Wine, from the shell that started it); otherwise it joins the console of
// the program that started it (cmd), if there is one.
bool outputReady()
{
    static int ready = -1;
    if (ready < 0) {
        const HANDLE error = GetStdHandle(STD_ERROR_HANDLE);
        const HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
        const bool haveHandles = (error && error != INVALID_HANDLE_VALUE) || (output && output != INVALID_HANDLE_VALUE);
        if (haveHandles) {
            ready = 1;
        } else if (AttachConsole(ATTACH_PARENT_PROCESS)) {
            // Where neither stream reaches the console, the words go to
            // the message box alone.
            const bool outputOpen = std::freopen("CONOUT$", "w", stdout) != nullptr;
            const bool errorOpen = std::freopen("CONOUT$", "w", stderr) != nullptr;
            ready = outputOpen || errorOpen ? 1 : 0;
        } else {
            ready = 0;
        }
    }
    return ready == 1;
}

} // namespace

void user_messages::tell(const std::string& text, bool isError)
{
    const bool written = outputReady();
    if (written) {
        std::FILE* stream = isError ? stderr : stdout;
        std::fputs(text.c_str(), stream);
        std::fflush(stream);
    }
    if (isError || !written) {
        // In front of everything, the demo's full-screen window included.
        std::string shown = text;
        while (!shown.empty() && shown.back() == '\n') {
            shown.pop_back();
        }
        MessageBoxA(nullptr, shown.c_str(), "demo",
                    MB_OK | MB_SETFOREGROUND | MB_TOPMOST | (isError ? MB_ICONERROR : MB_ICONINFORMATION));
    }
}

void user_messages::note(const std::string& line)
{
    if (outputReady()) {
        std::fprintf(stderr, "%s\n", line.c_str());
        std::fflush(stderr);
    }
}
