// startAudio against a platform of fakes: the song's start is rendered on
// the calling thread first, then the render thread is started with the
// SampleBuffer's address, then the device gets that same buffer, whole,
// with the render thread's published count.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "fake_platform.h"
#include "host.h"
#include "synth.h"
#include "synth_state.h"

namespace {

TEST(StartAudio, RendersTheSongsStartThenStartsTheRenderThreadThenHandsTheWholeBufferToTheDevice)
{
    fake::reset();
    startAudio(fake::platform());
    ASSERT_EQ(fake::calls, (std::vector<std::string>{"startThread", "startAudioDevice 16480800"}));
    ASSERT_NE(fake::threadEntry, nullptr);
    EXPECT_EQ(static_cast<const void*>(fake::audioSamples), fake::threadArgument);
    EXPECT_EQ(fake::audioFrameCount, BUFFER_FRAMES);
    EXPECT_EQ(fake::audioFramesReady, &renderedFrames);
    // The pre-roll is published before the thread starts (it does not run
    // here) and before the device opens.
    EXPECT_EQ(fake::framesReadyAtThreadStart, AUDIO_PREROLL_FRAMES);
    EXPECT_EQ(fake::framesReadyAtDeviceStart, AUDIO_PREROLL_FRAMES);
    // It holds the song's first frames, bit for bit, and nothing after them.
    const auto* buffer = static_cast<const SampleBuffer*>(fake::threadArgument);
    auto state = makeSynthState();
    std::vector<StereoFrame> song(AUDIO_PREROLL_FRAMES);
    ASSERT_EQ(renderSongFrames(*state, song.data(), AUDIO_PREROLL_FRAMES), AUDIO_PREROLL_FRAMES);
    EXPECT_EQ(std::memcmp(buffer->frames, song.data(), sizeof(StereoFrame) * AUDIO_PREROLL_FRAMES), 0);
    EXPECT_EQ(buffer->frames[AUDIO_PREROLL_FRAMES].left, 0.f);
    EXPECT_EQ(buffer->frames[AUDIO_PREROLL_FRAMES].right, 0.f);
    EXPECT_EQ(buffer->frames[BUFFER_FRAMES - 1].right, 0.f);
}

} // namespace
