// Audio start-up: the song renders on its own thread into the SampleBuffer
// while the sound device already plays that same buffer from its start.
#include "host.h"
#include "synth.h"

namespace {

// The whole song's sound, zero at start; static, never allocated.
SampleBuffer sampleBuffer;

void renderThread(void* buffer)
{
    renderSong(static_cast<SampleBuffer*>(buffer));
}

} // namespace

void startAudio(const Platform& platform)
{
    // The synthesizer's first pages faulted in here, so that the render
    // thread publishes its first frames at once; then the render thread, so
    // that it has the device's opening as a head start; then the whole buffer
    // as one block. Nothing waits.
    prepareSong(&sampleBuffer);
    platform.startThread(renderThread, &sampleBuffer);
    platform.startAudioDevice(&sampleBuffer.frames[0].left, BUFFER_FRAMES, &renderedFrames);
}
