// The program's entry on Linux.
#include "host.h"
#include "platform_sdl.h"

int main()
{
    demoMain(sdlPlatform);
}
