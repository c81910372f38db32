// The fast render loop: the same arithmetic as the straightforward loop of
// sequencer.cpp and the units (the steps of unit_steps.h), in the same
// order wherever order can change a bit, with the work that cannot change a
// bit taken out:
//
// - Every instrument is decoded once into a compact program of operations
//   with their constants precomputed (the parameter scaling, envelope rates,
//   waveshaper gains, Delay factors), in two variants: one for a sounding
//   voice and one for a silent voice (note 0), where Envelope and
//   Oscillator push 0.0 and Filter and Distort do nothing (compile.cpp).
// - An Oscillator's step depends only on its parameters, its two pitch
//   modulation words and the note, so it is kept per voice and unit and
//   recomputed only when one of them changes.
// - A Delay whose lines hold only +0.0 and whose input into the lines is 0
//   reads +0.0 from every line and writes +0.0 back, so it only moves its
//   write positions and runs its DC blocker (the "zero path"). The loop keeps
//   for every record the count of +0.0 samples written last in a row, and
//   does not read samples that it knows to be +0.0 (fast_delay.cpp).
// - A silent voice whose run changed no word (UnitSlots, output words,
//   DelayLine headers) and whose Delays all took the zero path is at a fixed
//   point: every further run while it stays silent gives the same words. Its
//   runs are skipped ("quiet") until it takes a new note; then, and whenever
//   the loop returns, its write positions are moved on by the skipped frames.
// - Voices share nothing within a frame but the noise seed and, in the
//   master chain, the track voices' output words. So the loop works in blocks
//   of up to BLOCK_FRAMES frames within a Tick (notes change only at a
//   Tick's first frame): each track voice runs through the whole block, then
//   the master chain, reading the words that each voice left per frame. A
//   voice runs its program unit by unit over the block (block_runner.cpp),
//   each unit through all frames before the next, with the stack and the
//   Stores' values kept per frame. Units that must keep frame order among
//   themselves run frame by frame among themselves: those tied by a Store
//   into an earlier unit (which acts in the next frame), and a program's
//   noise Oscillators, which draw from one seed. Voices that draw noise run
//   frame by frame, in voice order, while two or more of them sound, or one
//   and the master chain.
// - Programs that the block plan cannot take (a Store into a unit's state),
//   and songs whose track chains read other voices (Accumulate), run frame
//   by frame (frame_runner.cpp).
//
// Data that breaks the unit machine's rules (found when the programs are
// built) is rendered by the reference loop instead.
#include <cmath>

#include "fast_book.h"

namespace fast {

namespace {

// Clips and writes one frame of the master's main pair, and publishes it.
inline void emitFrame(SynthState& s, Book& b, float left, float right, StereoFrame& out,
                      std::atomic<std::uint32_t>* progress) {
    if (!std::isfinite(left) || !std::isfinite(right)) ++b.counters.nonFiniteOutputs;
    out.left = clipSample(left);
    out.right = clipSample(right);
    ++s.nextFrame;
    if (progress) progress->store(s.nextFrame, std::memory_order_release);
}

// One block of `count` frames from s.nextFrame on, voice by voice.
void renderBlock(SynthState& s, Book& b, StereoFrame* out, std::uint32_t count, std::atomic<std::uint32_t>* progress) {
    const std::uint32_t first = s.nextFrame;
    Voice& master = s.voices[MASTER_VOICE];
    const Program& masterProgram = b.instruments[TRACKS].sounding;
    // Voices that draw noise share the seed in frame order: while two or
    // more of them sound (or one, and the master chain, which draws after all
    // track voices of its frame) they run frame by frame, in voice order. A
    // silent voice draws nothing, and one sounding voice alone draws in frame
    // order anyway (its plan keeps its own draws in order).
    std::uint32_t noisy = 0;
    for (std::uint32_t v = 0; v < TRACK_VOICES; ++v)
        if (b.drawsNoise[v / 2] && s.voices[v].note != 0) ++noisy;
    const bool interleave = noisy >= 2 || (noisy == 1 && b.masterDrawsNoise);
    bool deferred[TRACK_VOICES] = {};
    std::uint32_t firstDeferred = TRACK_VOICES;
    for (std::uint32_t v = 0; v < TRACK_VOICES; ++v) {
        deferred[v] = interleave && b.drawsNoise[v / 2] && s.voices[v].note != 0;
        if (deferred[v] && firstDeferred == TRACK_VOICES) firstDeferred = v;
    }
    // The master adds the voices' words up as they run when it runs its plan
    // over the block; a voice's words are added once all voices before it
    // are (a deferred voice runs last).
    b.sumWords = masterProgram.planUsable && !b.masterDrawsNoise;
    for (std::uint32_t v = 0; v < TRACK_VOICES; ++v) b.ownRow[v] = !b.sumWords || v >= firstDeferred;
    b.ownRow[MASTER_VOICE] = false;
    if (b.sumWords)
        for (std::uint32_t i = 0; i < count; ++i)
            for (std::uint32_t k = 0; k < 4; ++k) b.wordSums[i][k] = 0.0;
    for (std::uint32_t v = 0; v < TRACK_VOICES; ++v) {
        b.quietThroughBlock[v] = false;
        if (deferred[v]) continue;
        runVoiceBlock(s, b, b.instruments[v / 2], v, first, count);
        if (b.sumWords && v < firstDeferred) addWords(b, s.voices[v], v, count);
    }
    auto runDeferred = [&](std::uint32_t i) {
        for (std::uint32_t v = firstDeferred; v < TRACK_VOICES; ++v) {
            if (!deferred[v]) continue;
            runTrackVoiceFrame(s, b, b.instruments[v / 2], v, first + i);
            keepWords(b, s.voices[v], v, i);
        }
    };
    master.note = TRACKS;
    if (b.sumWords) {
        if (interleave) {
            for (std::uint32_t i = 0; i < count; ++i) runDeferred(i);
            for (std::uint32_t v = firstDeferred; v < TRACK_VOICES; ++v) addWords(b, s.voices[v], v, count);
        }
        BlockContext c{s, b, master, MASTER_VOICE, 0, false, true};
        runPlan<false>(c, masterProgram, count);
        const float(*masterWords)[4] = wordRow(b, MASTER_VOICE);
        for (std::uint32_t i = 0; i < count; ++i) emitFrame(s, b, masterWords[i][2], masterWords[i][3], out[i], progress);
    } else {
        for (std::uint32_t i = 0; i < count; ++i) {
            if (interleave) runDeferred(i);
            runProgram<false>(s, b, masterProgram, master, MASTER_VOICE, &b.blockWords[0][i][0]);
            emitFrame(s, b, master.mainOut[0], master.mainOut[1], out[i], progress);
        }
    }
}

// `count` frames from s.nextFrame on, frame by frame, when track chains read
// other voices.
void renderFrames(SynthState& s, Book& b, StereoFrame* out, std::uint32_t count, std::atomic<std::uint32_t>* progress) {
    Voice& master = s.voices[MASTER_VOICE];
    for (std::uint32_t i = 0; i < count; ++i) {
        for (std::uint32_t v = 0; v < TRACK_VOICES; ++v) runTrackVoiceFrame(s, b, b.instruments[v / 2], v, s.nextFrame);
        master.note = TRACKS;
        runProgram<false>(s, b, b.instruments[TRACKS].sounding, master, MASTER_VOICE);
        emitFrame(s, b, master.mainOut[0], master.mainOut[1], out[i], progress);
    }
}

}  // namespace

}  // namespace fast

std::uint32_t renderSongFramesFast(SynthState& s, StereoFrame* out, std::uint32_t frameCount,
                                   std::atomic<std::uint32_t>* progress) {
    using namespace fast;
    if (!s.fastValid) {
        buildBook(s);
        s.fastValid = true;
    }
    Book& b = book(s);
    if (!b.usable) {
        const std::uint32_t rendered = renderSongFramesReference(s, out, frameCount, progress);
        s.fastValid = true;  // nothing in the book depends on the state while unusable
        return rendered;
    }
    // The record headers: zero in an untouched state's book already.
    if (!s.untouched) loadHeaders(s, b);
    // From an untouched state every voice starts silent but not yet known
    // to be quiet; a short first block finds the quiet ones before they run
    // a whole block each, and publishes the first frames sooner.
    std::uint32_t blockFrames = s.untouched ? FIRST_BLOCK_FRAMES : BLOCK_FRAMES;
    s.untouched = false;
    std::uint32_t rendered = 0;
    while (rendered < frameCount && s.nextFrame < SONG_FRAMES) {
        const std::uint32_t tick = s.nextFrame / SAMPLES_PER_TICK;
        const std::uint32_t inTick = s.nextFrame % SAMPLES_PER_TICK;
        // A block: up to BLOCK_FRAMES frames within one Tick.
        std::uint32_t count = SAMPLES_PER_TICK - inTick;
        if (count > blockFrames) count = blockFrames;
        blockFrames = BLOCK_FRAMES;
        if (count > frameCount - rendered) count = frameCount - rendered;
        if (inTick == 0)
            for (std::uint32_t t = 0; t < TRACKS; ++t) fetchTrackNote(s, t, tick);
        if (b.blockMode) {
            renderBlock(s, b, out + rendered, count, progress);
        } else {
            renderFrames(s, b, out + rendered, count, progress);
        }
        rendered += count;
    }
    b.counters.voiceRuns += static_cast<std::uint64_t>(rendered) * VOICE_COUNT;
    // Leave the state as the reference loop would: quiet voices' write
    // positions moved on, the record headers in the pool, the machine
    // registers past the master chain.
    for (std::uint32_t v = 0; v < TRACK_VOICES; ++v)
        if (b.quiet[v]) catchUp(b, v, s.nextFrame);
    if (rendered > 0) {
        storeHeaders(s, b);
        const Instrument& masterInstrument = b.instruments[TRACKS];
        s.commandPos = masterInstrument.commandEnd;
        s.parameterPos = masterInstrument.parameterEnd;
        s.delayCursor = b.totalLines;
    }
    return rendered;
}

FastCounters fastCounters(const SynthState& s) {
    if (!s.fastValid) return {};
    return fast::book(s).counters;
}
