// The Linux platform without a sound device: startAudioDevice says once, on
// stderr, that the demo runs without sound and why (SDL's error), and returns
// so that the demo goes on. Both ways of having no sound: a driver that does
// not exist, and a driver whose device cannot be opened.
#include <gtest/gtest.h>

#include <SDL2/SDL.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform_sdl.h"

namespace {

// Runs startAudioDevice with SDL_AUDIODRIVER (and `more`, NAME=VALUE or
// empty) set, and returns what it wrote on stderr.
std::string startWithout(const char* driver, const char* more = nullptr)
{
    static float samples[2 * 64];
    static std::atomic<std::uint32_t> ready{0};
    setenv("SDL_AUDIODRIVER", driver, 1);
    if (more)
        putenv(const_cast<char*>(more));
    std::fflush(stderr);
    const int saved = dup(STDERR_FILENO);
    std::FILE* capture = std::tmpfile();
    dup2(fileno(capture), STDERR_FILENO);
    sdlPlatform.startAudioDevice(samples, 64, &ready);
    std::fflush(stderr);
    dup2(saved, STDERR_FILENO);
    close(saved);
    std::rewind(capture);
    std::string text;
    char buffer[512];
    std::size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, capture)) > 0)
        text.append(buffer, got);
    std::fclose(capture);
    SDL_QuitSubSystem(SDL_INIT_AUDIO);
    unsetenv("SDL_AUDIODRIVER");
    return text;
}

TEST(NoSoundDevice, AnUnknownDriverIsOneLineNamingSdlsError)
{
    const std::string said = startWithout("nosuchdriver");
    EXPECT_EQ(said.rfind("demo: running without sound: ", 0), 0u) << said;
    EXPECT_NE(said.find("nosuchdriver"), std::string::npos) << said;
    EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1) << said;
}

TEST(NoSoundDevice, ADeviceThatCannotOpenIsOneLineNamingSdlsError)
{
    const std::string said = startWithout("disk", "SDL_DISKAUDIOFILE=/proc/no-such-folder/played.raw");
    EXPECT_EQ(said.rfind("demo: running without sound: ", 0), 0u) << said;
    EXPECT_NE(said.find("/proc/no-such-folder/played.raw"), std::string::npos) << said;
    EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1) << said;
    unsetenv("SDL_DISKAUDIOFILE");
}

} // namespace
