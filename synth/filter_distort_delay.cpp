// Filter (opcode 3), Distort (opcode 4) and Delay (opcode 5).
#include <cmath>

#include "synth_state.h"

void unitFilter(UnitContext& c) {
    SynthState& s = c.state;
    const std::uint8_t flags = loadUnitParams(s, 3);
    if (c.voice.note == 0) return;
    const double frequency = s.loadedParams[0];
    const double resonance = s.loadedParams[1];
    Word* slot = c.slot;
    const double v = stackPop(s);
    const double fm = frequency + static_cast<double>(slot[4].f);
    const double f = fm * fm;
    slot[3].f = static_cast<float>(f);
    const double oldBand = slot[2].f;
    const double low = static_cast<double>(slot[0].f) + f * oldBand;
    slot[0].f = static_cast<float>(low);
    const double high = v - low - resonance * oldBand;
    slot[1].f = static_cast<float>(high);
    const double band = oldBand + static_cast<double>(slot[3].f) * high;
    slot[2].f = static_cast<float>(band);
    double out = 0.0;
    if (flags & FILTER_LOW) out += static_cast<double>(slot[0].f);
    if (flags & FILTER_HIGH) out += static_cast<double>(slot[1].f);
    if (flags & FILTER_BAND) out += static_cast<double>(slot[2].f);
    if (flags & FILTER_PEAK) out += static_cast<double>(slot[0].f) - static_cast<double>(slot[1].f);
    out = (out + static_cast<double>(HALF)) - static_cast<double>(HALF);
    stackPush(s, out);
}

void unitDistort(UnitContext& c) {
    SynthState& s = c.state;
    loadUnitParams(s, 2);
    if (c.voice.note == 0) return;
    const double drive = s.loadedParams[0];
    const double holdRate = s.loadedParams[1];
    Word* slot = c.slot;
    const double counter = static_cast<double>(slot[1].f) - holdRate * holdRate;
    slot[1].f = static_cast<float>(counter);
    if (counter > 0.0) {
        stackPop(s);
        stackPush(s, static_cast<double>(slot[0].f));
        return;
    }
    slot[1].f = static_cast<float>(counter + 1.0);
    const double v = stackPop(s);
    const double w = waveshape(v, drive);
    slot[0].f = static_cast<float>(w);
    stackPush(s, w);
}

void unitDelay(UnitContext& c) {
    SynthState& s = c.state;
    const std::uint8_t lineCount = loadUnitParams(s, 8);
    const std::uint8_t timeIndex = c.params[6];
    const double inputGain = s.loadedParams[0];
    const double dry = s.loadedParams[1];
    const double feedback = s.loadedParams[2];
    const double damping = s.loadedParams[3];
    const double lfoRate = s.loadedParams[4];
    const double lfoDepth = s.loadedParams[5];

    const double v = stackPop(s);
    const double x = v * inputGain * inputGain;
    double out = v * dry;

    DelayLine& first = s.delayPool[s.delayCursor % DELAY_POOL_RECORDS];
    const double rate2 = lfoRate * lfoRate;
    const double phase = std::fmod(static_cast<double>(first.lfoPhase) + rate2 * rate2 / static_cast<double>(DELAY_MOD_SCALE) + 1.0, 1.0);
    first.lfoPhase = static_cast<float>(phase);
    const double depth2 = lfoDepth * lfoDepth;
    const double mod = (1.0 + std::sin(TWO_PI * phase)) * (depth2 * depth2) * static_cast<double>(DELAY_MOD_SCALE);
    const std::int32_t m = static_cast<std::int32_t>(std::nearbyint(mod));

    for (std::uint32_t i = 0; i < lineCount; ++i) {
        DelayLine& line = s.delayPool[s.delayCursor % DELAY_POOL_RECORDS];
        const std::size_t tableIndex = static_cast<std::size_t>(timeIndex) + i;
        const std::int32_t length = tableIndex < s.song->delayTimesSize ? s.song->delayTimes[tableIndex] : 1;
        std::int32_t r = line.writePos + m;
        if (r >= length) r -= length;
        const double d = line.samples[static_cast<std::uint32_t>(r) & (DELAY_LINE_SAMPLES - 1)];
        out = out + d;
        const double f = (1.0 - damping) * d + damping * static_cast<double>(line.damped);
        line.damped = static_cast<float>(f);
        line.samples[static_cast<std::uint32_t>(line.writePos) & (DELAY_LINE_SAMPLES - 1)] = static_cast<float>(x + feedback * f);
        line.writePos = line.writePos + 1;
        if (line.writePos >= length) line.writePos -= length;
        ++s.delayCursor;
    }
    DelayLine& next = s.delayPool[s.delayCursor % DELAY_POOL_RECORDS];
    double y = out + (static_cast<double>(DC_COEFF) * static_cast<double>(next.dcPrevOut) - static_cast<double>(next.dcPrevIn));
    next.dcPrevIn = static_cast<float>(out);
    y = (y + static_cast<double>(HALF)) - static_cast<double>(HALF);
    next.dcPrevOut = static_cast<float>(y);
    stackPush(s, y);
}
