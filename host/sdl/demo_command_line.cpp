// The demo's command line, before demoMain.
#include "demo_command_line.h"

#include <string>

#include "demo_options.h"
#include "host.h"
#include "platform_sdl.h"
#include "scaled_source.h"
#include "shader_source.h"

int runDemoCommandLine(int argc, const char* const* argv, const Platform& platform)
{
    DemoOptions options;
    std::string error;
    const DemoOptionsOutcome outcome = parseDemoOptions(argc, argv, options, error);
    if (outcome != DemoOptionsOutcome::Run) {
        return command_line::answerHelpOrError("demo", outcome, error, demoUsage());
    }
    // A scale other than 1 (`--scale auto`'s probe at the coarsest too), or
    // a density, builds its text as the program of start-up.
    static std::string gridText;
    if (options.density > 1) {
        gridText = sampleGridSource(sceneShaderSource, densityGrid(options.density));
        sceneSourceText = gridText.c_str();
    } else if (options.step != 0) {
        gridText = scaledSceneSource(sceneShaderSource, options.step);
        sceneSourceText = gridText.c_str();
    }
    sdl_platform::configure(options);
    demoMain(platform);
}
