// Envelope (opcode 1) and Oscillator (opcode 2).
#include <cmath>

#include "synth_state.h"

void unitEnvelope(UnitContext& c) {
    SynthState& s = c.state;
    loadUnitParams(s, 5);
    if (c.voice.note == 0) {
        stackPush(s, 0.0);
        return;
    }
    const double attack = s.loadedParams[0];
    const double decay = s.loadedParams[1];
    const double sustain = s.loadedParams[2];
    const double release = s.loadedParams[3];
    const double gain = s.loadedParams[4];
    Word* slot = c.slot;
    // The stage lives in the low 8 bits of word 0.
    if (c.voice.releaseCount != 0) slot[0].u = (slot[0].u & ~0xFFu) | RELEASE;
    const double level = slot[1].f;
    double v;
    switch (slot[0].u & 0xFFu) {
        case ATTACK: {
            const double sum = level + envelopeRate(attack);
            v = sum >= 1.0 ? 1.0 : sum;
            if (sum >= 1.0) slot[0].u = (slot[0].u & ~0xFFu) | DECAY;
            slot[1].f = static_cast<float>(v);
            break;
        }
        case DECAY: {
            const double sum = level - envelopeRate(decay);
            v = sum <= sustain ? sustain : sum;
            if (sum <= sustain) slot[0].u = (slot[0].u & ~0xFFu) | SUSTAIN;
            slot[1].f = static_cast<float>(v);
            break;
        }
        case RELEASE: {
            const double sum = level - envelopeRate(release);
            v = sum <= 0.0 ? 0.0 : sum;
            if (sum <= 0.0) slot[0].u = (slot[0].u & ~0xFFu) | DONE;
            slot[1].f = static_cast<float>(v);
            break;
        }
        default:
            // SUSTAIN; also DONE without a release and stage values that only a
            // Store into word 0 could make: the level stays.
            v = level;
            break;
    }
    stackPush(s, v * (gain + static_cast<double>(slot[2].f)));
}

void unitOscillator(UnitContext& c) {
    SynthState& s = c.state;
    const std::uint8_t flags = loadUnitParams(s, 7);
    if (c.voice.note == 0) {
        stackPush(s, 0.0);
        return;
    }
    const double transpose = s.loadedParams[0];
    const double detune = s.loadedParams[1];
    const double phaseShift = s.loadedParams[2];
    const double color = s.loadedParams[3];
    const double shape = s.loadedParams[4];
    const double gain = s.loadedParams[5];
    Word* slot = c.slot;
    const double half = HALF;
    double t = (transpose - half + static_cast<double>(slot[1].f)) * 128.0 + (detune - half) * 2.0 +
               static_cast<double>(slot[2].f);
    if (!(flags & OSC_LFO)) t += static_cast<double>(c.voice.note);
    const double scale = (flags & OSC_LFO) ? static_cast<double>(LFO_PITCH_SCALE) : static_cast<double>(PITCH_SCALE);
    const double d = pow2(t * static_cast<double>(ONE_TWELFTH)) * scale;
    const double phase = std::fmod(static_cast<double>(slot[0].f) + d + 1.0, 1.0);
    slot[0].f = static_cast<float>(phase);
    const double x = std::fmod(phase + static_cast<double>(slot[4].f) + phaseShift + 1.0, 1.0);
    const double breakpoint = color + static_cast<double>(slot[5].f);
    double w = oscillatorShape(s.noiseSeed, flags, x, breakpoint);
    w = waveshape(w, shape + static_cast<double>(slot[6].f));
    stackPush(s, w * (gain + static_cast<double>(slot[7].f)));
}
