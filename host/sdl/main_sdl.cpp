// The program's entry on Linux.
#include "demo_command_line.h"
#include "platform_sdl.h"

int main(int argc, char** argv)
{
    return runDemoCommandLine(argc, argv, sdlPlatform);
}
