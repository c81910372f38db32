#pragma once
// The records that the parts of the fast render loop share: the decoded
// programs with their block plans, and the book that holds them with the
// loop's own bookkeeping (zero runs of the delay lines, quiet voices, pitch
// caches, the block's scratch). The book lives in SynthState::fastBook, so
// nothing is allocated; fast_loop.cpp says how the parts work together.

#include <cstdint>
#include <cstring>
#include <new>

#include "render_loop.h"
#include "song_format.h"
#include "synth_state.h"
#include "unit_machine.h"
#include "unit_steps.h"

namespace fast {

// What an operation does; the units, with StackOp split by operation and a
// silent voice's Envelope and Oscillator as PUSH_ZERO.
enum Kind : std::uint8_t {
    K_PUSH_ZERO,
    K_ENVELOPE,
    K_OSCILLATOR,
    K_FILTER,
    K_DISTORT,
    K_DELAY,
    K_POP,
    K_ADD_POP,
    K_MUL_POP,
    K_DUP,
    K_SWAP,
    K_ADD,
    K_MUL,
    K_ADD_PAIRS,
    K_STORE,
    K_PAN,
    K_OUTPUT,
    K_ACCUMULATE,
};

// The StackOp kinds, K_POP to K_ADD_PAIRS, are the operations in their order.
static_assert(K_ADD_PAIRS - K_POP == STACK_ADD_PAIRS - STACK_POP);
constexpr std::uint8_t kindOfStackOperation(std::uint8_t operation) {
    return static_cast<std::uint8_t>(K_POP + (operation - STACK_POP));
}
// The StackOp operation of a kind; 0, no operation, for the other kinds.
constexpr std::uint8_t stackOperationOf(std::uint8_t kind) {
    return kind >= K_POP && kind <= K_ADD_PAIRS ? static_cast<std::uint8_t>(STACK_POP + (kind - K_POP)) : 0;
}

// Where an operation run unit by unit over a block reads a modulation input:
// the per-frame values of the Store that wrote it earlier in the chain, or
// the word itself, which stays put in the block.
struct ModRef {
    std::int8_t store;   // index of the Store's per-frame values, or -1
    std::uint8_t word;   // the word in Voice::slots
};

// The constants that a unit's parameters decode into, one record per kind,
// in the forms that the unit_steps.h functions take (compile.cpp decodes
// them as the units compute them).

struct EnvelopeConstants {
    double attackRate;   // per-frame steps of the stages (envelopeRate)
    double decayRate;
    double sustain;
    double releaseRate;
    double gain;
    // The step of ATTACK, DECAY or RELEASE, as envelopeLevel asks for it.
    double rate(std::uint32_t stage) const {
        return stage == ATTACK ? attackRate : stage == DECAY ? decayRate : releaseRate;
    }
};

struct OscillatorConstants {
    double transposeOffset;  // transpose - HALF
    double detune;           // in semitones: (detune - HALF) × 2
    double phaseShift;
    double color;
    double shape;
    double gain;
    double shaperGain;       // the waveshaper's gain for the shape alone
};

struct FilterConstants {
    double frequency;
    double resonance;
};

struct DistortConstants {
    double drive;
    double holdSquared;  // holdRate²
    double shaperGain;   // the waveshaper's gain for the drive
};

struct DelayConstants {
    double inputGain;
    double dry;
    double feedback;
    double keep;     // 1 - damping
    double damping;
    double lfoStep;  // lfoRate⁴ / DELAY_MOD_SCALE
    double depth;    // lfoDepth⁴
};

struct StoreConstants {
    double factor;  // (amount - HALF) × 2
};

struct PanConstants {
    double position;
};

struct OutputConstants {
    double gain;
    double auxGain;
};

// One unit of a program, its parameters decoded into the constants of its
// kind (the stack operations, Accumulate and PUSH_ZERO have none).
struct Op {
    std::uint8_t kind;
    std::uint8_t flags;   // Oscillator / Filter flags, Store target, Accumulate source
    std::uint8_t lines;   // Delay: line count
    std::uint8_t depthAfter;
    std::uint16_t slot;   // word index of the unit's UnitSlot in Voice::slots
    std::uint16_t recordOffset;  // Delay: first record, relative to the voice's first
    union {
        EnvelopeConstants env;
        OscillatorConstants osc;
        FilterConstants filter;
        DistortConstants distort;
        DelayConstants delay;
        StoreConstants store;
        PanConstants pan;
        OutputConstants output;
    };
    // Block plan (runPlan).
    std::uint8_t depthBefore;
    std::int8_t storeIndex;      // Store: index of its per-frame values
    std::uint8_t oscillator;     // Oscillator: its place among the instrument's Oscillators
    std::uint8_t timeIndex;      // Delay: DelayTimeTable entry of its first line
    ModRef mods[6];
};

// A step of a block plan: one operation run through all frames of the block,
// or a run of operations that must keep frame order among themselves (tied
// by a Store into an earlier unit, which acts in the next frame, or drawing
// noise from one seed), run frame by frame.
struct BlockStep {
    std::uint8_t first;
    std::uint8_t last;
    bool frameByFrame;
    std::uint8_t copyCount;
    ModRef copies[16];  // words to set from earlier Stores' values at each frame
};

// A program's operations and block steps lie in the book's shared arrays
// (Book::ops, Book::steps), one program after the other, so that building
// the book writes only as many pages as the song needs.
struct Program {
    std::uint32_t opBase;
    std::uint32_t count;
    // Block plan: usable when every Store writes a modulation input (or a
    // word nothing reads) and a sounding track program starts with its
    // Envelope (whose stage ends the note).
    bool planUsable;
    bool endsNotes;  // a track voice's sounding program: the first Envelope ends the note
    bool hasOutput;
    std::uint32_t stores;
    std::uint32_t stepBase;
    std::uint32_t stepCount;
};

struct Instrument {
    Program sounding;
    Program silent;              // note 0: Envelope and Oscillator push 0.0, Filter and Distort do nothing
    std::uint32_t lines;         // delay lines that one voice of it takes
    std::uint32_t oscillators;   // Oscillators in it
    std::uint32_t commandEnd;    // stream positions after the instrument
    std::uint32_t parameterEnd;
    bool canBeQuiet;             // a track instrument without Accumulate
};

// Frames that a track voice runs in one go in block mode.
constexpr std::uint32_t BLOCK_FRAMES = 128;
// The first block of a render from an untouched state: two frames, since a
// silent voice's first run may still change words (a Store of 0 × a negative
// amount writes -0.0 over +0.0) and only a run that changes nothing makes it
// quiet.
constexpr std::uint32_t FIRST_BLOCK_FRAMES = 2;

// An Oscillator's step, kept while its pitch inputs stay the same.
struct PitchCache {
    std::uint32_t transposeMod;
    std::uint32_t detuneMod;
    std::uint32_t note;
    std::uint32_t valid;
    double step;
};

// The header words of a DelayLine record. The loop keeps the headers of
// the records that it uses here, side by side, while it runs, and puts them
// back into the records before it returns: every record starts a page of
// its own, and every Delay touches its headers in every frame, so the pool
// would otherwise be 93 pages that the first frame has to fault in.
struct DelayHeader {
    std::int32_t writePos;
    float damped;
    float dcPrevIn;
    float dcPrevOut;
    float lfoPhase;
};

// Room for every program: a sounding and a silent one per instrument.
constexpr std::uint32_t BOOK_OPS = (TRACKS + 1) * 2 * MAX_UNITS;

// The book. The parts that every block touches come first and lie close
// together; what only some songs need (the tails of the program arrays, the
// voices' own rows of words) comes last, so that the pages that the first
// frames fault in are few.
struct Book {
    bool usable;  // false: the data breaks a rule; render with the reference
    Instrument instruments[TRACKS + 1];
    std::uint32_t opCount;
    std::uint32_t stepCount;
    std::uint32_t voiceRecordBase[VOICE_COUNT];
    std::uint32_t recordLength[DELAY_POOL_RECORDS];
    std::uint32_t zeroRun[DELAY_POOL_RECORDS];  // +0.0 samples written last in a row
    // Samples from the write position to the line's end that have not been
    // written since the state was untouched (0 once the line has wrapped, or
    // when the state was not untouched as the book was built): +0.0 all.
    std::uint32_t unwritten[DELAY_POOL_RECORDS];
    DelayHeader header[DELAY_POOL_RECORDS];     // records 0 .. totalLines while the loop runs
    std::uint32_t totalLines;
    bool quiet[VOICE_COUNT];
    std::uint32_t quietSince[VOICE_COUNT];  // first frame whose run was skipped
    // Voices that stayed quiet through the block: their words stand still.
    bool quietThroughBlock[TRACK_VOICES];
    FastCounters counters;
    // Block mode: no track instrument reads other voices (Accumulate), so
    // each track voice can run a block of frames on its own, leaving its
    // output words per frame for the master chain.
    bool blockMode;
    bool drawsNoise[TRACKS];  // the sounding program has a noise Oscillator
    bool masterDrawsNoise;
    // The voices' output words of each frame of the block (aux left, aux
    // right, main left, main right). While the master chain runs its plan
    // over the block, a track voice's words are added to the master's sums
    // (wordSums, in voice order, as its Accumulate adds them) as soon as the
    // voice has run, so they pass through one scratch row (voiceWords);
    // only voices whose words are read later keep a row of their own
    // (blockWords, ownRow): all of them while the master runs frame by
    // frame, and otherwise those that follow a voice deferred to run frame
    // by frame. The master's own words go through the scratch row.
    bool sumWords;
    bool ownRow[VOICE_COUNT];
    // Each voice's Oscillators' pitch caches, voice after voice from
    // pitchBase[v] on.
    std::uint32_t pitchBase[VOICE_COUNT];
    alignas(64) double wordSums[BLOCK_FRAMES][4];
    float voiceWords[BLOCK_FRAMES][4];
    // Scratch of the block runner: the stack and the Stores' values per frame.
    double blockStack[STACK_CAPACITY + 1][BLOCK_FRAMES];
    float storeValues[MAX_UNITS][BLOCK_FRAMES];
    PitchCache pitch[VOICE_COUNT * MAX_UNITS];
    Op ops[BOOK_OPS];
    BlockStep steps[BOOK_OPS];
    float blockWords[VOICE_COUNT][BLOCK_FRAMES][4];
};
static_assert(sizeof(Book) <= FAST_BOOK_BYTES);
static_assert(alignof(Book) <= 64);

inline Book& book(SynthState& s) { return *std::launder(reinterpret_cast<Book*>(s.fastBook)); }
inline const Book& book(const SynthState& s) { return *std::launder(reinterpret_cast<const Book*>(s.fastBook)); }

inline Op* opsOf(Book& b, const Program& p) { return b.ops + p.opBase; }
inline const Op* opsOf(const Book& b, const Program& p) { return b.ops + p.opBase; }
inline const BlockStep* stepsOf(const Book& b, const Program& p) { return b.steps + p.stepBase; }

inline const Instrument& instrumentOf(const Book& b, std::uint32_t v) {
    return b.instruments[v < TRACK_VOICES ? v / 2 : TRACKS];
}

inline std::uint32_t bitsOf(float f) {
    std::uint32_t bits;
    std::memcpy(&bits, &f, 4);
    return bits;
}
inline bool isPositiveZero(float f) { return bitsOf(f) == 0; }

// Whether an operation draws from the noise seed (when its voice sounds).
inline bool drawsNoise(const Op& op) {
    return op.kind == K_OSCILLATOR && (op.flags & OSC_SHAPES) == OSC_NOISE;
}

// An Oscillator's step for its pitch inputs, from the voice's cache when
// they are the ones it was formed for.
inline double pitchStep(PitchCache& cache, const Op& op, float transposeMod, float detuneMod, std::uint32_t note) {
    const std::uint32_t transposeBits = bitsOf(transposeMod);
    const std::uint32_t detuneBits = bitsOf(detuneMod);
    if (!cache.valid || cache.transposeMod != transposeBits || cache.detuneMod != detuneBits || cache.note != note) {
        cache.step = oscillatorStep(op.osc.transposeOffset, transposeMod, op.osc.detune, detuneMod, note, op.flags);
        cache.transposeMod = transposeBits;
        cache.detuneMod = detuneBits;
        cache.note = note;
        cache.valid = 1;
    }
    return cache.step;
}

// The block runner's view of one voice's run over frames base .. of the
// block, and what the silent-voice bookkeeping learns from its last frame.
struct BlockContext {
    SynthState& s;
    Book& b;
    Voice& voice;
    std::uint32_t v;
    std::uint32_t base;  // first frame of this run within the block
    bool changed;        // a word changed in the run's last frame
    bool allZeroPath;    // every Delay took the zero path in the run's last frame
};

// compile.cpp: builds the book from the song and the state.
void buildBook(SynthState& s);
// The header words of records 0 .. totalLines between the pool and the book.
void loadHeaders(const SynthState& s, Book& b);
void storeHeaders(SynthState& s, const Book& b);

// fast_delay.cpp: the Delay unit, frame by frame and over a block, and the
// catch-up of a quiet voice's lines.
template <bool SILENT>
double delayFrame(SynthState& s, Book& b, const Op& op, std::uint32_t first, double in, bool track, bool& changed,
                  bool& allZeroPath);
template <bool SILENT>
void delayFrames(BlockContext& c, const Op& op, std::uint32_t n);
void catchUp(Book& b, std::uint32_t v, std::uint32_t frame);

// frame_runner.cpp: a voice's program for one frame.
template <bool SILENT>
bool runProgram(SynthState& s, Book& b, const Program& program, Voice& voice, std::uint32_t v,
                const float* accumulateWords = nullptr);
void runTrackVoiceFrame(SynthState& s, Book& b, const Instrument& inst, std::uint32_t v, std::uint32_t frame);

// block_runner.cpp: a voice's program over a block of frames.
template <bool SILENT>
std::uint32_t runPlan(BlockContext& c, const Program& p, std::uint32_t n);
void runVoiceBlock(SynthState& s, Book& b, const Instrument& inst, std::uint32_t v, std::uint32_t first,
                   std::uint32_t n);
void keepWords(Book& b, const Voice& voice, std::uint32_t v, std::uint32_t i);
void addWords(Book& b, const Voice& voice, std::uint32_t v, std::uint32_t n);

// The row that voice v's words of the block go to.
inline float (*wordRow(Book& b, std::uint32_t v))[4] { return b.ownRow[v] ? b.blockWords[v] : b.voiceWords; }

}  // namespace fast
