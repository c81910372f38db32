// The unit machine: UnitDispatch, loadUnitParams, runVoice and
// runTrackVoices.
#include "synth_math.h"
#include "unit_machine.h"

const UnitFunction UnitDispatch[OPCODE_COUNT] = {
    unitNop,  // 0 ends the chain before dispatch; never called
    unitEnvelope, unitOscillator, unitFilter, unitDistort, unitDelay,
    unitStackOp,  unitStore,      unitPan,    unitOutput,  unitAccumulate,
    unitNop,
};

std::uint8_t loadUnitParams(SynthState& s, std::uint32_t n) {
    const std::uint32_t pos = s.parameterPos;
    s.parameterPos = pos + n;
    const std::uint8_t* parameters = s.song->parameters;
    const std::size_t size = s.song->parametersSize;
    std::uint8_t last = 0;
    for (std::uint32_t i = 0; i < n; ++i) {
        last = pos + i < size ? parameters[pos + i] : 0;
        s.loadedParams[i] = static_cast<float>(last) * PARAM_SCALE;
    }
    return last;
}

void runVoice(SynthState& s, Voice& voice) {
    static const std::uint8_t noParams[8] = {};
    for (std::uint32_t k = 0;; ++k) {
        const std::uint32_t pos = s.commandPos++;
        const std::uint8_t opcode = pos < s.song->commandsSize ? s.song->commands[pos] : std::uint8_t{OP_END};
        if (opcode == OP_END) return;
        Word* slot = k < MAX_UNITS ? &voice.slots[k * SLOT_WORDS] : s.overflowSlot;
        const std::uint8_t* params = s.parameterPos + unitParamCount(opcode) <= s.song->parametersSize
                                         ? s.song->parameters + s.parameterPos
                                         : noParams;
        UnitContext context{s, voice, slot, params};
        // Opcodes above 11 (not in the song) run as Nop.
        UnitDispatch[opcode < OPCODE_COUNT ? opcode : std::uint8_t{OP_NOP}](context);
    }
}

void runTrackVoices(SynthState& s, std::uint32_t track) {
    const std::uint32_t commandStart = s.commandPos;
    const std::uint32_t parameterStart = s.parameterPos;
    runVoice(s, s.voices[2 * track]);
    applyEndOfNote(s.voices[2 * track]);
    s.commandPos = commandStart;
    s.parameterPos = parameterStart;
    runVoice(s, s.voices[2 * track + 1]);
    applyEndOfNote(s.voices[2 * track + 1]);
}
