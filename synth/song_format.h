#pragma once
// The song's formats as the synthesizer reads them: the opcodes of the
// CommandStream, each unit's parameter bytes and stack effect (UNIT_FORMATS,
// the one table of them for the unit machine, the fast loop, the song check,
// the song data's tests and the song generator, which reads it from this
// file), the flag and operation bytes that units take from their parameters,
// and SongData, the song's data blocks. The tables are constant expressions
// of this header alone (standard library only), so that the song data's
// tests use them without the synthesizer.

#include <cstddef>
#include <cstdint>

// A chain has at most MAX_UNITS units; unit k owns UnitSlot k of its voice,
// SLOT_WORDS words. A Store's target byte b names word b of the voice's
// UnitSlot area (word b % 8 of UnitSlot b / 8).
inline constexpr std::uint32_t MAX_UNITS = 32;
inline constexpr std::uint32_t SLOT_WORDS = 8;

// Opcodes (UnitDispatch). 0 ends a chain; opcodes above 11 run as Nop.
enum Opcode : std::uint8_t {
    OP_END = 0,
    OP_ENVELOPE = 1,
    OP_OSCILLATOR = 2,
    OP_FILTER = 3,
    OP_DISTORT = 4,
    OP_DELAY = 5,
    OP_STACKOP = 6,
    OP_STORE = 7,
    OP_PAN = 8,
    OP_OUTPUT = 9,
    OP_ACCUMULATE = 10,
    OP_NOP = 11,
    OPCODE_COUNT = 12,
};

// How a unit changes the ValueStack: it takes `pops` values from the top and
// leaves `pushes` values in their place (a unit that replaces the top value
// takes one and leaves one).
struct StackEffect {
    std::uint8_t pops;
    std::uint8_t pushes;
};

// What the CommandStream's opcode says about a unit: its name (as the song
// generator's listings write it), the parameter bytes it reads from the
// ParameterStream, and its stack effect (StackOp's depends on its operation:
// STACK_OPERATIONS).
struct UnitFormat {
    Opcode opcode;
    const char* name;
    std::uint8_t parameters;
    StackEffect effect;
};

inline constexpr UnitFormat UNIT_FORMATS[OPCODE_COUNT] = {
    {.opcode = OP_END, .name = "End", .parameters = 0, .effect = {.pops = 0, .pushes = 0}},
    {.opcode = OP_ENVELOPE, .name = "Envelope", .parameters = 5, .effect = {.pops = 0, .pushes = 1}},
    {.opcode = OP_OSCILLATOR, .name = "Oscillator", .parameters = 7, .effect = {.pops = 0, .pushes = 1}},
    {.opcode = OP_FILTER, .name = "Filter", .parameters = 3, .effect = {.pops = 1, .pushes = 1}},
    {.opcode = OP_DISTORT, .name = "Distort", .parameters = 2, .effect = {.pops = 1, .pushes = 1}},
    {.opcode = OP_DELAY, .name = "Delay", .parameters = 8, .effect = {.pops = 1, .pushes = 1}},
    {.opcode = OP_STACKOP, .name = "StackOp", .parameters = 1, .effect = {.pops = 0, .pushes = 0}},
    {.opcode = OP_STORE, .name = "Store", .parameters = 2, .effect = {.pops = 1, .pushes = 1}},
    {.opcode = OP_PAN, .name = "Pan", .parameters = 1, .effect = {.pops = 1, .pushes = 2}},
    {.opcode = OP_OUTPUT, .name = "Output", .parameters = 2, .effect = {.pops = 2, .pushes = 0}},
    {.opcode = OP_ACCUMULATE, .name = "Accumulate", .parameters = 1, .effect = {.pops = 0, .pushes = 2}},
    {.opcode = OP_NOP, .name = "Nop", .parameters = 0, .effect = {.pops = 0, .pushes = 0}},
};

// The parameter bytes of a unit (0 for opcodes above 11).
constexpr std::uint8_t unitParamCount(std::uint8_t opcode) {
    return opcode < OPCODE_COUNT ? UNIT_FORMATS[opcode].parameters : 0;
}

// Oscillator flags (its last parameter byte): one shape bit, and LFO mode.
inline constexpr std::uint8_t OSC_SINE = 0x01;
inline constexpr std::uint8_t OSC_TRISAW = 0x02;
inline constexpr std::uint8_t OSC_PULSE = 0x04;
inline constexpr std::uint8_t OSC_NOISE = 0x08;
inline constexpr std::uint8_t OSC_LFO = 0x10;
inline constexpr std::uint8_t OSC_SHAPES = OSC_SINE | OSC_TRISAW | OSC_PULSE | OSC_NOISE;

// Filter flags (its last parameter byte): the outputs summed.
inline constexpr std::uint8_t FILTER_LOW = 1;
inline constexpr std::uint8_t FILTER_HIGH = 2;
inline constexpr std::uint8_t FILTER_BAND = 4;
inline constexpr std::uint8_t FILTER_PEAK = 8;

// StackOp operations (its parameter byte); others do nothing.
enum StackOperation : std::uint8_t {
    STACK_POP = 1,
    STACK_ADD_POP = 2,
    STACK_MUL_POP = 3,
    STACK_DUP = 4,
    STACK_SWAP = 5,
    STACK_ADD = 6,
    STACK_MUL = 7,
    STACK_ADD_PAIRS = 8,
};

struct StackOperationFormat {
    StackOperation operation;
    StackEffect effect;
};

// Each StackOp operation's stack effect, at index operation - STACK_POP.
inline constexpr StackOperationFormat STACK_OPERATIONS[] = {
    {.operation = STACK_POP, .effect = {.pops = 1, .pushes = 0}},
    {.operation = STACK_ADD_POP, .effect = {.pops = 2, .pushes = 1}},
    {.operation = STACK_MUL_POP, .effect = {.pops = 2, .pushes = 1}},
    {.operation = STACK_DUP, .effect = {.pops = 1, .pushes = 2}},
    {.operation = STACK_SWAP, .effect = {.pops = 2, .pushes = 2}},
    {.operation = STACK_ADD, .effect = {.pops = 2, .pushes = 2}},
    {.operation = STACK_MUL, .effect = {.pops = 2, .pushes = 2}},
    {.operation = STACK_ADD_PAIRS, .effect = {.pops = 4, .pushes = 2}},
};

constexpr bool isStackOperation(std::uint8_t operation) {
    return operation >= STACK_POP && operation <= STACK_ADD_PAIRS;
}

// The stack effect of a unit whose last parameter byte is `last`: its
// opcode's, or for a StackOp its operation's. Units that do nothing (Nop,
// opcodes above 11, StackOp operations outside 1 to 8) have none.
constexpr StackEffect unitStackEffect(std::uint8_t opcode, std::uint8_t last) {
    if (opcode >= OPCODE_COUNT) return {};
    if (opcode != OP_STACKOP) return UNIT_FORMATS[opcode].effect;
    return isStackOperation(last) ? STACK_OPERATIONS[last - STACK_POP].effect : StackEffect{};
}

namespace song_format_detail {
constexpr bool tablesInOrder() {
    for (std::uint32_t i = 0; i < OPCODE_COUNT; ++i)
        if (UNIT_FORMATS[i].opcode != i) return false;
    for (std::uint32_t i = 0; i < sizeof STACK_OPERATIONS / sizeof STACK_OPERATIONS[0]; ++i)
        if (STACK_OPERATIONS[i].operation != STACK_POP + i) return false;
    return sizeof STACK_OPERATIONS / sizeof STACK_OPERATIONS[0] == STACK_ADD_PAIRS;
}
}  // namespace song_format_detail
static_assert(song_format_detail::tablesInOrder(), "UNIT_FORMATS and STACK_OPERATIONS are indexed by their codes");

// The song's data blocks as the synthesizer reads them, so that tests can
// run hand-made instruments and patterns through the same machinery.
struct SongData {
    const std::uint8_t* patterns;        // Pattern table
    std::size_t patternsSize;
    const std::uint8_t* patternList;     // TRACKS x PATTERN_LIST_LENGTH
    const std::uint8_t* commands;        // CommandStream
    std::size_t commandsSize;
    const std::uint8_t* parameters;      // ParameterStream
    std::size_t parametersSize;
    const std::uint16_t* delayTimes;     // DelayTimeTable
    std::size_t delayTimesSize;
};

// The built-in song of song_data.cpp.
const SongData& builtinSong();
