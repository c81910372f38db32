#pragma once
// The unit machine (unit_machine.cpp): the dispatch from opcode to unit,
// the parameter loader, the run of a voice's chain and of a Track's two
// voices with the end-of-note rule, and the ValueStack's push and pop. The
// units themselves live one source per family, their per-frame arithmetic
// in unit_steps.h.

#include <cstdint>

#include "song_format.h"
#include "synth_state.h"

// What a unit runs with.
struct UnitContext {
    SynthState& state;
    Voice& voice;
    Word* slot;                  // the unit's own UnitSlot (8 words)
    const std::uint8_t* params;  // the unit's raw parameter bytes
};
using UnitFunction = void (*)(UnitContext&);
extern const UnitFunction UnitDispatch[OPCODE_COUNT];

// Sets loadedParams[0 .. n - 1] from the unit's n parameter bytes and moves
// the parameter position past them; returns the last byte (0 for n = 0).
std::uint8_t loadUnitParams(SynthState& s, std::uint32_t n);
// Runs the chain at the stream positions on `voice`, leaving the positions
// past the instrument.
void runVoice(SynthState& s, Voice& voice);
// Runs Track `track`'s two voices with its instrument, each followed by the
// end-of-note rule.
void runTrackVoices(SynthState& s, std::uint32_t track);

// The end-of-note rule: a track voice whose first unit, its Envelope, is
// DONE falls silent.
inline bool envelopeDone(const Voice& voice) { return (voice.slots[0].u & 0xFFu) == DONE; }
inline void applyEndOfNote(Voice& voice) {
    if (envelopeDone(voice)) voice.note = 0;
}

// The ValueStack: `below` counts from the top value (0).
inline void stackPush(SynthState& s, double v) {
    s.stack.values[s.stack.depth & (STACK_CAPACITY - 1)] = v;
    ++s.stack.depth;
}
inline double stackPop(SynthState& s) {
    --s.stack.depth;
    return s.stack.values[s.stack.depth & (STACK_CAPACITY - 1)];
}
inline double& stackTop(SynthState& s, std::uint32_t below = 0) {
    return s.stack.values[(s.stack.depth - 1 - below) & (STACK_CAPACITY - 1)];
}

// The units, one source per family.
void unitEnvelope(UnitContext& c);     // envelope_oscillator.cpp
void unitOscillator(UnitContext& c);
void unitFilter(UnitContext& c);       // filter_distort_delay.cpp
void unitDistort(UnitContext& c);
void unitDelay(UnitContext& c);
void unitStackOp(UnitContext& c);      // stack_routing.cpp
void unitStore(UnitContext& c);
void unitPan(UnitContext& c);
void unitOutput(UnitContext& c);
void unitAccumulate(UnitContext& c);
void unitNop(UnitContext& c);
