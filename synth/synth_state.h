#pragma once
// The synthesizer's workspace in one record, so that a test can
// make a fresh one and the demo can keep one static instance.

#include <cstddef>
#include <cstdint>
#include <memory>

#include "synth.h"

// ---------------------------------------------------------------------------
// Sizes of the workspace.
inline constexpr std::uint32_t VOICE_WORDS = 262;
inline constexpr std::uint32_t MAX_UNITS = 32;
inline constexpr std::uint32_t SLOT_WORDS = 8;
inline constexpr std::uint32_t TRACK_VOICES = 2 * TRACKS;  // 32
inline constexpr std::uint32_t MASTER_VOICE = TRACK_VOICES;  // index 32
inline constexpr std::uint32_t VOICE_COUNT = TRACK_VOICES + 1;
inline constexpr std::uint32_t STACK_CAPACITY = 8;
inline constexpr std::uint32_t DELAY_LINE_SAMPLES = 65536;
// 92 lines for the song's frame plus the one record whose DC words the last
// Delay unit uses.
inline constexpr std::uint32_t DELAY_POOL_RECORDS = 93;

// Opcodes (UnitDispatch).
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

// Parameter byte count per opcode (0 for 0, Nop and unknown opcodes).
inline constexpr std::uint8_t UNIT_PARAM_COUNT[OPCODE_COUNT] = {0, 5, 7, 3, 2, 8, 1, 2, 1, 2, 1, 0};
constexpr std::uint8_t unitParamCount(std::uint8_t opcode) {
    return opcode < OPCODE_COUNT ? UNIT_PARAM_COUNT[opcode] : 0;
}

// Envelope stages.
enum EnvelopeStage : std::uint8_t { ATTACK = 0, DECAY = 1, SUSTAIN = 2, RELEASE = 3, DONE = 4 };

// Oscillator flags.
inline constexpr std::uint8_t OSC_SINE = 0x01;
inline constexpr std::uint8_t OSC_TRISAW = 0x02;
inline constexpr std::uint8_t OSC_PULSE = 0x04;
inline constexpr std::uint8_t OSC_NOISE = 0x08;
inline constexpr std::uint8_t OSC_LFO = 0x10;

// Filter flags.
inline constexpr std::uint8_t FILTER_LOW = 1;
inline constexpr std::uint8_t FILTER_HIGH = 2;
inline constexpr std::uint8_t FILTER_BAND = 4;
inline constexpr std::uint8_t FILTER_PEAK = 8;

// StackOp operations.
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

// ---------------------------------------------------------------------------
// One 32-bit word of a UnitSlot: a float or an unsigned integer by the role
// that its unit gives it.
union Word {
    float f;
    std::uint32_t u;
};
static_assert(sizeof(Word) == 4);

// Voice: VOICE_WORDS words.
struct Voice {
    std::uint32_t releaseCount;
    std::uint32_t note;
    Word slots[MAX_UNITS * SLOT_WORDS];  // UnitSlot k is slots[8k .. 8k+7]
    float auxOut[2];
    float mainOut[2];
};
static_assert(sizeof(Voice) == VOICE_WORDS * 4);

// DelayLine record of the DelayLinePool.
struct DelayLine {
    std::int32_t writePos;
    float damped;
    float dcPrevIn;
    float dcPrevOut;
    float lfoPhase;
    float samples[DELAY_LINE_SAMPLES];
};

// The ValueStack: values in double precision.
struct ValueStack {
    double values[STACK_CAPACITY];
    std::uint32_t depth;
};

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

// ---------------------------------------------------------------------------
// SynthConstants.
float bitsToFloat(std::uint32_t bits);
inline constexpr float PARAM_SCALE = 0.0078125f;
inline constexpr std::int32_t NOISE_DIVISOR = INT32_MIN;
inline constexpr float HALF = 0.5f;
inline constexpr float DELAY_MOD_SCALE = 1024.0f;
inline constexpr float DC_COEFF = 0.99609375f;
inline constexpr std::int32_t ENV_TIME_SCALE = 24;
inline constexpr std::uint32_t ONE_TWELFTH_BITS = 0x3DAAAAAAu;
inline constexpr std::uint32_t PITCH_SCALE_BITS = 0x38C265DCu;
inline constexpr std::uint32_t LFO_PITCH_SCALE_BITS = 0x385DEBCAu;
// The same three constants as floats (checked against the bit patterns in
// synth_math.cpp).
inline constexpr float ONE_TWELFTH = 0.0833333284f;
inline constexpr float PITCH_SCALE = 9.26961366e-5f;
inline constexpr float LFO_PITCH_SCALE = 5.29101017e-5f;
inline constexpr double TWO_PI = 6.283185307179586476925286766559;

// ---------------------------------------------------------------------------
// Book-keeping of the fast render loop (fast/fast_book.h): pre-decoded
// instruments and caches; not part of the synthesizer's state proper,
// and rebuilt from that state whenever it may be stale. Kept in
// the state record so that nothing is allocated.
inline constexpr std::size_t FAST_BOOK_BYTES = 512 * 1024;

// The whole synthesizer state. Zero at start but for noiseSeed (1).
struct SynthState {
    // Workspace.
    std::uint32_t voiceToggle[TRACKS];
    float loadedParams[8];  // p0..p7
    Voice voices[VOICE_COUNT];  // 32 track voices, then the MasterVoice
    std::uint32_t delayCursor;
    DelayLine delayPool[DELAY_POOL_RECORDS];

    ValueStack stack;
    std::int32_t noiseSeed;

    // Machine registers: the stream positions and the running unit.
    std::uint32_t commandPos;
    std::uint32_t parameterPos;
    std::uint32_t unitParamStart;  // parameter position of the running unit

    // The next frame to render (0 to SONG_FRAMES).
    std::uint32_t nextFrame;

    // A slot that units beyond MAX_UNITS use, so that a broken chain cannot
    // write outside its voice (defined behaviour for broken data;
    // the song never reaches it).
    Word overflowSlot[SLOT_WORDS];

    const SongData* song;

    // True while the state is as made or reset and nothing has rendered
    // since: every word zero but noiseSeed, song and nextFrame, the fast
    // loop's book included. The fast loop then knows that every delay line
    // holds only zeros without reading 24 MB of it. Whatever changes the
    // state by other means than the render loops must clear it.
    bool untouched;

    // Fast loop book-keeping; stale until the fast loop builds it.
    bool fastValid;
    alignas(64) unsigned char fastBook[FAST_BOOK_BYTES];
};

struct SynthStateDeleter {
    void operator()(SynthState* s) const;
};
using SynthStatePtr = std::unique_ptr<SynthState, SynthStateDeleter>;

// A fresh state on the heap: zero, noiseSeed 1, first frame next, reading
// `song` (the built-in song by default).
SynthStatePtr makeSynthState(const SongData* song = nullptr);
// Puts an existing state back into its start state (zero, noiseSeed 1).
void resetSynthState(SynthState& s, const SongData* song = nullptr);
// Makes a state that is still all zero (static or freshly zeroed memory) its
// start state, setting only the fields that start non-zero.
void startZeroSynthState(SynthState& s, const SongData* song = nullptr);

#include "synth_math.h"

// ---------------------------------------------------------------------------
// The unit machine (unit_machine.cpp).
struct UnitContext {
    SynthState& state;
    Voice& voice;
    Word* slot;            // the unit's own UnitSlot (8 words)
    const std::uint8_t* params;  // the unit's raw parameter bytes
};
using UnitFunction = void (*)(UnitContext&);
extern const UnitFunction UnitDispatch[OPCODE_COUNT];

std::uint8_t loadUnitParams(SynthState& s, std::uint32_t n);
void runVoice(SynthState& s, Voice& voice);
void runTrackVoices(SynthState& s, std::uint32_t track);
void applyEndOfNote(Voice& voice);

// Value stack helpers.
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

// ---------------------------------------------------------------------------
// Sequencer and render loops (sequencer.cpp, fast/fast_loop.cpp).
void fetchTrackNote(SynthState& s, std::uint32_t track, std::uint32_t tick);

// Renders the next `frameCount` frames of the song (fewer at its end) from
// s.nextFrame on into out[0..], publishing the absolute count of finished
// frames through `progress` (release order) after each one. Returns the
// number of frames rendered. The fast loop and the straightforward
// reference loop give bit-identical frames and states.
std::uint32_t renderSongFrames(SynthState& s, StereoFrame* out, std::uint32_t frameCount,
                               std::atomic<std::uint32_t>* progress = nullptr);
std::uint32_t renderSongFramesReference(SynthState& s, StereoFrame* out, std::uint32_t frameCount,
                                        std::atomic<std::uint32_t>* progress = nullptr);
std::uint32_t renderSongFramesFast(SynthState& s, StereoFrame* out, std::uint32_t frameCount,
                                   std::atomic<std::uint32_t>* progress = nullptr);
// Readies an untouched state for a render on another thread that must
// publish its first frames at once (fast/prepare.cpp): builds the fast
// loop's book and faults in the memory that the first `frames` frames write.
// Renders nothing and changes no value; does nothing to a state that is not
// untouched or that is prepared already. Call it before the render thread
// starts.
void prepareSongFrames(SynthState& s, std::uint32_t frames);

// The fast loop's counters, for profiling and tests (since the state was
// made or last rendered by the reference loop).
struct FastCounters {
    std::uint64_t voiceRuns;
    std::uint64_t silentRuns;
    std::uint64_t skippedRuns;
    std::uint64_t delayFull;
    std::uint64_t delayZero;
    std::uint64_t nonFiniteOutputs;  // master output words that were NaN or infinite before the clip
};
FastCounters fastCounters(const SynthState& s);
