// The Linux platform's Escape query: a press that went down and up between
// two queries is still reported at the next query, once; a key held down is
// reported at every query; other keys are not. SDL runs on its dummy video
// driver, and the key events are pushed the way SDL's pump delivers them.
#include <gtest/gtest.h>

#include <SDL2/SDL.h>
#include <cstdlib>

#include "platform_sdl.h"

namespace {

void pushKey(Uint32 type, SDL_Scancode scancode)
{
    SDL_Event event{};
    event.type = type;
    event.key.type = type;
    event.key.state = type == SDL_KEYDOWN ? SDL_PRESSED : SDL_RELEASED;
    event.key.keysym.scancode = scancode;
    event.key.keysym.sym = SDL_GetKeyFromScancode(scancode);
    ASSERT_GE(SDL_PushEvent(&event), 0) << SDL_GetError();
}

class EscapeQuery : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        setenv("SDL_VIDEODRIVER", "dummy", 1);
        ASSERT_EQ(SDL_Init(SDL_INIT_VIDEO), 0) << SDL_GetError();
        sdl_platform::watchQuit();
    }
    static void TearDownTestSuite() { SDL_Quit(); }
    void SetUp() override
    {
        // Start each test with no press pending.
        sdlPlatform.quitRequested();
        SDL_FlushEvents(SDL_FIRSTEVENT, SDL_LASTEVENT);
    }
};

TEST_F(EscapeQuery, NothingPressedIsNotReported)
{
    sdlPlatform.peekMessage();
    EXPECT_FALSE(sdlPlatform.quitRequested());
}

TEST_F(EscapeQuery, APressAndReleaseBetweenTwoQueriesEndsTheLoopAtTheNextQuery)
{
    EXPECT_FALSE(sdlPlatform.quitRequested());
    pushKey(SDL_KEYDOWN, SDL_SCANCODE_ESCAPE);
    pushKey(SDL_KEYUP, SDL_SCANCODE_ESCAPE);
    sdlPlatform.peekMessage();
    // The key is up now; the press is still reported, once.
    EXPECT_TRUE(sdlPlatform.quitRequested());
    EXPECT_FALSE(sdlPlatform.quitRequested());
}

TEST_F(EscapeQuery, OtherKeysAreNotEscape)
{
    pushKey(SDL_KEYDOWN, SDL_SCANCODE_SPACE);
    pushKey(SDL_KEYUP, SDL_SCANCODE_SPACE);
    pushKey(SDL_KEYDOWN, SDL_SCANCODE_Q);
    sdlPlatform.peekMessage();
    EXPECT_FALSE(sdlPlatform.quitRequested());
}

TEST_F(EscapeQuery, ThePeekRemovesNoEvent)
{
    pushKey(SDL_KEYDOWN, SDL_SCANCODE_ESCAPE);
    pushKey(SDL_KEYUP, SDL_SCANCODE_ESCAPE);
    sdlPlatform.peekMessage();
    EXPECT_TRUE(sdlPlatform.quitRequested());
    EXPECT_EQ(SDL_PeepEvents(nullptr, 0, SDL_PEEKEVENT, SDL_KEYDOWN, SDL_KEYUP), 2);
}

} // namespace
