#pragma once

// The demo's version (the project's one version, set in the top CMake list)
// and the source's revision where it was built from a git checkout.

// "1.0.0".
extern const char* const DEMO_VERSION;
// "git 45dca8e" (with "-dirty" for uncommitted changes), or "" where the
// source was not a git checkout.
extern const char* const DEMO_REVISION;

// The line that --version prints: "NAME 1.0.0 (git 45dca8e)", or without the
// part in brackets where there is no revision.
const char* versionLine(const char* program);
