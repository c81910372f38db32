// Audio start-up: the song's start is rendered at once, then the rest renders
// on its own thread into the SampleBuffer while the sound device already
// plays that same buffer from its start.
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
    // The song's first AUDIO_PREROLL_FRAMES frames rendered here, so that the
    // device finds them ready however late the render thread gets its first
    // turn; then the render thread, which goes on from there; then the whole
    // buffer as one block. Nothing waits: this is a fixed amount of work.
    prepareSong(&sampleBuffer, AUDIO_PREROLL_FRAMES);
    platform.startThread(renderThread, &sampleBuffer);
    platform.startAudioDevice(&sampleBuffer.frames[0].left, BUFFER_FRAMES, &renderedFrames);
}
