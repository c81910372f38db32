// StackOp (6), Store (7), Pan (8), Output (9), Accumulate (10), Nop (11):
// parameters, the stack, and the frame's arithmetic of unit_steps.h.
#include "unit_machine.h"
#include "unit_steps.h"

void unitStackOp(UnitContext& c) {
    SynthState& s = c.state;
    const std::uint8_t operation = loadUnitParams(s, unitParamCount(OP_STACKOP));
    stackOperation(operation, [&s](int below) -> double& { return stackTop(s, static_cast<std::uint32_t>(below)); });
    const StackEffect effect = unitStackEffect(OP_STACKOP, operation);
    s.stack.depth = s.stack.depth - effect.pops + effect.pushes;
}

void unitStore(UnitContext& c) {
    SynthState& s = c.state;
    const std::uint8_t target = loadUnitParams(s, unitParamCount(OP_STORE));
    const double amount = s.loadedParams[0];
    c.voice.slots[target].f = storeValue(stackTop(s), (amount - static_cast<double>(HALF)) * 2.0);
}

void unitPan(UnitContext& c) {
    SynthState& s = c.state;
    loadUnitParams(s, unitParamCount(OP_PAN));
    const double position = s.loadedParams[0] + static_cast<double>(c.slot[0].f);
    double right;
    double left;
    panFrame(stackPop(s), position, right, left);
    stackPush(s, right);
    stackPush(s, left);
}

void unitOutput(UnitContext& c) {
    SynthState& s = c.state;
    loadUnitParams(s, unitParamCount(OP_OUTPUT));
    const double gain = s.loadedParams[0] + static_cast<double>(c.slot[1].f);
    const double auxGain = s.loadedParams[1];
    const double a = stackPop(s);
    const double b = stackPop(s);
    float words[4];
    outputWords(a, b, gain, auxGain, words);
    setOutputWords(c.voice, words);
}

void unitAccumulate(UnitContext& c) {
    SynthState& s = c.state;
    const std::uint8_t source = loadUnitParams(s, unitParamCount(OP_ACCUMULATE));
    double left = 0.0;
    double right = 0.0;
    for (std::uint32_t v = 0; v < TRACK_VOICES; ++v) {
        const float* pair = source == 8 ? s.voices[v].auxOut : s.voices[v].mainOut;
        left += static_cast<double>(pair[0]);
        right += static_cast<double>(pair[1]);
    }
    stackPush(s, right);
    stackPush(s, left);
}

void unitNop(UnitContext&) {}
