// The internal resolutions as the page sees them, and the choice among them
// from frame times. The page names a scale by its place in SCENE_SCALES (0
// the finest, the steps of the governor) and takes everything else from here: the list's length, each
// scale's name (what ?scale= takes, read by the same parser as the desktop's
// --scale), its drawn size and its shader text. Without ?scale it hands the
// time of every frame to the same ScaleGovernor that the desktop's
// --scale auto runs, and draws the next frame at the scale it answers.
//
// The page's probe is its still of the start view: from its time and pixel
// count the module predicts the scale of the first animated frame
// (scaleGovernorPredict), and scaleGovernorCreateAfterProbe gives the
// governor that starts there.
//
// Strings cross as NUL-terminated UTF-8 in the module's memory; a returned
// string that the caller must free says so.
#include <emscripten/emscripten.h>

#include <cstdlib>
#include <cstring>
#include <new>
#include <optional>
#include <string>

#include "scale_governor.h"
#include "scene_scales.h"

namespace {

bool isIndex(int index)
{
    return index >= 0 && index < SCENE_SCALE_COUNT;
}

} // namespace

extern "C" {

EMSCRIPTEN_KEEPALIVE int sceneScaleCount()
{
    return SCENE_SCALE_COUNT;
}

// The name of the scale at `index`, as ?scale= takes it; null past the list.
EMSCRIPTEN_KEEPALIVE const char* sceneScaleName(int index)
{
    return isIndex(index) ? SCENE_SCALES[index].name : nullptr;
}

// The size of the picture drawn at `index`, in pixels; 0 past the list.
EMSCRIPTEN_KEEPALIVE int sceneScaleWidth(int index)
{
    return isIndex(index) ? SCENE_SCALES[index].grid.width : 0;
}

EMSCRIPTEN_KEEPALIVE int sceneScaleHeight(int index)
{
    return isIndex(index) ? SCENE_SCALES[index].grid.height : 0;
}

// The place of the scale that `text` names, or -1 when it names none.
EMSCRIPTEN_KEEPALIVE int sceneScaleIndex(const char* text)
{
    const std::optional<int> step = parseSceneScale(text);
    return step ? *step : -1;
}

// The accepted names for messages.
EMSCRIPTEN_KEEPALIVE const char* sceneScaleList()
{
    static const std::string list = sceneScaleNames();
    return list.c_str();
}

// The shader text drawn at `index` (see scaledSceneSource), for the caller to
// free; null past the list or when memory runs out.
EMSCRIPTEN_KEEPALIVE char* scaledSceneAt(const char* source, int index)
{
    if (!isIndex(index)) {
        return nullptr;
    }
    const std::string text = scaledSceneSource(source, index);
    char* copy = static_cast<char*>(std::malloc(text.size() + 1));
    if (copy) {
        std::memcpy(copy, text.c_str(), text.size() + 1);
    }
    return copy;
}

// A governor whose first frame is drawn at `index`; `adaptive` 0 keeps it
// there, 1 lets the frame times move it (judged after a second at a scale). Null past the list or when memory runs out; the caller destroys it.
EMSCRIPTEN_KEEPALIVE ScaleGovernor* scaleGovernorCreate(int index, int adaptive)
{
    if (!isIndex(index)) {
        return nullptr;
    }
    return new (std::nothrow) ScaleGovernor(index, adaptive != 0);
}

// The scale (its index) that a probe predicts: a frame of `pixels` pixels
// (320 * 180 for the still at scale 6) drawn in `seconds` (drawn and waited
// for). The finest scale whose frame is expected to take less than 70% of
// 1/30 s; the coarsest where none is, or for anything but a time and a count.
EMSCRIPTEN_KEEPALIVE int scaleGovernorPredict(double seconds, double pixels)
{
    return ScaleGovernor::predictStep(seconds, pixels);
}

// An adaptive governor whose first frame is drawn at the scale that the probe
// predicts (scaleGovernorStep gives it): where the frames there turn out
// too slow, it is left at once and tried again only after a wait. Null when
// memory runs out; the caller destroys it.
EMSCRIPTEN_KEEPALIVE ScaleGovernor* scaleGovernorCreateAfterProbe(double seconds, double pixels)
{
    return new (std::nothrow) ScaleGovernor(ScaleGovernor::afterProbe(seconds, pixels));
}

// The index of the scale of the next frame.
EMSCRIPTEN_KEEPALIVE int scaleGovernorStep(const ScaleGovernor* governor)
{
    return governor->step();
}

EMSCRIPTEN_KEEPALIVE void scaleGovernorDestroy(ScaleGovernor* governor)
{
    delete governor;
}

// A frame took `seconds` and ended at `now` (seconds on the page's steady
// clock); returns the index of the scale for the next frame.
EMSCRIPTEN_KEEPALIVE int scaleGovernorFrameDone(ScaleGovernor* governor, double now, double seconds)
{
    return governor->frameDone(now, seconds);
}

// 1 once when the first frames at a fixed full resolution were slow (see
// ScaleGovernor::takeSlowStartHint), else 0.
EMSCRIPTEN_KEEPALIVE int scaleGovernorTakeSlowStartHint(ScaleGovernor* governor)
{
    return governor->takeSlowStartHint() ? 1 : 0;
}

// The first frames' time beyond which that hint is given, in milliseconds.
EMSCRIPTEN_KEEPALIVE double scaleGovernorSlowStartMs()
{
    return ScaleGovernor::SLOW_START_SECONDS * 1000.0;
}

}
