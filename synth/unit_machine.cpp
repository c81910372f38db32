// The unit machine: UnitDispatch, loadUnitParams, runVoice, runTrackVoices
// and the end-of-note rule.
#include <cstdlib>
#include <cstring>
#include <new>

#include "song_data.h"
#include "synth_state.h"

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

void applyEndOfNote(Voice& voice) {
    if ((voice.slots[0].u & 0xFFu) == DONE) voice.note = 0;
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

const SongData& builtinSong() {
    static const SongData song{
        PATTERN_TABLE,  sizeof(PATTERN_TABLE),    PATTERN_LIST_TABLE,
        COMMAND_STREAM, sizeof(COMMAND_STREAM),   PARAMETER_STREAM,
        sizeof(PARAMETER_STREAM), DelayTimeTable, sizeof(DelayTimeTable) / sizeof(DelayTimeTable[0]),
    };
    return song;
}

void startZeroSynthState(SynthState& s, const SongData* song) {
    s.noiseSeed = 1;
    s.song = song ? song : &builtinSong();
    s.fastValid = false;
    s.untouched = true;
}

void resetSynthState(SynthState& s, const SongData* song) {
    std::memset(static_cast<void*>(&s), 0, sizeof(SynthState));
    startZeroSynthState(s, song);
}

void SynthStateDeleter::operator()(SynthState* s) const { std::free(s); }

SynthStatePtr makeSynthState(const SongData* song) {
    // calloc: the pool's 24 MB come as zero pages.
    void* memory = std::calloc(1, sizeof(SynthState));
    if (!memory) throw std::bad_alloc();
    auto* s = static_cast<SynthState*>(memory);
    startZeroSynthState(*s, song);
    return SynthStatePtr(s);
}
