// Reads the demo's arguments into its options and chooses the scene text
// for the scale or density they name; starts nothing.
#include "demo_arguments.h"

#include <string>

#include "host.h"
#include "scene_scales.h"
#include "shader_source.h"

std::optional<command_line::Answer> readDemoCommandLine(int argc, const char* const* argv, DemoOptions& options)
{
    std::string error;
    const DemoOptionsOutcome outcome = parseDemoOptions(argc, argv, options, error);
    if (outcome != DemoOptionsOutcome::Run) {
        return command_line::helpOrErrorAnswer("demo", outcome, error, demoUsage());
    }
    // A scale other than 1 (`--scale auto`'s probe at the coarsest too), or
    // a density, builds its text as the program of start-up.
    static std::string gridText;
    if (options.density > 1) {
        gridText = sampleGridSource(sceneShaderSource, densityGrid(options.density));
        host.sceneSourceText = gridText.c_str();
    } else if (options.step != 0) {
        gridText = scaledSceneSource(sceneShaderSource, options.step);
        host.sceneSourceText = gridText.c_str();
    }
    return std::nullopt;
}

bool hasChoices(const DemoOptions& options)
{
    return options.windowed || options.autoScale || options.step != 0 || options.density > 1;
}
