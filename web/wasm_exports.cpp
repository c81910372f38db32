// The functions of the WebAssembly module that the page and its Worker call.
// The Worker renders the song with synthCreate / synthRender, exactly as the
// native render loop does (same sources, same rounding flags); the page reads
// its ?scale=N with sceneScale and makes the scaled shader text with
// scaledScene, the same functions that the desktop tools use.
//
// Strings cross as NUL-terminated UTF-8 in the module's memory; a returned
// string belongs to the caller, who frees it with free().
#include <emscripten/emscripten.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "scaled_source.h"
#include "synth.h"

namespace {

char* copyToHeap(const std::string& text)
{
    char* copy = static_cast<char*>(std::malloc(text.size() + 1));
    if (copy) {
        std::memcpy(copy, text.c_str(), text.size() + 1);
    }
    return copy;
}

} // namespace

extern "C" {

// A fresh synthesizer at the song's first frame; null when memory runs out.
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

// The scale that `text` names, or 0 when it names none.
EMSCRIPTEN_KEEPALIVE int sceneScale(const char* text)
{
    return parseSceneScale(text).value_or(0);
}

// "1, 2, 3, 4 or 6", for messages.
EMSCRIPTEN_KEEPALIVE const char* sceneScaleList()
{
    return SCENE_SCALE_LIST;
}

// The shader text drawn at `scale` (see scaledSceneSource); null when memory
// runs out.
EMSCRIPTEN_KEEPALIVE char* scaledScene(const char* source, int scale)
{
    return copyToHeap(scaledSceneSource(source, scale));
}

}
