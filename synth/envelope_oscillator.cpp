// Envelope (opcode 1) and Oscillator (opcode 2): parameters, the silent
// voice's 0.0, and the frame's arithmetic of unit_steps.h.
#include "unit_machine.h"
#include "unit_steps.h"

void unitEnvelope(UnitContext& c) {
    SynthState& s = c.state;
    loadUnitParams(s, unitParamCount(OP_ENVELOPE));
    if (c.voice.note == 0) {
        stackPush(s, 0.0);
        return;
    }
    const float* p = s.loadedParams;
    // The rate parameter of a stage is the parameter whose index is the stage.
    const double level = envelopeLevel(c.slot, c.voice.releaseCount, p[2],
                                       [p](std::uint32_t stage) { return envelopeRate(p[stage]); });
    stackPush(s, envelopeOutput(level, p[4], c.slot[2].f));
}

void unitOscillator(UnitContext& c) {
    SynthState& s = c.state;
    const std::uint8_t flags = loadUnitParams(s, unitParamCount(OP_OSCILLATOR));
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
    const double step = oscillatorStep(transpose - half, slot[1].f, (detune - half) * 2.0, slot[2].f, c.voice.note, flags);
    const double shaperGain = waveshapeGain(shape + static_cast<double>(slot[6].f));
    stackPush(s, oscillatorFrame(slot[0].f, step, slot[4].f, phaseShift, color + static_cast<double>(slot[5].f), flags,
                                 shaperGain, gain + static_cast<double>(slot[7].f), s.noiseSeed));
}
