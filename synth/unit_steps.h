#pragma once
// The per-frame arithmetic of the units, one inline function per step. The
// units themselves (the straightforward loop) and both runners of the fast
// loop call these, so that a unit's sound is defined once: the fast loop
// differs only in what it skips and hoists around them (decoding, silent
// voices, state kept in registers, loop shapes). Each function rounds where
// the unit stores a word and nowhere else.
//
// Not here: Accumulate, whose arithmetic is a sum of output words taken in
// voice order.

#include <cmath>
#include <cstdint>
#include <cstring>
#include <type_traits>

#include "song_format.h"
#include "synth_math.h"
#include "synth_state.h"

// ---------------------------------------------------------------------------
// Envelope: one stage step on its UnitSlot (stage in the low 8 bits of word
// 0, level in word 1). `rate(stage)` gives the per-frame step of ATTACK,
// DECAY or RELEASE (envelopeRate of the parameter whose index is the stage).
// Returns the level.
template <typename Rate>
inline double envelopeLevel(Word* slot, std::uint32_t releaseCount, double sustain, Rate&& rate) {
    auto setStage = [slot](std::uint32_t stage) { slot[0].u = (slot[0].u & ~0xFFu) | stage; };
    if (releaseCount != 0) setStage(RELEASE);
    const double level = slot[1].f;
    double v;
    switch (slot[0].u & 0xFFu) {
        case ATTACK: {
            const double sum = level + rate(ATTACK);
            v = sum >= 1.0 ? 1.0 : sum;
            if (sum >= 1.0) setStage(DECAY);
            break;
        }
        case DECAY: {
            const double sum = level - rate(DECAY);
            v = sum <= sustain ? sustain : sum;
            if (sum <= sustain) setStage(SUSTAIN);
            break;
        }
        case RELEASE: {
            const double sum = level - rate(RELEASE);
            v = sum <= 0.0 ? 0.0 : sum;
            if (sum <= 0.0) setStage(DONE);
            break;
        }
        default:
            // SUSTAIN; also DONE without a release and stage values that only a
            // Store into word 0 could make: the level stays, not rewritten.
            return level;
    }
    slot[1].f = static_cast<float>(v);
    return v;
}

// The Envelope's output: its level times gain + gainMod.
inline double envelopeOutput(double level, double gain, float gainMod) {
    return level * (gain + static_cast<double>(gainMod));
}

// ---------------------------------------------------------------------------
// Oscillator. Its step in cycles per frame: semitones from the transpose
// (`transposeOffset` = transpose - HALF) and its modulation, times 128, the
// detune in semitones (`detune` = (detune - HALF) × 2) and its modulation,
// and the note unless in LFO mode.
inline double oscillatorStep(double transposeOffset, float transposeMod, double detune, float detuneMod,
                             std::uint32_t note, std::uint8_t flags) {
    double t = (transposeOffset + static_cast<double>(transposeMod)) * 128.0 + detune + static_cast<double>(detuneMod);
    if (!(flags & OSC_LFO)) t += static_cast<double>(note);
    const double scale = (flags & OSC_LFO) ? static_cast<double>(LFO_PITCH_SCALE) : static_cast<double>(PITCH_SCALE);
    return pow2(t * static_cast<double>(ONE_TWELFTH)) * scale;
}

// The waveshaper's gain for shape + shapeMod. With shapeMod ±0 that is the
// gain of the shape alone, `unmodulated`, which a caller may have at hand.
inline double oscillatorShaperGain(double shape, float shapeMod, double unmodulated) {
    std::uint32_t bits;
    std::memcpy(&bits, &shapeMod, 4);
    return (bits & 0x7FFFFFFFu) == 0 ? unmodulated : waveshapeGain(shape + static_cast<double>(shapeMod));
}

// One frame of the Oscillator from its step on: moves the running `phase`
// (its stored word) on, takes the shape at phase + phaseMod + phaseShift,
// shapes it with `shaperGain` and returns it times `gain` (gain + gainMod).
// A noise Oscillator draws from `seed`.
inline double oscillatorFrame(float& phase, double step, double phaseMod, double phaseShift, double breakpoint,
                              std::uint8_t flags, double shaperGain, double gain, std::int32_t& seed) {
    const double running = fmodOne(static_cast<double>(phase) + step + 1.0);
    phase = static_cast<float>(running);
    const double x = fmodOne(running + phaseMod + phaseShift + 1.0);
    double w = waveshapeClamp(oscillatorShape(seed, flags, x, breakpoint));
    // A gain of 0 leaves the clamped value as it is.
    if (shaperGain != 0.0) w = waveshapeApply(w, shaperGain);
    return w * gain;
}

// ---------------------------------------------------------------------------
// Filter: one frame of the state-variable filter on its UnitSlot (low,
// high, band, coefficient); `frequency` is p0 + frequencyMod. Returns the
// selected outputs' sum, with tiny values flushed to zero.
inline double filterFrame(Word* slot, double in, double frequency, double resonance, std::uint8_t flags) {
    const double f = frequency * frequency;
    slot[3].f = static_cast<float>(f);
    const double oldBand = slot[2].f;
    const double low = static_cast<double>(slot[0].f) + f * oldBand;
    slot[0].f = static_cast<float>(low);
    const double high = in - low - resonance * oldBand;
    slot[1].f = static_cast<float>(high);
    slot[2].f = static_cast<float>(oldBand + static_cast<double>(slot[3].f) * high);
    double out = 0.0;
    if (flags & FILTER_LOW) out += static_cast<double>(slot[0].f);
    if (flags & FILTER_HIGH) out += static_cast<double>(slot[1].f);
    if (flags & FILTER_BAND) out += static_cast<double>(slot[2].f);
    if (flags & FILTER_PEAK) out += static_cast<double>(slot[0].f) - static_cast<double>(slot[1].f);
    return (out + static_cast<double>(HALF)) - static_cast<double>(HALF);
}

// ---------------------------------------------------------------------------
// Distort: one frame on its UnitSlot (held, holdCounter); `holdSquared` is
// holdRate², `shaperGain` the waveshaper's gain for the drive.
inline double distortFrame(Word* slot, double in, double holdSquared, double shaperGain) {
    const double counter = static_cast<double>(slot[1].f) - holdSquared;
    if (counter > 0.0) {
        slot[1].f = static_cast<float>(counter);
        return static_cast<double>(slot[0].f);
    }
    slot[1].f = static_cast<float>(counter + 1.0);
    const double w = waveshapeApply(waveshapeClamp(in), shaperGain);
    slot[0].f = static_cast<float>(w);
    return w;
}

// ---------------------------------------------------------------------------
// Delay. What enters the lines: the input times inputGain twice.
inline double delayLineInput(double in, double inputGain) { return in * inputGain * inputGain; }

// The read-position modulation's phase after one frame; `step` is
// lfoRate⁴ / DELAY_MOD_SCALE.
inline double delayLfoPhase(float phase, double step) { return fmodOne(static_cast<double>(phase) + step + 1.0); }

// The read offset for the new phase; `depth` is lfoDepth⁴. A depth of 0
// gives 0 whatever the phase (which is always finite).
inline std::int32_t delayReadOffset(double phase, double depth) {
    if (depth == 0.0) return 0;
    return static_cast<std::int32_t>(
        std::nearbyint((1.0 + std::sin(TWO_PI * phase)) * depth * static_cast<double>(DELAY_MOD_SCALE)));
}

// One line's feedback for the sample `read` from it: moves the line's
// damping state on and returns the sample to write at its write position.
// `keep` is 1 - damping.
inline float delayFeedback(double read, double x, double feedback, double keep, double damping, float& damped) {
    const double f = keep * read + damping * static_cast<double>(damped);
    damped = static_cast<float>(f);
    return static_cast<float>(x + feedback * f);
}

// The DC blocker over the unit's summed output, on the two words of the
// record after its lines; tiny values flushed to zero.
inline double delayDcBlock(double out, float& prevIn, float& prevOut) {
    double y = out + (static_cast<double>(DC_COEFF) * static_cast<double>(prevOut) - static_cast<double>(prevIn));
    prevIn = static_cast<float>(out);
    y = (y + static_cast<double>(HALF)) - static_cast<double>(HALF);
    prevOut = static_cast<float>(y);
    return y;
}

// ---------------------------------------------------------------------------
// StackOp: the operation on the values at the top of the stack. `at(k)` is
// the k-th value below the top as the stack stands before the operation
// (at(0) the top, at(-1) the free place above it); the depth then changes by
// the operation's stack effect (unitStackEffect). POP only moves the depth.
template <std::uint8_t OPERATION, typename At>
inline void stackOperation(At&& at) {
    if constexpr (OPERATION == STACK_ADD_POP) {
        at(1) = at(1) + at(0);
    } else if constexpr (OPERATION == STACK_MUL_POP) {
        at(1) = at(1) * at(0);
    } else if constexpr (OPERATION == STACK_DUP) {
        at(-1) = at(0);
    } else if constexpr (OPERATION == STACK_SWAP) {
        const double a = at(0);
        at(0) = at(1);
        at(1) = a;
    } else if constexpr (OPERATION == STACK_ADD) {
        at(0) = at(0) + at(1);
    } else if constexpr (OPERATION == STACK_MUL) {
        at(0) = at(0) * at(1);
    } else if constexpr (OPERATION == STACK_ADD_PAIRS) {
        at(2) = at(2) + at(0);
        at(3) = at(3) + at(1);
    }
}

// Calls f(std::integral_constant<std::uint8_t, operation>) for an operation
// known only at run time, so that f can run stackOperation, or a loop of
// it, compiled for that one operation. Operations outside 1 to 8 do nothing.
template <typename F>
inline void withStackOperation(std::uint8_t operation, F&& f) {
    switch (operation) {
        case STACK_POP: f(std::integral_constant<std::uint8_t, STACK_POP>{}); break;
        case STACK_ADD_POP: f(std::integral_constant<std::uint8_t, STACK_ADD_POP>{}); break;
        case STACK_MUL_POP: f(std::integral_constant<std::uint8_t, STACK_MUL_POP>{}); break;
        case STACK_DUP: f(std::integral_constant<std::uint8_t, STACK_DUP>{}); break;
        case STACK_SWAP: f(std::integral_constant<std::uint8_t, STACK_SWAP>{}); break;
        case STACK_ADD: f(std::integral_constant<std::uint8_t, STACK_ADD>{}); break;
        case STACK_MUL: f(std::integral_constant<std::uint8_t, STACK_MUL>{}); break;
        case STACK_ADD_PAIRS: f(std::integral_constant<std::uint8_t, STACK_ADD_PAIRS>{}); break;
        default: break;
    }
}

// stackOperation for an operation known only at run time.
template <typename At>
inline void stackOperation(std::uint8_t operation, At&& at) {
    withStackOperation(operation, [&at](auto known) { stackOperation<decltype(known)::value>(at); });
}

// ---------------------------------------------------------------------------
// Store: the value written, v times `factor` = (amount - HALF) × 2.
inline float storeValue(double v, double factor) { return static_cast<float>(v * factor); }

// Pan: v split by `position` (position + positionMod) into right and left.
inline void panFrame(double v, double position, double& right, double& left) {
    right = v * position;
    left = v - right;
}

// Output: the four output words (aux left, aux right, main left, main right)
// of the pair a (left) and b (right); `gain` is gain + gainMod.
inline void outputWords(double a, double b, double gain, double auxGain, float* words) {
    words[0] = static_cast<float>(a * auxGain);
    words[1] = static_cast<float>(b * auxGain);
    words[2] = static_cast<float>(a * gain);
    words[3] = static_cast<float>(b * gain);
}

// Whether the four words that outputWords gives differ, bit for bit, from
// the voice's output words as they stand.
inline bool outputWordsChanged(const Voice& voice, const float* words) {
    return std::memcmp(words, voice.auxOut, sizeof(voice.auxOut)) != 0 ||
           std::memcmp(words + 2, voice.mainOut, sizeof(voice.mainOut)) != 0;
}

// Sets a voice's output words from the four that outputWords gives.
inline void setOutputWords(Voice& voice, const float* words) {
    voice.auxOut[0] = words[0];
    voice.auxOut[1] = words[1];
    voice.mainOut[0] = words[2];
    voice.mainOut[1] = words[3];
}
