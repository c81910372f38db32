// Filter (opcode 3), Distort (opcode 4) and Delay (opcode 5): parameters,
// the silent voice's pass-through, the Delay's records, and the frame's
// arithmetic of unit_steps.h.
#include "unit_machine.h"
#include "unit_steps.h"

void unitFilter(UnitContext& c) {
    SynthState& s = c.state;
    const std::uint8_t flags = loadUnitParams(s, unitParamCount(OP_FILTER));
    if (c.voice.note == 0) return;
    const double frequency = s.loadedParams[0];
    const double resonance = s.loadedParams[1];
    const double v = stackPop(s);
    stackPush(s, filterFrame(c.slot, v, frequency + static_cast<double>(c.slot[4].f), resonance, flags));
}

void unitDistort(UnitContext& c) {
    SynthState& s = c.state;
    loadUnitParams(s, unitParamCount(OP_DISTORT));
    if (c.voice.note == 0) return;
    const double drive = s.loadedParams[0];
    const double holdRate = s.loadedParams[1];
    const double v = stackPop(s);
    stackPush(s, distortFrame(c.slot, v, holdRate * holdRate, waveshapeGain(drive)));
}

void unitDelay(UnitContext& c) {
    SynthState& s = c.state;
    const std::uint8_t lineCount = loadUnitParams(s, unitParamCount(OP_DELAY));
    const std::uint8_t timeIndex = c.params[6];
    const double inputGain = s.loadedParams[0];
    const double dry = s.loadedParams[1];
    const double feedback = s.loadedParams[2];
    const double damping = s.loadedParams[3];
    const double lfoRate = s.loadedParams[4];
    const double lfoDepth = s.loadedParams[5];

    const double v = stackPop(s);
    const double x = delayLineInput(v, inputGain);
    double out = v * dry;

    DelayLine& first = s.delayPool[s.delayCursor % DELAY_POOL_RECORDS];
    const double rate2 = lfoRate * lfoRate;
    const double phase = delayLfoPhase(first.lfoPhase, rate2 * rate2 / static_cast<double>(DELAY_MOD_SCALE));
    first.lfoPhase = static_cast<float>(phase);
    const double depth2 = lfoDepth * lfoDepth;
    const std::int32_t m = delayReadOffset(phase, depth2 * depth2);

    for (std::uint32_t i = 0; i < lineCount; ++i) {
        DelayLine& line = s.delayPool[s.delayCursor % DELAY_POOL_RECORDS];
        const std::size_t tableIndex = static_cast<std::size_t>(timeIndex) + i;
        const std::int32_t length = tableIndex < s.song->delayTimesSize ? s.song->delayTimes[tableIndex] : 1;
        std::int32_t r = line.writePos + m;
        if (r >= length) r -= length;
        const double d = line.samples[static_cast<std::uint32_t>(r) & (DELAY_LINE_SAMPLES - 1)];
        out = out + d;
        line.samples[static_cast<std::uint32_t>(line.writePos) & (DELAY_LINE_SAMPLES - 1)] =
            delayFeedback(d, x, feedback, 1.0 - damping, damping, line.damped);
        line.writePos = line.writePos + 1;
        if (line.writePos >= length) line.writePos -= length;
        ++s.delayCursor;
    }
    DelayLine& next = s.delayPool[s.delayCursor % DELAY_POOL_RECORDS];
    stackPush(s, delayDcBlock(out, next.dcPrevIn, next.dcPrevOut));
}
