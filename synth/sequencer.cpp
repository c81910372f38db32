// Song sequencer and render loop: the note fetch, the
// straightforward reference render loop, and renderSong with its
// preparation.
#include <cstring>

#include "memory_pages.h"
#include "render_loop.h"
#include "synth_math.h"
#include "synth_state.h"
#include "unit_machine.h"

std::atomic<std::uint32_t> renderedFrames{0};

void fetchTrackNote(SynthState& s, std::uint32_t track, std::uint32_t tick) {
    const std::uint32_t entry = tick >> 4;
    const std::uint32_t row = tick & 15u;
    const std::uint8_t pattern = s.song->patternList[PATTERN_LIST_LENGTH * track + entry];
    const std::size_t index = 16u * pattern + row;
    const std::uint8_t b = index < s.song->patternsSize ? s.song->patterns[index] : 0;
    if (b == 1) return;  // hold
    Voice& first = s.voices[2 * track];
    Voice& second = s.voices[2 * track + 1];
    ++first.releaseCount;
    ++second.releaseCount;
    if (static_cast<std::int8_t>(b) < 1) return;  // release (0 or >= 128)
    Voice& chosen = s.voiceToggle[track] == 0 ? first : second;
    s.voiceToggle[track] ^= 1u;
    // Words 0 to 257: releaseCount, note and all 32 UnitSlots.
    chosen.releaseCount = 0;
    chosen.note = 0;
    std::memset(chosen.slots, 0, sizeof(chosen.slots));
    chosen.note = b;
}

std::uint32_t renderSongFramesReference(SynthState& s, StereoFrame* out, std::uint32_t frameCount,
                                        std::atomic<std::uint32_t>* progress) {
    s.fastValid = false;  // the fast loop's book-keeping no longer matches
    s.untouched = false;
    std::uint32_t rendered = 0;
    while (rendered < frameCount && s.nextFrame < SONG_FRAMES) {
        const std::uint32_t tick = s.nextFrame / SAMPLES_PER_TICK;
        const std::uint32_t sampleInTick = s.nextFrame % SAMPLES_PER_TICK;
        s.commandPos = 0;
        s.parameterPos = 0;
        s.delayCursor = 0;
        for (std::uint32_t t = 0; t < TRACKS; ++t) {
            if (sampleInTick == 0) fetchTrackNote(s, t, tick);
            runTrackVoices(s, t);
        }
        Voice& master = s.voices[MASTER_VOICE];
        master.note = TRACKS;
        runVoice(s, master);
        out[rendered].left = clipSample(master.mainOut[0]);
        out[rendered].right = clipSample(master.mainOut[1]);
        ++rendered;
        ++s.nextFrame;
        if (progress) progress->store(s.nextFrame, std::memory_order_release);
    }
    return rendered;
}

std::uint32_t renderSongFrames(SynthState& s, StereoFrame* out, std::uint32_t frameCount,
                               std::atomic<std::uint32_t>* progress) {
    return renderSongFramesFast(s, out, frameCount, progress);
}

namespace {
// The demo's one synthesizer state: static and zero at start.
SynthState demoState;
enum class DemoStateStage { Zero, Prepared, Used };
DemoStateStage demoStateStage = DemoStateStage::Zero;
// The frames whose memory prepareSong faults in when it renders nothing: the
// song's first 23 ms, a buffer of the Linux sound device, which it may ask for
// before the render thread has written them; later pages the render thread
// faults in itself, a few at a time.
constexpr std::uint32_t PREPARED_FRAMES = 1024;
}  // namespace

void prepareSong(SampleBuffer* buffer, std::uint32_t frames) {
    if (demoStateStage != DemoStateStage::Zero) return;
    startZeroSynthState(demoState);
    if (frames == 0) {
        prepareSongFrames(demoState, PREPARED_FRAMES);
        writeZeroPages(buffer->frames, sizeof(StereoFrame) * PREPARED_FRAMES);
    } else {
        renderSongFrames(demoState, buffer->frames, frames, &renderedFrames);
    }
    demoStateStage = DemoStateStage::Prepared;
}

std::uint32_t renderSong(SampleBuffer* buffer) {
    // The first render finds the state still zero (or prepared) and sets
    // only what starts non-zero, so the first frames are not held up by
    // clearing (and faulting in) the 24 MB delay pool while the sound device
    // already plays.
    if (demoStateStage == DemoStateStage::Used) resetSynthState(demoState);
    if (demoStateStage == DemoStateStage::Zero) startZeroSynthState(demoState);
    demoStateStage = DemoStateStage::Used;
    const std::uint32_t first = demoState.nextFrame;
    return first + renderSongFrames(demoState, buffer->frames + first, SONG_FRAMES - first, &renderedFrames);
}
