#pragma once

// Text changes to the scene shader for tools and tests only: a probe's own
// main, the march-step count. The demo never builds these (it builds the
// embedded text, or its scaled variant of scene_scales.h).

#include <string>

namespace offscreen {

// The shader with its `void main()` renamed to `void <newName>()`, so that a
// probe main can be appended. Returns an empty string (and says why) if the
// text does not hold exactly one such definition.
std::string renameMain(const std::string& source, const std::string& newName, std::string& error);

// The counting build: every step of marchRay adds 1 to a global
// `marchStepCount`, and a new main runs the scene's and writes the count to
// gl_FragColor.w (the scene writes only .xyz). Read it from a float target.
std::string stepCountingSource(const std::string& source, std::string& error);

// The line of marchRay's loop after which the counting build counts a step.
inline constexpr const char* MARCH_STEP_LINE = "float dist = sceneDistance(origin + direction * travel);";

}  // namespace offscreen
