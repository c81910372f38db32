// The functions of the WebAssembly module that the page and its Worker call.
// The Worker renders the song with synthCreate / synthRender, exactly as the
// native render loop does (same sources, same rounding flags). The scales and
// their choice are in scale_exports.cpp.
#include <emscripten/emscripten.h>

#include <cstdint>

#include "playback.h"
#include "synth.h"
#include "version.h"

extern "C" {

// A fresh synthesizer at the song's first frame. (Without memory for it the
// module aborts, which reaches the Worker as an error.)
EMSCRIPTEN_KEEPALIVE SynthState* synthCreate()
{
    return makeSynthState().release();
}

EMSCRIPTEN_KEEPALIVE void synthDestroy(SynthState* state)
{
    SynthStateDeleter{}(state);
}

// Renders the next `count` frames (fewer at the song's end) into `out`, two
// floats a frame, left then right. Returns the number of frames rendered.
EMSCRIPTEN_KEEPALIVE std::uint32_t synthRender(SynthState* state, StereoFrame* out, std::uint32_t count)
{
    return renderSongFrames(*state, out, count);
}

EMSCRIPTEN_KEEPALIVE std::uint32_t songFrames()
{
    return SONG_FRAMES;
}

EMSCRIPTEN_KEEPALIVE std::uint32_t songSampleRate()
{
    return SAMPLE_RATE;
}

// The frame loop's end: the first frame at or after it is the last.
EMSCRIPTEN_KEEPALIVE std::uint32_t exitTimeMs()
{
    return EXIT_TIME_MS;
}

// The song frames rendered before the sound starts (the Worker renders them
// once to warm up).
EMSCRIPTEN_KEEPALIVE std::uint32_t audioPrerollFrames()
{
    return AUDIO_PREROLL_FRAMES;
}

// The demo's version ("1.0.0") and the revision it was built from ("git
// 45dca8e", or "" outside a git checkout), for the start view.
EMSCRIPTEN_KEEPALIVE const char* demoVersion()
{
    return DEMO_VERSION;
}

EMSCRIPTEN_KEEPALIVE const char* demoRevision()
{
    return DEMO_REVISION;
}

}
