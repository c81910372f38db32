// The program's entry on Windows: the command line, read by the same code
// and rules as on Linux, then demoMain.
#include <windows.h>
#include <shellapi.h>

#include <string>
#include <vector>

#include "demo_arguments.h"
#include "host.h"
#include "platform_win32.h"
#include "user_messages.h"

namespace {

// The arguments as UTF-8, from the command line as Windows keeps it.
std::vector<std::string> utf8Arguments()
{
    std::vector<std::string> arguments;
    int count = 0;
    LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
    if (!wide) {
        return {"demo"};
    }
    for (int i = 0; i < count; ++i) {
        const int bytes = WideCharToMultiByte(CP_UTF8, 0, wide[i], -1, nullptr, 0, nullptr, nullptr);
        std::string text(bytes > 0 ? static_cast<std::size_t>(bytes) : 1u, '\0');
        if (bytes > 0) {
            WideCharToMultiByte(CP_UTF8, 0, wide[i], -1, text.data(), bytes, nullptr, nullptr);
        }
        text.resize(text.size() - 1); // the terminator
        arguments.push_back(std::move(text));
    }
    LocalFree(wide);
    return arguments;
}

} // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    const std::vector<std::string> arguments = utf8Arguments();
    std::vector<const char*> argv;
    for (const std::string& argument : arguments) {
        argv.push_back(argument.c_str());
    }
    DemoOptions options;
    if (const std::optional<command_line::Answer> answer =
            readDemoCommandLine(static_cast<int>(argv.size()), argv.data(), options)) {
        user_messages::tell(answer->text, answer->exitCode != 0);
        return answer->exitCode;
    }
    win32_platform::configure(options);
    if (const std::string warning = flashWarning(); !warning.empty()) {
        user_messages::note(warning);
    }
    demoMain(win32Platform);
}
