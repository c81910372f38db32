// The Linux entry after main: the answer to --help, --version or a bad
// argument on the terminal, else the SDL platform set up and demoMain run.
#include "demo_command_line.h"

#include <cstdio>

#include "demo_arguments.h"
#include "host.h"
#include "platform_sdl.h"

int runDemoCommandLine(int argc, const char* const* argv, const Platform& platform)
{
    DemoOptions options;
    if (const std::optional<command_line::Answer> answer = readDemoCommandLine(argc, argv, options)) {
        std::fputs(answer->text.c_str(), answer->exitCode == 0 ? stdout : stderr);
        return answer->exitCode;
    }
    sdl_platform::configure(options);
    if (const std::string warning = flashWarning(); !warning.empty()) {
        std::fprintf(stderr, "%s\n", warning.c_str());
    }
    std::fflush(stderr);
    demoMain(platform);
}
