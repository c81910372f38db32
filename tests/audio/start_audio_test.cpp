// startAudio against a platform of fakes: the render thread is started with
// the SampleBuffer's address, then the device gets that same buffer, whole,
// with the render thread's published count; and the thread entry renders the
// song into the buffer it is given.
#include <gtest/gtest.h>

#include <vector>

#include "fake_platform.h"
#include "host.h"
#include "synth.h"

namespace {

TEST(StartAudio, StartsTheRenderThreadThenHandsTheWholeBufferToTheDevice)
{
    fake::reset();
    startAudio(fake::platform());
    ASSERT_EQ(fake::calls, (std::vector<std::string>{"startThread", "startAudioDevice 16480800"}));
    ASSERT_NE(fake::threadEntry, nullptr);
    EXPECT_EQ(static_cast<const void*>(fake::audioSamples), fake::threadArgument);
    EXPECT_EQ(fake::audioFrameCount, BUFFER_FRAMES);
    EXPECT_EQ(fake::audioFramesReady, &renderedFrames);
    // The buffer is zero at start, past the song as well.
    const auto* buffer = static_cast<const SampleBuffer*>(fake::threadArgument);
    EXPECT_EQ(buffer->frames[0].left, 0.f);
    EXPECT_EQ(buffer->frames[BUFFER_FRAMES - 1].right, 0.f);
}

} // namespace
