// StackOp (6), Store (7), Pan (8), Output (9), Accumulate (10), Nop (11).
// Store, Pan and Output compute with unit_steps.h.
#include "synth_state.h"
#include "unit_steps.h"

void unitStackOp(UnitContext& c) {
    SynthState& s = c.state;
    const std::uint8_t operation = loadUnitParams(s, 1);
    switch (operation) {
        case STACK_POP:
            stackPop(s);
            break;
        case STACK_ADD_POP: {
            const double a = stackPop(s);
            stackTop(s) = stackTop(s) + a;
            break;
        }
        case STACK_MUL_POP: {
            const double a = stackPop(s);
            stackTop(s) = stackTop(s) * a;
            break;
        }
        case STACK_DUP:
            stackPush(s, stackTop(s));
            break;
        case STACK_SWAP: {
            const double a = stackTop(s);
            stackTop(s) = stackTop(s, 1);
            stackTop(s, 1) = a;
            break;
        }
        case STACK_ADD:
            stackTop(s) = stackTop(s) + stackTop(s, 1);
            break;
        case STACK_MUL:
            stackTop(s) = stackTop(s) * stackTop(s, 1);
            break;
        case STACK_ADD_PAIRS: {
            const double a = stackPop(s);
            const double b = stackPop(s);
            stackTop(s) = stackTop(s) + a;
            stackTop(s, 1) = stackTop(s, 1) + b;
            break;
        }
        default:
            break;  // operations outside 1..8 do nothing (the song has none)
    }
}

void unitStore(UnitContext& c) {
    SynthState& s = c.state;
    const std::uint8_t target = loadUnitParams(s, 2);
    const double amount = s.loadedParams[0];
    c.voice.slots[target].f = storeValue(stackTop(s), (amount - static_cast<double>(HALF)) * 2.0);
}

void unitPan(UnitContext& c) {
    SynthState& s = c.state;
    loadUnitParams(s, 1);
    const double position = s.loadedParams[0] + static_cast<double>(c.slot[0].f);
    double right;
    double left;
    panFrame(stackPop(s), position, right, left);
    stackPush(s, right);
    stackPush(s, left);
}

void unitOutput(UnitContext& c) {
    SynthState& s = c.state;
    loadUnitParams(s, 2);
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
    const std::uint8_t source = loadUnitParams(s, 1);
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
