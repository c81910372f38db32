// The fast render loop: the same arithmetic as the straightforward loop of
// sequencer.cpp and the units, in the same order, with the work that cannot
// change a bit taken out:
//
// - Every instrument is decoded once into a compact program of operations
//   with their constants precomputed (the parameter scaling, envelope rates,
//   waveshaper gains, Delay factors), in two variants: one for a sounding
//   voice and one for a silent voice (note 0), where Envelope and
//   Oscillator push 0.0 and Filter and Distort do nothing.
// - An Oscillator's step depends only on its parameters, its two pitch
//   modulation words and the note, so it is kept per voice and unit and
//   recomputed only when one of them changes.
// - A Delay whose lines hold only +0.0 and whose input into the lines is 0
//   reads +0.0 from every line and writes +0.0 back, so it only moves its
//   write positions and runs its DC blocker (the "zero path"). The loop keeps
//   for every record the count of +0.0 samples written last in a row.
// - A silent voice whose run changed no word (UnitSlots, output words,
//   DelayLine headers) and whose Delays all took the zero path is at a fixed
//   point: every further run while it stays silent gives the same words. Its
//   runs are skipped ("quiet") until it takes a new note; then, and whenever
//   the loop returns, its write positions are moved on by the skipped frames.
// - Voices share nothing within a frame but the noise seed and, in the
//   master chain, the track voices' output words. So the loop works in blocks
//   of up to FAST_BLOCK_FRAMES frames within a Tick (notes change only at a
//   Tick's first frame): each track voice runs through the whole block, then
//   the master chain, reading the words that each voice left per frame. A
//   voice runs its program unit by unit over the block (runVoiceBlock), each
//   unit through all frames before the next, with the stack and the Stores'
//   values kept per frame; units tied by a Store into an earlier unit (which
//   acts in the next frame), and a program's noise Oscillators, which draw
//   from one seed, run frame by frame among themselves. Voices that draw
//   noise run frame by frame, in voice order, while two or more of them
//   sound, or one and the master chain.
// - Programs that the block plan cannot take, and songs whose track chains
//   read other voices (Accumulate), run frame by frame (runProgram).
//
// Data that breaks the unit machine's rules (found when the programs are
// built) is rendered by the reference loop instead.
#include <cstring>
#include <new>

#include "synth_state.h"

namespace {

enum FastKind : std::uint8_t {
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

// Where an operation run unit by unit over a block (see runVoiceBlock)
// reads a modulation input: the per-frame values of the Store that wrote it
// earlier in the chain, or the word itself, which stays put in the block.
struct ModRef {
    std::int8_t store;   // index of the Store's per-frame values, or -1
    std::uint8_t word;   // the word in Voice::slots
};

struct FastOp {
    std::uint8_t kind;
    std::uint8_t flags;   // Oscillator / Filter flags, Store target, Accumulate source
    std::uint8_t lines;   // Delay: line count
    std::uint8_t depthAfter;
    std::uint16_t slot;   // word index of the unit's UnitSlot in Voice::slots
    std::uint16_t recordOffset;  // Delay: first record, relative to the voice's first
    double c[8];
    // Block plan (runVoiceBlock).
    std::uint8_t depthBefore;
    std::int8_t storeIndex;      // Store: index of its per-frame values
    std::uint8_t oscillator;     // Oscillator: its place among the instrument's Oscillators
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
// (FastBook::ops, FastBook::steps), one program after the other, so that
// building the book writes only as many pages as the song needs.
struct FastProgram {
    std::uint32_t opBase;
    std::uint32_t count;
    // Block plan: usable when every Store writes a modulation input (or a
    // word nothing reads) and the program starts with an Envelope or has no
    // end-of-note test (silent programs).
    bool planUsable;
    bool endsNotes;  // a track voice's sounding program: the first Envelope ends the note
    bool hasOutput;
    std::uint32_t stores;
    std::uint32_t stepBase;
    std::uint32_t stepCount;
};

struct FastInstrument {
    FastProgram sounding;
    FastProgram silent;
    std::uint32_t lines;         // delay lines that one voice of it takes
    std::uint32_t oscillators;   // Oscillators in it
    std::uint32_t commandEnd;    // stream positions after the instrument
    std::uint32_t parameterEnd;
    bool canBeQuiet;             // a track instrument without Accumulate
};

// Frames that a track voice runs in one go in block mode.
constexpr std::uint32_t FAST_BLOCK_FRAMES = 128;
// The first block of a render from an untouched state: two frames, since a
// silent voice's first run may still change words (a Store of 0 × a negative
// amount writes -0.0 over +0.0) and only a run that changes nothing makes it
// quiet.
constexpr std::uint32_t FAST_FIRST_BLOCK_FRAMES = 2;

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
constexpr std::uint32_t FAST_BOOK_OPS = (TRACKS + 1) * 2 * MAX_UNITS;

// The book. The parts that every block touches come first and lie close
// together; what only some songs need (the tails of the program arrays, the
// voices' own rows of words) comes last, so that the pages that the first
// frames fault in are few.
struct FastBook {
    bool usable;  // false: the data breaks a rule; render with the reference
    FastInstrument instruments[TRACKS + 1];
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
    // output words per frame for the master chain. Voices whose instrument
    // draws noise run frame by frame, in voice order, since they share the
    // noise seed.
    bool blockMode;
    bool drawsNoise[TRACKS];
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
    alignas(64) double wordSums[FAST_BLOCK_FRAMES][4];
    float voiceWords[FAST_BLOCK_FRAMES][4];
    // Scratch of runVoiceBlock: the stack and the Stores' values per frame.
    double blockStack[STACK_CAPACITY + 1][FAST_BLOCK_FRAMES];
    float storeValues[MAX_UNITS][FAST_BLOCK_FRAMES];
    PitchCache pitch[VOICE_COUNT * MAX_UNITS];
    FastOp ops[FAST_BOOK_OPS];
    BlockStep steps[FAST_BOOK_OPS];
    float blockWords[VOICE_COUNT][FAST_BLOCK_FRAMES][4];
};
static_assert(sizeof(FastBook) <= FAST_BOOK_BYTES);
static_assert(alignof(FastBook) <= 64);

FastBook& book(SynthState& s) { return *std::launder(reinterpret_cast<FastBook*>(s.fastBook)); }

inline FastOp* opsOf(FastBook& b, const FastProgram& p) { return b.ops + p.opBase; }
inline const FastOp* opsOf(const FastBook& b, const FastProgram& p) { return b.ops + p.opBase; }
inline BlockStep* stepsOf(FastBook& b, const FastProgram& p) { return b.steps + p.stepBase; }
inline const BlockStep* stepsOf(const FastBook& b, const FastProgram& p) { return b.steps + p.stepBase; }
const FastBook& book(const SynthState& s) { return *std::launder(reinterpret_cast<const FastBook*>(s.fastBook)); }

inline bool isPositiveZero(float f) {
    std::uint32_t bits;
    std::memcpy(&bits, &f, 4);
    return bits == 0;
}
inline std::uint32_t bitsOf(float f) {
    std::uint32_t bits;
    std::memcpy(&bits, &f, 4);
    return bits;
}

// Decodes one instrument at the stream positions; false if it breaks a rule
// that the fast loop relies on.
bool compileInstrument(const SongData& song, std::uint32_t& commandPos, std::uint32_t& parameterPos,
                       FastBook& b, FastInstrument& out, std::uint32_t& lineTotal, bool isMaster) {
    // `out` is zero: the book is built from zero.
    out.canBeQuiet = !isMaster;
    out.sounding.opBase = b.opCount;
    FastOp* sounding = b.ops + b.opCount;
    std::uint32_t depth = 0;
    std::uint32_t lines = 0;
    for (std::uint32_t k = 0;; ++k) {
        if (commandPos >= song.commandsSize) return false;
        const std::uint8_t opcode = song.commands[commandPos++];
        if (opcode == OP_END) break;
        if (k >= MAX_UNITS) return false;
        const std::uint32_t count = unitParamCount(opcode);
        if (parameterPos + count > song.parametersSize) return false;
        const std::uint8_t* raw = song.parameters + parameterPos;
        parameterPos += count;
        double p[8] = {};
        for (std::uint32_t i = 0; i < count; ++i) p[i] = static_cast<float>(raw[i]) * PARAM_SCALE;
        const std::uint8_t last = count ? raw[count - 1] : 0;

        FastOp op{};
        op.slot = static_cast<std::uint16_t>(k * SLOT_WORDS);
        int pops = 0;
        int pushes = 0;
        switch (opcode) {
            case OP_ENVELOPE:
                op.kind = K_ENVELOPE;
                op.c[0] = envelopeRate(p[0]);
                op.c[1] = envelopeRate(p[1]);
                op.c[2] = p[2];
                op.c[3] = envelopeRate(p[3]);
                op.c[4] = p[4];
                pushes = 1;
                break;
            case OP_OSCILLATOR:
                op.kind = K_OSCILLATOR;
                op.flags = last;
                op.oscillator = static_cast<std::uint8_t>(out.oscillators++);
                op.c[0] = p[0] - static_cast<double>(HALF);
                op.c[1] = (p[1] - static_cast<double>(HALF)) * 2.0;
                op.c[2] = p[2];
                op.c[3] = p[3];
                op.c[4] = p[4];
                op.c[5] = p[5];
                op.c[6] = (last & OSC_LFO) ? static_cast<double>(LFO_PITCH_SCALE) : static_cast<double>(PITCH_SCALE);
                op.c[7] = waveshapeGain(p[4]);
                pushes = 1;
                break;
            case OP_FILTER:
                op.kind = K_FILTER;
                op.flags = last;
                op.c[0] = p[0];
                op.c[1] = p[1];
                pops = 1;
                pushes = 1;
                break;
            case OP_DISTORT:
                op.kind = K_DISTORT;
                op.c[0] = p[0];
                op.c[1] = p[1] * p[1];
                op.c[2] = waveshapeGain(p[0]);
                pops = 1;
                pushes = 1;
                break;
            case OP_DELAY: {
                op.kind = K_DELAY;
                const std::uint32_t timeIndex = raw[6];
                const std::uint32_t lineCount = raw[7];
                if (lineCount == 0 || timeIndex + lineCount > song.delayTimesSize) return false;
                const double rate2 = p[4] * p[4];
                const double depth2 = p[5] * p[5];
                op.lines = static_cast<std::uint8_t>(lineCount);
                op.recordOffset = static_cast<std::uint16_t>(lines);
                op.c[0] = p[0];
                op.c[1] = p[1];
                op.c[2] = p[2];
                op.c[3] = 1.0 - p[3];
                op.c[4] = p[3];
                op.c[5] = rate2 * rate2 / static_cast<double>(DELAY_MOD_SCALE);
                op.c[6] = depth2 * depth2;
                // The largest read offset: the line must be longer (the
                // reference reads never-written zeros beyond it).
                const double maxMod = 2.0 * (depth2 * depth2) * static_cast<double>(DELAY_MOD_SCALE);
                for (std::uint32_t i = 0; i < lineCount; ++i) {
                    const std::uint32_t length = song.delayTimes[timeIndex + i];
                    if (length == 0 || !(maxMod + 1.0 < static_cast<double>(length))) return false;
                    if (lineTotal + lines + i >= DELAY_POOL_RECORDS) return false;
                }
                op.c[7] = timeIndex;  // for the record lengths
                lines += lineCount;
                pops = 1;
                pushes = 1;
                break;
            }
            case OP_STACKOP:
                switch (last) {
                    case STACK_POP: op.kind = K_POP; pops = 1; break;
                    case STACK_ADD_POP: op.kind = K_ADD_POP; pops = 2; pushes = 1; break;
                    case STACK_MUL_POP: op.kind = K_MUL_POP; pops = 2; pushes = 1; break;
                    case STACK_DUP: op.kind = K_DUP; pops = 1; pushes = 2; break;
                    case STACK_SWAP: op.kind = K_SWAP; pops = 2; pushes = 2; break;
                    case STACK_ADD: op.kind = K_ADD; pops = 2; pushes = 2; break;
                    case STACK_MUL: op.kind = K_MUL; pops = 2; pushes = 2; break;
                    case STACK_ADD_PAIRS: op.kind = K_ADD_PAIRS; pops = 4; pushes = 2; break;
                    default: continue;  // does nothing
                }
                break;
            case OP_STORE:
                op.kind = K_STORE;
                op.flags = last;
                op.c[0] = (p[0] - static_cast<double>(HALF)) * 2.0;
                pops = 1;
                pushes = 1;
                break;
            case OP_PAN:
                op.kind = K_PAN;
                op.c[0] = p[0];
                pops = 1;
                pushes = 2;
                break;
            case OP_OUTPUT:
                op.kind = K_OUTPUT;
                op.c[0] = p[0];
                op.c[1] = p[1];
                pops = 2;
                break;
            case OP_ACCUMULATE:
                op.kind = K_ACCUMULATE;
                op.flags = last;
                pushes = 2;
                out.canBeQuiet = false;
                break;
            default:
                continue;  // Nop, and opcodes above 11, which run as Nop
        }
        if (static_cast<int>(depth) < pops) return false;
        depth = depth - pops + pushes;
        if (depth > STACK_CAPACITY) return false;
        op.depthAfter = static_cast<std::uint8_t>(depth);
        sounding[out.sounding.count++] = op;
    }
    if (depth != 0) return false;
    b.opCount += out.sounding.count;
    // The silent program (note 0): Envelope and Oscillator push 0.0, Filter
    // and Distort leave the top value alone; the others run as usual.
    out.silent.opBase = b.opCount;
    FastOp* silent = b.ops + b.opCount;
    for (std::uint32_t k = 0; k < out.sounding.count; ++k) {
        const FastOp& op = sounding[k];
        if (op.kind == K_FILTER || op.kind == K_DISTORT) continue;
        FastOp& copy = silent[out.silent.count++];
        copy = op;
        if (op.kind == K_ENVELOPE || op.kind == K_OSCILLATOR) copy.kind = K_PUSH_ZERO;
    }
    b.opCount += out.silent.count;
    out.lines = lines;
    out.commandEnd = commandPos;
    out.parameterEnd = parameterPos;
    return true;
}

// Counts the +0.0 samples that the record's line wrote last, from its write
// position backwards (at least the line's length means all of them).
std::uint32_t countZeroRun(const DelayLine& line, std::uint32_t length) {
    std::uint32_t run = 0;
    std::uint32_t pos = static_cast<std::uint32_t>(line.writePos);
    while (run < length) {
        pos = pos == 0 ? length - 1 : pos - 1;
        if (!isPositiveZero(line.samples[pos])) break;
        ++run;
    }
    // Beyond the length nothing is ever written; samples there that are not
    // +0.0 (only a state written by other means could hold them) make the
    // line not all zero.
    if (run >= length) {
        for (std::uint32_t i = length; i < DELAY_LINE_SAMPLES; ++i)
            if (!isPositiveZero(line.samples[i])) return 0;
    }
    return run;
}

// The UnitSlot words an operation reads as modulation inputs, and those it
// keeps as state.
std::uint32_t modWords(std::uint8_t kind, std::uint8_t* words) {
    switch (kind) {
        case K_ENVELOPE: words[0] = 2; return 1;
        case K_OSCILLATOR:
            words[0] = 1; words[1] = 2; words[2] = 4; words[3] = 5; words[4] = 6; words[5] = 7;
            return 6;
        case K_FILTER: words[0] = 4; return 1;
        case K_PAN: words[0] = 0; return 1;
        case K_OUTPUT: words[0] = 1; return 1;
        default: return 0;
    }
}
bool isStateWord(std::uint8_t kind, std::uint32_t word) {
    switch (kind) {
        case K_ENVELOPE: return word <= 1;
        case K_OSCILLATOR: return word == 0;
        case K_FILTER: return word <= 3;
        case K_DISTORT: return word <= 1;
        default: return false;
    }
}

// Whether an operation draws from the noise seed (when its voice sounds).
inline bool drawsNoise(const FastOp& op) {
    return op.kind == K_OSCILLATOR && (op.flags & (OSC_SINE | OSC_TRISAW | OSC_PULSE | OSC_NOISE)) == OSC_NOISE;
}

// Builds the block plan of a program (see runVoiceBlock).
void planProgram(FastBook& b, FastProgram& p, bool sounding) {
    p.planUsable = false;
    p.endsNotes = sounding;
    p.hasOutput = false;
    p.stores = 0;
    p.stepBase = b.stepCount;
    p.stepCount = 0;
    FastOp* ops = opsOf(b, p);
    BlockStep* steps = stepsOf(b, p);
    const std::uint32_t n = p.count;
    if (sounding && (n == 0 || ops[0].kind != K_ENVELOPE || ops[0].slot != 0)) return;
    std::uint32_t depth = 0;
    // The program index of the unit at each chain position, if it is in the program.
    int at[MAX_UNITS];
    for (int& a : at) a = -1;
    for (std::uint32_t k = 0; k < n; ++k) {
        FastOp& op = ops[k];
        op.depthBefore = static_cast<std::uint8_t>(depth);
        depth = op.depthAfter;
        at[op.slot / SLOT_WORDS] = static_cast<int>(k);
        op.storeIndex = -1;
        if (op.kind == K_STORE) op.storeIndex = static_cast<std::int8_t>(p.stores++);
        if (op.kind == K_OUTPUT) p.hasOutput = true;
    }
    // Runs of operations tied by Stores into earlier units.
    std::uint32_t tiedTo[MAX_UNITS];  // the last operation that operation k is tied to
    for (std::uint32_t k = 0; k < n; ++k) tiedTo[k] = k;
    for (std::uint32_t j = 0; j < n; ++j) {
        const FastOp& store = ops[j];
        if (store.kind != K_STORE) continue;
        const int r = at[store.flags / SLOT_WORDS];
        if (r < 0) continue;  // a word of a unit not in this program: nothing reads it
        const std::uint32_t word = store.flags % SLOT_WORDS;
        const FastOp& reader = ops[r];
        if (isStateWord(reader.kind, word)) return;  // a Store into a unit's state
        std::uint8_t words[6];
        const std::uint32_t count = modWords(reader.kind, words);
        bool read = false;
        for (std::uint32_t m = 0; m < count; ++m) read = read || words[m] == word;
        if (read && static_cast<std::uint32_t>(r) <= j && tiedTo[r] < j) tiedTo[r] = j;
    }
    // Noise Oscillators draw from one seed in frame order: run unit by
    // unit, the second one's draws would all follow the first one's. Several
    // of them are tied, with the units between them, into one run that goes
    // frame by frame.
    {
        int firstNoise = -1;
        for (std::uint32_t k = 0; k < n; ++k)
            if (drawsNoise(ops[k])) {
                if (firstNoise < 0) {
                    firstNoise = static_cast<int>(k);
                } else if (tiedTo[firstNoise] < k) {
                    tiedTo[firstNoise] = k;
                }
            }
    }
    std::uint32_t stepOf[MAX_UNITS];
    for (std::uint32_t k = 0; k < n;) {
        std::uint32_t end = tiedTo[k];
        for (std::uint32_t i = k; i <= end; ++i)
            if (tiedTo[i] > end) end = tiedTo[i];
        BlockStep& step = steps[p.stepCount];
        step = BlockStep{};
        step.first = static_cast<std::uint8_t>(k);
        step.last = static_cast<std::uint8_t>(end);
        step.frameByFrame = end > k;
        for (std::uint32_t i = k; i <= end; ++i) stepOf[i] = p.stepCount;
        ++p.stepCount;
        k = end + 1;
    }
    // Modulation inputs: the values of the last Store before the reader, or
    // the word itself when that Store runs in the same frame-by-frame step.
    for (std::uint32_t k = 0; k < n; ++k) {
        FastOp& op = ops[k];
        std::uint8_t words[6];
        const std::uint32_t count = modWords(op.kind, words);
        BlockStep& step = steps[stepOf[k]];
        for (std::uint32_t m = 0; m < count; ++m) {
            const std::uint32_t word = op.slot + words[m];
            int last = -1;
            int lastBeforeStep = -1;
            for (std::uint32_t j = 0; j < k; ++j)
                if (ops[j].kind == K_STORE && ops[j].flags == word) {
                    last = static_cast<int>(j);
                    if (j < step.first) lastBeforeStep = static_cast<int>(j);
                }
            op.mods[m].word = static_cast<std::uint8_t>(word);
            op.mods[m].store = -1;
            if (last >= 0 && stepOf[last] != stepOf[k]) op.mods[m].store = ops[last].storeIndex;
            if (step.frameByFrame && lastBeforeStep >= 0) {
                bool known = false;
                for (std::uint32_t c = 0; c < step.copyCount; ++c) known = known || step.copies[c].word == word;
                if (!known) {
                    if (step.copyCount == 16) return;
                    step.copies[step.copyCount++] = ModRef{ops[lastBeforeStep].storeIndex, static_cast<std::uint8_t>(word)};
                }
            }
        }
    }
    p.planUsable = true;
    b.stepCount += p.stepCount;
}

// Builds the book from the song and the state. A state that is untouched
// holds a book of zeros already and delay lines of zeros: neither is
// written nor read here, so the first frames are not held up by faulting in
// and scanning pages that they do not need.
void buildBook(SynthState& s) {
    FastBook& b = s.untouched ? book(s) : *new (s.fastBook) FastBook{};
    b.usable = false;
    const SongData& song = *s.song;
    std::uint32_t commandPos = 0;
    std::uint32_t parameterPos = 0;
    std::uint32_t lineTotal = 0;
    for (std::uint32_t i = 0; i <= TRACKS; ++i) {
        FastInstrument& inst = b.instruments[i];
        if (!compileInstrument(song, commandPos, parameterPos, b, inst, lineTotal, i == TRACKS)) return;
        if (i < TRACKS) {
            b.voiceRecordBase[2 * i] = lineTotal;
            b.voiceRecordBase[2 * i + 1] = lineTotal + inst.lines;
            lineTotal += 2 * inst.lines;
        } else {
            b.voiceRecordBase[MASTER_VOICE] = lineTotal;
            lineTotal += inst.lines;
        }
        if (lineTotal + 1 > DELAY_POOL_RECORDS) return;
    }
    b.totalLines = lineTotal;
    for (std::uint32_t v = 0, base = 0; v < VOICE_COUNT; ++v) {
        b.pitchBase[v] = base;
        base += b.instruments[v < TRACK_VOICES ? v / 2 : TRACKS].oscillators;
    }
    for (std::uint32_t t = 0; t < TRACKS; ++t) {
        planProgram(b, b.instruments[t].sounding, true);
        planProgram(b, b.instruments[t].silent, false);
    }
    planProgram(b, b.instruments[TRACKS].sounding, false);  // the master chain
    {
        const FastProgram& program = b.instruments[TRACKS].sounding;
        const FastOp* ops = opsOf(b, program);
        for (std::uint32_t k = 0; k < program.count; ++k)
            if (ops[k].kind == K_OSCILLATOR &&
                (ops[k].flags & (OSC_SINE | OSC_TRISAW | OSC_PULSE | OSC_NOISE)) == OSC_NOISE)
                b.masterDrawsNoise = true;
    }
    b.blockMode = true;
    for (std::uint32_t t = 0; t < TRACKS; ++t) {
        const FastProgram& program = b.instruments[t].sounding;
        const FastOp* ops = opsOf(b, program);
        for (std::uint32_t k = 0; k < program.count; ++k) {
            if (ops[k].kind == K_ACCUMULATE) b.blockMode = false;
            if (ops[k].kind == K_OSCILLATOR && (ops[k].flags & (OSC_SINE | OSC_TRISAW | OSC_PULSE | OSC_NOISE)) == OSC_NOISE)
                b.drawsNoise[t] = true;
        }
    }
    // Record lengths.
    for (std::uint32_t v = 0; v < VOICE_COUNT; ++v) {
        const FastInstrument& inst = b.instruments[v < TRACK_VOICES ? v / 2 : TRACKS];
        for (std::uint32_t k = 0; k < inst.sounding.count; ++k) {
            const FastOp& op = opsOf(b, inst.sounding)[k];
            if (op.kind != K_DELAY) continue;
            const std::uint32_t timeIndex = static_cast<std::uint32_t>(op.c[7]);
            for (std::uint32_t i = 0; i < op.lines; ++i)
                b.recordLength[b.voiceRecordBase[v] + op.recordOffset + i] = song.delayTimes[timeIndex + i];
        }
    }
    for (std::uint32_t r = 0; r < lineTotal; ++r) {
        if (s.untouched) {
            // Every sample +0.0 and the write position 0: a zero run as long
            // as the line.
            b.zeroRun[r] = b.recordLength[r];
            b.unwritten[r] = b.recordLength[r];
            continue;
        }
        const DelayLine& line = s.delayPool[r];
        if (line.writePos < 0 || static_cast<std::uint32_t>(line.writePos) >= b.recordLength[r]) return;
        b.zeroRun[r] = countZeroRun(line, b.recordLength[r]);
    }
    b.usable = true;
}

// The header words of records 0 .. totalLines (the last holds only the DC
// blocker words of the last Delay) between the pool and the book.
void loadHeaders(const SynthState& s, FastBook& b) {
    for (std::uint32_t r = 0; r <= b.totalLines; ++r) {
        const DelayLine& line = s.delayPool[r];
        b.header[r] = DelayHeader{line.writePos, line.damped, line.dcPrevIn, line.dcPrevOut, line.lfoPhase};
    }
}
void storeHeaders(SynthState& s, const FastBook& b) {
    for (std::uint32_t r = 0; r <= b.totalLines; ++r) {
        DelayLine& line = s.delayPool[r];
        const DelayHeader& h = b.header[r];
        line.writePos = h.writePos;
        line.damped = h.damped;
        line.dcPrevIn = h.dcPrevIn;
        line.dcPrevOut = h.dcPrevOut;
        line.lfoPhase = h.lfoPhase;
    }
}

// Whether the sample `ahead` places after the write position of a line of
// `length` samples is +0.0 for certain: it was written length - ahead
// frames ago, within the run of +0.0 written last. (0 <= ahead < length.)
// Or it lies in the part of the line not written since the state was
// untouched.
inline bool knownZero(std::uint32_t zeroRun, std::uint32_t unwritten, std::int32_t length, std::int32_t ahead) {
    return static_cast<std::uint32_t>(ahead) < unwritten || zeroRun >= static_cast<std::uint32_t>(length - ahead);
}

// Moves a quiet voice's write positions on by the frames whose runs were
// skipped, as those runs would have (their lines hold only +0.0).
void catchUp(FastBook& b, std::uint32_t v, std::uint32_t frame) {
    const std::uint32_t skipped = frame - b.quietSince[v];
    b.quietSince[v] = frame;
    if (skipped == 0) return;
    const FastInstrument& inst = b.instruments[v < TRACK_VOICES ? v / 2 : TRACKS];
    const std::uint32_t base = b.voiceRecordBase[v];
    for (std::uint32_t r = base; r < base + inst.lines; ++r) {
        const std::uint32_t length = b.recordLength[r];
        DelayHeader& line = b.header[r];
        line.writePos = static_cast<std::int32_t>((static_cast<std::uint32_t>(line.writePos) + skipped % length) % length);
        b.zeroRun[r] += skipped;
        b.unwritten[r] = skipped < b.unwritten[r] ? b.unwritten[r] - skipped : 0;
    }
}

// Runs one voice's program. Returns true, for a silent run, when the voice
// reached a fixed point (nothing changed, every Delay took the zero path).
// `accumulateWords`: null to read the voices' output words, else the block's
// words of the frame (stride FAST_BLOCK_FRAMES * 4 floats from voice to voice).
// One frame of a Delay unit whose records start at `first`: returns the
// unit's output for `in`. `track` says whether this frame reports to the
// silent-voice bookkeeping (`changed`: a stored word changed; `allZeroPath`
// cleared when the lines did real work).
template <bool SILENT>
inline double delayFrame(SynthState& s, FastBook& b, const FastOp& op, std::uint32_t first, double in, bool track,
                         bool& changed, bool& allZeroPath) {
    const double x = in * op.c[0] * op.c[0];
    double out = in * op.c[1];
    const std::uint32_t lines = op.lines;
    DelayHeader& r0 = b.header[first];
    const double phase = fmodOne(static_cast<double>(r0.lfoPhase) + op.c[5] + 1.0);
    const float phaseStored = static_cast<float>(phase);
    if (SILENT && track && bitsOf(phaseStored) != bitsOf(r0.lfoPhase)) changed = true;
    r0.lfoPhase = phaseStored;
    bool zero = x == 0.0;
    if (zero) {
        for (std::uint32_t i = 0; i < lines; ++i) {
            const std::uint32_t r = first + i;
            if (b.zeroRun[r] < b.recordLength[r] || !isPositiveZero(b.header[r].damped)) {
                zero = false;
                break;
            }
        }
    }
    if (zero) {
        // Every line reads +0.0 and writes +0.0 back; damped stays +0.0.
        out = out + 0.0;
        for (std::uint32_t i = 0; i < lines; ++i) {
            const std::uint32_t r = first + i;
            DelayHeader& line = b.header[r];
            std::int32_t wp = line.writePos + 1;
            if (wp >= static_cast<std::int32_t>(b.recordLength[r])) wp -= static_cast<std::int32_t>(b.recordLength[r]);
            line.writePos = wp;
            ++b.zeroRun[r];
            if (b.unwritten[r]) --b.unwritten[r];
        }
        ++b.counters.delayZero;
    } else {
        if (track) allZeroPath = false;
        std::int32_t m = 0;
        if (op.c[6] != 0.0) {
            const double mod = (1.0 + std::sin(TWO_PI * phase)) * op.c[6] * static_cast<double>(DELAY_MOD_SCALE);
            m = static_cast<std::int32_t>(std::nearbyint(mod));
        }
        const double feedback = op.c[2];
        const double keep = op.c[3];
        const double damping = op.c[4];
        for (std::uint32_t i = 0; i < lines; ++i) {
            const std::uint32_t r = first + i;
            DelayHeader& line = b.header[r];
            float* samples = s.delayPool[r].samples;
            const std::int32_t length = static_cast<std::int32_t>(b.recordLength[r]);
            const std::int32_t wp = line.writePos;
            std::int32_t readPos = wp + m;
            if (readPos >= length) readPos -= length;
            // A sample within the line's run of +0.0 is not read: the first
            // touch of a page is then the write, not a read and a write.
            const double d = knownZero(b.zeroRun[r], b.unwritten[r], length, m) ? 0.0 : samples[readPos];
            out = out + d;
            const double f = keep * d + damping * static_cast<double>(line.damped);
            line.damped = static_cast<float>(f);
            const float written = static_cast<float>(x + feedback * f);
            samples[wp] = written;
            b.zeroRun[r] = bitsOf(written) == 0 ? b.zeroRun[r] + 1 : 0;
            if (b.unwritten[r]) --b.unwritten[r];
            line.writePos = wp + 1 >= length ? wp + 1 - length : wp + 1;
        }
        ++b.counters.delayFull;
    }
    DelayHeader& next = b.header[first + lines];
    double y = out + (static_cast<double>(DC_COEFF) * static_cast<double>(next.dcPrevOut) -
                      static_cast<double>(next.dcPrevIn));
    const float prevIn = static_cast<float>(out);
    y = (y + static_cast<double>(HALF)) - static_cast<double>(HALF);
    const float prevOut = static_cast<float>(y);
    if (SILENT && track && (bitsOf(prevIn) != bitsOf(next.dcPrevIn) || bitsOf(prevOut) != bitsOf(next.dcPrevOut)))
        changed = true;
    next.dcPrevIn = prevIn;
    next.dcPrevOut = prevOut;
    return y;
}

template <bool SILENT>
bool runProgram(SynthState& s, FastBook& b, const FastProgram& program, Voice& voice, std::uint32_t v,
                const float* accumulateWords = nullptr) {
    double st[STACK_CAPACITY + 1];
    std::uint32_t sp = 0;  // number of values; top is st[sp - 1]
    bool changed = false;
    bool allZeroPath = true;
    const std::uint32_t recordBase = b.voiceRecordBase[v];
    for (std::uint32_t k = 0; k < program.count; ++k) {
        const FastOp& op = opsOf(b, program)[k];
        Word* slot = &voice.slots[op.slot];
        switch (op.kind) {
            case K_PUSH_ZERO:
                st[sp++] = 0.0;
                break;
            case K_ENVELOPE: {
                if (voice.releaseCount != 0) slot[0].u = (slot[0].u & ~0xFFu) | RELEASE;
                const double level = slot[1].f;
                double out;
                switch (slot[0].u & 0xFFu) {
                    case ATTACK: {
                        const double sum = level + op.c[0];
                        out = sum >= 1.0 ? 1.0 : sum;
                        if (sum >= 1.0) slot[0].u = (slot[0].u & ~0xFFu) | DECAY;
                        slot[1].f = static_cast<float>(out);
                        break;
                    }
                    case DECAY: {
                        const double sum = level - op.c[1];
                        out = sum <= op.c[2] ? op.c[2] : sum;
                        if (sum <= op.c[2]) slot[0].u = (slot[0].u & ~0xFFu) | SUSTAIN;
                        slot[1].f = static_cast<float>(out);
                        break;
                    }
                    case RELEASE: {
                        const double sum = level - op.c[3];
                        out = sum <= 0.0 ? 0.0 : sum;
                        if (sum <= 0.0) slot[0].u = (slot[0].u & ~0xFFu) | DONE;
                        slot[1].f = static_cast<float>(out);
                        break;
                    }
                    default:
                        out = level;
                        break;
                }
                st[sp++] = out * (op.c[4] + static_cast<double>(slot[2].f));
                break;
            }
            case K_OSCILLATOR: {
                PitchCache& cache = b.pitch[b.pitchBase[v] + op.oscillator];
                const std::uint32_t transposeMod = slot[1].u;
                const std::uint32_t detuneMod = slot[2].u;
                if (!cache.valid || cache.transposeMod != transposeMod || cache.detuneMod != detuneMod ||
                    cache.note != voice.note) {
                    double t = (op.c[0] + static_cast<double>(slot[1].f)) * 128.0 + op.c[1] +
                               static_cast<double>(slot[2].f);
                    if (!(op.flags & OSC_LFO)) t += static_cast<double>(voice.note);
                    cache.step = pow2(t * static_cast<double>(ONE_TWELFTH)) * op.c[6];
                    cache.transposeMod = transposeMod;
                    cache.detuneMod = detuneMod;
                    cache.note = voice.note;
                    cache.valid = 1;
                }
                const double phase = fmodOne(static_cast<double>(slot[0].f) + cache.step + 1.0);
                slot[0].f = static_cast<float>(phase);
                const double x = fmodOne(phase + static_cast<double>(slot[4].f) + op.c[2] + 1.0);
                const double c = op.c[3] + static_cast<double>(slot[5].f);
                double w;
                const std::uint8_t flags = op.flags;
                if (flags & OSC_SINE) {
                    w = std::sin(TWO_PI * x);
                } else if (flags & OSC_TRISAW) {
                    if (x <= c) {
                        w = c == 0.0 ? -1.0 : 2.0 * x / c - 1.0;
                    } else {
                        w = 2.0 * (1.0 - x) / (1.0 - c) - 1.0;
                    }
                } else if (flags & OSC_PULSE) {
                    w = x <= c ? 1.0 : -1.0;
                } else if (flags & OSC_NOISE) {
                    w = nextNoise(s.noiseSeed);
                } else {
                    w = 0.0;
                }
                w = waveshapeClamp(w);
                const std::uint32_t shapeMod = slot[6].u & 0x7FFFFFFFu;
                const double g = shapeMod == 0 ? op.c[7] : waveshapeGain(op.c[4] + static_cast<double>(slot[6].f));
                if (g != 0.0) w = waveshapeApply(w, g);
                st[sp++] = w * (op.c[5] + static_cast<double>(slot[7].f));
                break;
            }
            case K_FILTER: {
                const double in = st[sp - 1];
                const double fm = op.c[0] + static_cast<double>(slot[4].f);
                const double f = fm * fm;
                const float coefficient = static_cast<float>(f);
                slot[3].f = coefficient;
                const double oldBand = slot[2].f;
                const double low = static_cast<double>(slot[0].f) + f * oldBand;
                const float lowStored = static_cast<float>(low);
                slot[0].f = lowStored;
                const double high = in - low - op.c[1] * oldBand;
                const float highStored = static_cast<float>(high);
                slot[1].f = highStored;
                const float bandStored = static_cast<float>(oldBand + static_cast<double>(coefficient) * high);
                slot[2].f = bandStored;
                double out = 0.0;
                const std::uint8_t flags = op.flags;
                if (flags & FILTER_LOW) out += static_cast<double>(lowStored);
                if (flags & FILTER_HIGH) out += static_cast<double>(highStored);
                if (flags & FILTER_BAND) out += static_cast<double>(bandStored);
                if (flags & FILTER_PEAK) out += static_cast<double>(lowStored) - static_cast<double>(highStored);
                st[sp - 1] = (out + static_cast<double>(HALF)) - static_cast<double>(HALF);
                break;
            }
            case K_DISTORT: {
                const double counter = static_cast<double>(slot[1].f) - op.c[1];
                if (counter > 0.0) {
                    slot[1].f = static_cast<float>(counter);
                    st[sp - 1] = static_cast<double>(slot[0].f);
                } else {
                    slot[1].f = static_cast<float>(counter + 1.0);
                    const double w = waveshapeApply(waveshapeClamp(st[sp - 1]), op.c[2]);
                    slot[0].f = static_cast<float>(w);
                    st[sp - 1] = w;
                }
                break;
            }
            case K_DELAY:
                st[sp - 1] = delayFrame<SILENT>(s, b, op, recordBase + op.recordOffset, st[sp - 1], true, changed,
                                                allZeroPath);
                break;
            case K_POP:
                --sp;
                break;
            case K_ADD_POP:
                st[sp - 2] = st[sp - 2] + st[sp - 1];
                --sp;
                break;
            case K_MUL_POP:
                st[sp - 2] = st[sp - 2] * st[sp - 1];
                --sp;
                break;
            case K_DUP:
                st[sp] = st[sp - 1];
                ++sp;
                break;
            case K_SWAP: {
                const double a = st[sp - 1];
                st[sp - 1] = st[sp - 2];
                st[sp - 2] = a;
                break;
            }
            case K_ADD:
                st[sp - 1] = st[sp - 1] + st[sp - 2];
                break;
            case K_MUL:
                st[sp - 1] = st[sp - 1] * st[sp - 2];
                break;
            case K_ADD_PAIRS:
                st[sp - 3] = st[sp - 3] + st[sp - 1];
                st[sp - 4] = st[sp - 4] + st[sp - 2];
                sp -= 2;
                break;
            case K_STORE: {
                const float value = static_cast<float>(st[sp - 1] * op.c[0]);
                Word& target = voice.slots[op.flags];
                if (SILENT && bitsOf(value) != target.u) changed = true;
                target.f = value;
                break;
            }
            case K_PAN: {
                const double in = st[sp - 1];
                const double right = in * (op.c[0] + static_cast<double>(slot[0].f));
                st[sp - 1] = right;
                st[sp] = in - right;
                ++sp;
                break;
            }
            case K_OUTPUT: {
                const double a = st[sp - 1];
                const double bb = st[sp - 2];
                sp -= 2;
                const double gain = op.c[0] + static_cast<double>(slot[1].f);
                const float words[4] = {static_cast<float>(a * op.c[1]), static_cast<float>(bb * op.c[1]),
                                        static_cast<float>(a * gain), static_cast<float>(bb * gain)};
                if (SILENT && std::memcmp(words, voice.auxOut, sizeof(words)) != 0) changed = true;
                voice.auxOut[0] = words[0];
                voice.auxOut[1] = words[1];
                voice.mainOut[0] = words[2];
                voice.mainOut[1] = words[3];
                break;
            }
            case K_ACCUMULATE: {
                double left = 0.0;
                double right = 0.0;
                if (accumulateWords) {
                    const float* words = accumulateWords + (op.flags == 8 ? 0 : 2);
                    for (std::uint32_t i = 0; i < TRACK_VOICES; ++i) {
                        left += static_cast<double>(words[0]);
                        right += static_cast<double>(words[1]);
                        words += FAST_BLOCK_FRAMES * 4;
                    }
                } else if (op.flags == 8) {
                    for (std::uint32_t i = 0; i < TRACK_VOICES; ++i) {
                        left += static_cast<double>(s.voices[i].auxOut[0]);
                        right += static_cast<double>(s.voices[i].auxOut[1]);
                    }
                } else {
                    for (std::uint32_t i = 0; i < TRACK_VOICES; ++i) {
                        left += static_cast<double>(s.voices[i].mainOut[0]);
                        right += static_cast<double>(s.voices[i].mainOut[1]);
                    }
                }
                st[sp] = right;
                st[sp + 1] = left;
                sp += 2;
                break;
            }
        }
    }
    return SILENT && !changed && allZeroPath;
}

}  // namespace

namespace {

// Runs track voice v for one frame: sounding, silent, or skipped while quiet.
inline void runTrackVoiceFrame(SynthState& s, FastBook& b, const FastInstrument& inst, std::uint32_t v,
                               std::uint32_t frame) {
    Voice& voice = s.voices[v];
    if (voice.note != 0) {
        if (b.quiet[v]) {
            catchUp(b, v, frame);
            b.quiet[v] = false;
        }
        runProgram<false>(s, b, inst.sounding, voice, v);
        if ((voice.slots[0].u & 0xFFu) == DONE) voice.note = 0;  // end of note
    } else if (!b.quiet[v]) {
        if (runProgram<true>(s, b, inst.silent, voice, v) && inst.canBeQuiet) {
            b.quiet[v] = true;
            b.quietSince[v] = frame + 1;
        }
        ++b.counters.silentRuns;
    } else {
        ++b.counters.skippedRuns;
    }
}

// The row that voice v's words of the block go to.
inline float (*wordRow(FastBook& b, std::uint32_t v))[4] { return b.ownRow[v] ? b.blockWords[v] : b.voiceWords; }

inline void keepWords(FastBook& b, const Voice& voice, std::uint32_t v, std::uint32_t i) {
    float* words = wordRow(b, v)[i];
    words[0] = voice.auxOut[0];
    words[1] = voice.auxOut[1];
    words[2] = voice.mainOut[0];
    words[3] = voice.mainOut[1];
}


// ---------------------------------------------------------------------------
// Block plans: a track voice runs its program unit by unit over a block of
// frames, each unit (or run of units tied by a Store into an earlier unit)
// through all frames before the next, with the stack and the Stores' values
// kept per frame. Each unit sees exactly the values that it sees frame by
// frame: its own state goes on from frame to frame in order, its stack
// inputs are the same frame's values, and a modulation input is the value
// that the last Store before it wrote in the same frame (or the word as it
// stands, which no Store in this block has written before it).

struct BlockContext {
    SynthState& s;
    FastBook& b;
    Voice& voice;
    std::uint32_t v;
    std::uint32_t base;  // first frame of this run within the block
    bool changed;        // a word changed in the run's last frame
    bool allZeroPath;    // every Delay took the zero path in the run's last frame
};

inline double modValue(const BlockContext& c, const ModRef& ref, std::uint32_t i) {
    return ref.store >= 0 ? static_cast<double>(c.b.storeValues[ref.store][i])
                          : static_cast<double>(c.voice.slots[ref.word].f);
}

// One unit in frame i of the run; `last`: the run's last frame. KIND is the
// unit's kind, known at compile time so that a loop over frames is compiled
// for that one kind.
template <bool SILENT, int KIND>
inline void opFrameOf(BlockContext& c, const FastOp& op, std::uint32_t i, bool last) {
    FastBook& b = c.b;
    SynthState& s = c.s;
    Voice& voice = c.voice;
    auto& stk = b.blockStack;
    const std::uint32_t d = op.depthBefore;  // values below this unit
    Word* slot = &voice.slots[op.slot];
    switch (KIND) {
        case K_PUSH_ZERO:
            stk[d][i] = 0.0;
            break;
        case K_ENVELOPE: {
            if (voice.releaseCount != 0) slot[0].u = (slot[0].u & ~0xFFu) | RELEASE;
            const double level = slot[1].f;
            double out;
            switch (slot[0].u & 0xFFu) {
                case ATTACK: {
                    const double sum = level + op.c[0];
                    out = sum >= 1.0 ? 1.0 : sum;
                    if (sum >= 1.0) slot[0].u = (slot[0].u & ~0xFFu) | DECAY;
                    slot[1].f = static_cast<float>(out);
                    break;
                }
                case DECAY: {
                    const double sum = level - op.c[1];
                    out = sum <= op.c[2] ? op.c[2] : sum;
                    if (sum <= op.c[2]) slot[0].u = (slot[0].u & ~0xFFu) | SUSTAIN;
                    slot[1].f = static_cast<float>(out);
                    break;
                }
                case RELEASE: {
                    const double sum = level - op.c[3];
                    out = sum <= 0.0 ? 0.0 : sum;
                    if (sum <= 0.0) slot[0].u = (slot[0].u & ~0xFFu) | DONE;
                    slot[1].f = static_cast<float>(out);
                    break;
                }
                default:
                    out = level;
                    break;
            }
            stk[d][i] = out * (op.c[4] + modValue(c, op.mods[0], i));
            break;
        }
        case K_OSCILLATOR: {
            PitchCache& cache = b.pitch[b.pitchBase[c.v] + op.oscillator];
            const float transposeMod = static_cast<float>(modValue(c, op.mods[0], i));
            const float detuneMod = static_cast<float>(modValue(c, op.mods[1], i));
            const std::uint32_t transposeBits = bitsOf(transposeMod);
            const std::uint32_t detuneBits = bitsOf(detuneMod);
            if (!cache.valid || cache.transposeMod != transposeBits || cache.detuneMod != detuneBits ||
                cache.note != voice.note) {
                double t = (op.c[0] + static_cast<double>(transposeMod)) * 128.0 + op.c[1] +
                           static_cast<double>(detuneMod);
                if (!(op.flags & OSC_LFO)) t += static_cast<double>(voice.note);
                cache.step = pow2(t * static_cast<double>(ONE_TWELFTH)) * op.c[6];
                cache.transposeMod = transposeBits;
                cache.detuneMod = detuneBits;
                cache.note = voice.note;
                cache.valid = 1;
            }
            const double phase = fmodOne(static_cast<double>(slot[0].f) + cache.step + 1.0);
            slot[0].f = static_cast<float>(phase);
            const double x = fmodOne(phase + modValue(c, op.mods[2], i) + op.c[2] + 1.0);
            const double breakpoint = op.c[3] + modValue(c, op.mods[3], i);
            double w;
            const std::uint8_t flags = op.flags;
            if (flags & OSC_SINE) {
                w = std::sin(TWO_PI * x);
            } else if (flags & OSC_TRISAW) {
                if (x <= breakpoint) {
                    w = breakpoint == 0.0 ? -1.0 : 2.0 * x / breakpoint - 1.0;
                } else {
                    w = 2.0 * (1.0 - x) / (1.0 - breakpoint) - 1.0;
                }
            } else if (flags & OSC_PULSE) {
                w = x <= breakpoint ? 1.0 : -1.0;
            } else if (flags & OSC_NOISE) {
                w = nextNoise(s.noiseSeed);
            } else {
                w = 0.0;
            }
            w = waveshapeClamp(w);
            const float shapeMod = static_cast<float>(modValue(c, op.mods[4], i));
            const double g = (bitsOf(shapeMod) & 0x7FFFFFFFu) == 0
                                 ? op.c[7]
                                 : waveshapeGain(op.c[4] + static_cast<double>(shapeMod));
            if (g != 0.0) w = waveshapeApply(w, g);
            stk[d][i] = w * (op.c[5] + modValue(c, op.mods[5], i));
            break;
        }
        case K_FILTER: {
            const double in = stk[d - 1][i];
            const double fm = op.c[0] + modValue(c, op.mods[0], i);
            const double f = fm * fm;
            const float coefficient = static_cast<float>(f);
            slot[3].f = coefficient;
            const double oldBand = slot[2].f;
            const double low = static_cast<double>(slot[0].f) + f * oldBand;
            const float lowStored = static_cast<float>(low);
            slot[0].f = lowStored;
            const double high = in - low - op.c[1] * oldBand;
            const float highStored = static_cast<float>(high);
            slot[1].f = highStored;
            const float bandStored = static_cast<float>(oldBand + static_cast<double>(coefficient) * high);
            slot[2].f = bandStored;
            double out = 0.0;
            const std::uint8_t flags = op.flags;
            if (flags & FILTER_LOW) out += static_cast<double>(lowStored);
            if (flags & FILTER_HIGH) out += static_cast<double>(highStored);
            if (flags & FILTER_BAND) out += static_cast<double>(bandStored);
            if (flags & FILTER_PEAK) out += static_cast<double>(lowStored) - static_cast<double>(highStored);
            stk[d - 1][i] = (out + static_cast<double>(HALF)) - static_cast<double>(HALF);
            break;
        }
        case K_DISTORT: {
            const double counter = static_cast<double>(slot[1].f) - op.c[1];
            if (counter > 0.0) {
                slot[1].f = static_cast<float>(counter);
                stk[d - 1][i] = static_cast<double>(slot[0].f);
            } else {
                slot[1].f = static_cast<float>(counter + 1.0);
                const double w = waveshapeApply(waveshapeClamp(stk[d - 1][i]), op.c[2]);
                slot[0].f = static_cast<float>(w);
                stk[d - 1][i] = w;
            }
            break;
        }
        case K_DELAY:
            stk[d - 1][i] = delayFrame<SILENT>(s, b, op, b.voiceRecordBase[c.v] + op.recordOffset, stk[d - 1][i], last,
                                               c.changed, c.allZeroPath);
            break;
        case K_POP:
            break;
        case K_ADD_POP:
            stk[d - 2][i] = stk[d - 2][i] + stk[d - 1][i];
            break;
        case K_MUL_POP:
            stk[d - 2][i] = stk[d - 2][i] * stk[d - 1][i];
            break;
        case K_DUP:
            stk[d][i] = stk[d - 1][i];
            break;
        case K_SWAP: {
            const double a = stk[d - 1][i];
            stk[d - 1][i] = stk[d - 2][i];
            stk[d - 2][i] = a;
            break;
        }
        case K_ADD:
            stk[d - 1][i] = stk[d - 1][i] + stk[d - 2][i];
            break;
        case K_MUL:
            stk[d - 1][i] = stk[d - 1][i] * stk[d - 2][i];
            break;
        case K_ADD_PAIRS:
            stk[d - 3][i] = stk[d - 3][i] + stk[d - 1][i];
            stk[d - 4][i] = stk[d - 4][i] + stk[d - 2][i];
            break;
        case K_STORE: {
            const float value = static_cast<float>(stk[d - 1][i] * op.c[0]);
            Word& target = voice.slots[op.flags];
            if (SILENT && last && bitsOf(value) != target.u) c.changed = true;
            target.f = value;
            b.storeValues[op.storeIndex][i] = value;
            break;
        }
        case K_PAN: {
            const double in = stk[d - 1][i];
            const double right = in * (op.c[0] + modValue(c, op.mods[0], i));
            stk[d - 1][i] = right;
            stk[d][i] = in - right;
            break;
        }
        case K_OUTPUT: {
            const double a = stk[d - 1][i];
            const double bb = stk[d - 2][i];
            const double gain = op.c[0] + modValue(c, op.mods[0], i);
            float* words = wordRow(b, c.v)[c.base + i];
            words[0] = static_cast<float>(a * op.c[1]);
            words[1] = static_cast<float>(bb * op.c[1]);
            words[2] = static_cast<float>(a * gain);
            words[3] = static_cast<float>(bb * gain);
            if (SILENT && last && std::memcmp(words, voice.auxOut, 4 * sizeof(float)) != 0) c.changed = true;
            voice.auxOut[0] = words[0];
            voice.auxOut[1] = words[1];
            voice.mainOut[0] = words[2];
            voice.mainOut[1] = words[3];
            break;
        }
        case K_ACCUMULATE: {
            // Only the master chain accumulates in a block plan, after every
            // track voice has run through the block and added its words.
            const std::uint32_t w = op.flags == 8 ? 0 : 2;
            stk[d][i] = b.wordSums[c.base + i][w + 1];
            stk[d + 1][i] = b.wordSums[c.base + i][w];
            break;
        }
        default:
            break;
    }
}

// Kinds that run over a block frame by frame through opFrameOf, and those
// with a loop of their own (routingFrames, delayFrames, oscillatorFrames).
#define FAST_KINDS_OPMAJOR(X) X(K_ENVELOPE) X(K_FILTER) X(K_DISTORT) X(K_POP)
#define FAST_KINDS_ROUTING(X) X(K_PUSH_ZERO) X(K_ADD_POP) X(K_MUL_POP) X(K_DUP) X(K_SWAP) X(K_ADD) X(K_MUL) \
    X(K_ADD_PAIRS) X(K_STORE) X(K_PAN) X(K_OUTPUT) X(K_ACCUMULATE)
#define FAST_KINDS(X) FAST_KINDS_OPMAJOR(X) FAST_KINDS_ROUTING(X) X(K_DELAY) X(K_OSCILLATOR)

template <bool SILENT>
inline void opFrame(BlockContext& c, const FastOp& op, std::uint32_t i, bool last) {
    switch (op.kind) {
#define FAST_CASE(K) \
    case K:          \
        opFrameOf<SILENT, K>(c, op, i, last); \
        break;
        FAST_KINDS(FAST_CASE)
#undef FAST_CASE
        default:
            break;
    }
}


// delayFrames for a block in which every frame takes the full path and no
// line's read or write position wraps: then frame i writes sample
// writePos + i of each line and reads sample writePos + i + m, so the loop
// needs neither the zero-path test nor the wrap tests, and the count of
// +0.0 samples written last in a row is read off the block's writes at its
// end. The same arithmetic, in the same order, as the general loop. Returns
// false (having changed nothing) where the block does not qualify; on true
// the line arrays hold the lines' new positions, damping and zero runs, and
// the phase and DC blocker words are stored.
//
// No frame can take the zero path when some line's zero run stays below its
// length through the block: the run grows by at most one per frame and the
// zero path needs it at the length or more on every line.
template <bool SILENT>
bool delayFramesStraight(BlockContext& c, const FastOp& op, std::uint32_t n, float* const* samples,
                         const std::int32_t* length, std::int32_t* writePos, float* damped, std::uint32_t* zeroRun,
                         std::uint32_t* unwritten) {
    const std::uint32_t lines = op.lines;
    const double depth4 = op.c[6];
    // m = nearbyint((1 + sin) * depth4 * 1024) lies in 0 .. ceil(2 * depth4 * 1024),
    // as 1 + sin lies in 0 .. 2 and the rounding steps are monotonic.
    const double mBound = depth4 != 0.0 ? std::ceil(2.0 * depth4 * static_cast<double>(DELAY_MOD_SCALE)) : 0.0;
    if (!(mBound >= 0.0 && mBound < 65536.0)) return false;
    const std::int32_t mMax = static_cast<std::int32_t>(mBound);
    bool fullThroughout = false;
    for (std::uint32_t l = 0; l < lines; ++l) {
        if (writePos[l] < 0 || writePos[l] + static_cast<std::int32_t>(n) - 1 + mMax >= length[l]) return false;
        if (static_cast<std::uint64_t>(zeroRun[l]) + n <= static_cast<std::uint64_t>(length[l])) fullThroughout = true;
    }
    if (!fullThroughout) return false;

    double* io = c.b.blockStack[op.depthBefore - 1];
    const std::uint32_t first = c.b.voiceRecordBase[c.v] + op.recordOffset;
    DelayHeader& r0 = c.b.header[first];
    DelayHeader& next = c.b.header[first + lines];
    float* from[16];  // each line's sample at its write position
    std::uint32_t zeroBefore[16];  // the zero runs as the block starts
    for (std::uint32_t l = 0; l < lines; ++l) {
        from[l] = samples[l] + writePos[l];
        zeroBefore[l] = zeroRun[l];
    }
    float lfoPhase = r0.lfoPhase;
    float dcPrevIn = next.dcPrevIn;
    float dcPrevOut = next.dcPrevOut;
    const double inputGain = op.c[0];
    const double dry = op.c[1];
    const double feedback = op.c[2];
    const double keep = op.c[3];
    const double damping = op.c[4];
    const double lfoStep = op.c[5];
    for (std::uint32_t i = 0; i < n; ++i) {
        const bool last = i + 1 == n;
        const double in = io[i];
        const double x = in * inputGain * inputGain;
        double out = in * dry;
        const double phase = fmodOne(static_cast<double>(lfoPhase) + lfoStep + 1.0);
        const float phaseStored = static_cast<float>(phase);
        if (SILENT && last && bitsOf(phaseStored) != bitsOf(lfoPhase)) c.changed = true;
        lfoPhase = phaseStored;
        std::int32_t m = 0;
        if (depth4 != 0.0) {
            const double mod = (1.0 + std::sin(TWO_PI * phase)) * depth4 * static_cast<double>(DELAY_MOD_SCALE);
            m = static_cast<std::int32_t>(std::nearbyint(mod));
        }
        const std::int32_t readAt = static_cast<std::int32_t>(i) + m;
        for (std::uint32_t l = 0; l < lines; ++l) {
            const double dl = knownZero(zeroBefore[l], unwritten[l], length[l], readAt) ? 0.0 : from[l][readAt];
            out = out + dl;
            const double f = keep * dl + damping * static_cast<double>(damped[l]);
            damped[l] = static_cast<float>(f);
            from[l][i] = static_cast<float>(x + feedback * f);
        }
        double y = out + (static_cast<double>(DC_COEFF) * static_cast<double>(dcPrevOut) - static_cast<double>(dcPrevIn));
        const float prevIn = static_cast<float>(out);
        y = (y + static_cast<double>(HALF)) - static_cast<double>(HALF);
        const float prevOut = static_cast<float>(y);
        if (SILENT && last && (bitsOf(prevIn) != bitsOf(dcPrevIn) || bitsOf(prevOut) != bitsOf(dcPrevOut)))
            c.changed = true;
        dcPrevIn = prevIn;
        dcPrevOut = prevOut;
        io[i] = y;
    }
    // The block's writes stay in place (no position repeats within it), so
    // the trailing +0.0 writes are still there to count.
    for (std::uint32_t l = 0; l < lines; ++l) {
        std::uint32_t trailing = 0;
        while (trailing < n && bitsOf(from[l][n - 1 - trailing]) == 0) ++trailing;
        zeroRun[l] = trailing == n ? zeroRun[l] + n : trailing;
        unwritten[l] = n < unwritten[l] ? unwritten[l] - n : 0;
        std::int32_t wp = writePos[l] + static_cast<std::int32_t>(n);
        if (wp >= length[l]) wp -= length[l];
        writePos[l] = wp;
    }
    r0.lfoPhase = lfoPhase;
    next.dcPrevIn = dcPrevIn;
    next.dcPrevOut = dcPrevOut;
    if (n > 0) c.allZeroPath = false;
    return true;
}

// A Delay unit through frames 0 .. n - 1 of the run, its lines' positions
// and damping and its DC blocker kept in registers between frames (no other
// unit touches them while it runs). The same arithmetic as opFrameOf.
template <bool SILENT>
void delayFrames(BlockContext& c, const FastOp& op, std::uint32_t n) {
    constexpr std::uint32_t MAX_LINES = 16;
    if (op.lines > MAX_LINES) {
        for (std::uint32_t i = 0; i < n; ++i) opFrameOf<SILENT, K_DELAY>(c, op, i, i + 1 == n);
        return;
    }
    FastBook& b = c.b;
    SynthState& s = c.s;
    double* io = c.b.blockStack[op.depthBefore - 1];
    const std::uint32_t first = b.voiceRecordBase[c.v] + op.recordOffset;
    const std::uint32_t lines = op.lines;
    float* samples[MAX_LINES];
    std::int32_t length[MAX_LINES];
    std::int32_t writePos[MAX_LINES];
    float damped[MAX_LINES];
    std::uint32_t zeroRun[MAX_LINES];
    std::uint32_t unwritten[MAX_LINES];
    for (std::uint32_t l = 0; l < lines; ++l) {
        DelayHeader& line = b.header[first + l];
        samples[l] = s.delayPool[first + l].samples;
        length[l] = static_cast<std::int32_t>(b.recordLength[first + l]);
        writePos[l] = line.writePos;
        damped[l] = line.damped;
        zeroRun[l] = b.zeroRun[first + l];
        unwritten[l] = b.unwritten[first + l];
    }
    DelayHeader& r0 = c.b.header[first];
    DelayHeader& next = c.b.header[first + lines];
    float lfoPhase = r0.lfoPhase;
    float dcPrevIn = next.dcPrevIn;
    float dcPrevOut = next.dcPrevOut;
    const double inputGain = op.c[0];
    const double dry = op.c[1];
    const double feedback = op.c[2];
    const double keep = op.c[3];
    const double damping = op.c[4];
    const double lfoStep = op.c[5];
    const double depth4 = op.c[6];
    if (n > 0 && delayFramesStraight<SILENT>(c, op, n, samples, length, writePos, damped, zeroRun, unwritten)) {
        for (std::uint32_t l = 0; l < lines; ++l) {
            DelayHeader& line = b.header[first + l];
            line.writePos = writePos[l];
            line.damped = damped[l];
            b.zeroRun[first + l] = zeroRun[l];
            b.unwritten[first + l] = unwritten[l];
        }
        b.counters.delayFull += n;
        return;
    }
    std::uint64_t zeroFrames = 0;
    for (std::uint32_t i = 0; i < n; ++i) {
        const bool last = i + 1 == n;
        const double in = io[i];
        const double x = in * inputGain * inputGain;
        double out = in * dry;
        const double phase = fmodOne(static_cast<double>(lfoPhase) + lfoStep + 1.0);
        const float phaseStored = static_cast<float>(phase);
        if (SILENT && last && bitsOf(phaseStored) != bitsOf(lfoPhase)) c.changed = true;
        lfoPhase = phaseStored;
        bool zero = x == 0.0;
        if (zero)
            for (std::uint32_t l = 0; l < lines; ++l)
                if (zeroRun[l] < static_cast<std::uint32_t>(length[l]) || !isPositiveZero(damped[l])) {
                    zero = false;
                    break;
                }
        if (zero) {
            out = out + 0.0;
            for (std::uint32_t l = 0; l < lines; ++l) {
                std::int32_t wp = writePos[l] + 1;
                if (wp >= length[l]) wp -= length[l];
                writePos[l] = wp;
                ++zeroRun[l];
                if (unwritten[l]) --unwritten[l];
            }
            ++zeroFrames;
        } else {
            if (last) c.allZeroPath = false;
            std::int32_t m = 0;
            if (depth4 != 0.0) {
                const double mod = (1.0 + std::sin(TWO_PI * phase)) * depth4 * static_cast<double>(DELAY_MOD_SCALE);
                m = static_cast<std::int32_t>(std::nearbyint(mod));
            }
            for (std::uint32_t l = 0; l < lines; ++l) {
                const std::int32_t wp = writePos[l];
                std::int32_t readPos = wp + m;
                if (readPos >= length[l]) readPos -= length[l];
                const double dl = knownZero(zeroRun[l], unwritten[l], length[l], m) ? 0.0 : samples[l][readPos];
                out = out + dl;
                const double f = keep * dl + damping * static_cast<double>(damped[l]);
                damped[l] = static_cast<float>(f);
                const float written = static_cast<float>(x + feedback * f);
                samples[l][wp] = written;
                zeroRun[l] = bitsOf(written) == 0 ? zeroRun[l] + 1 : 0;
                if (unwritten[l]) --unwritten[l];
                writePos[l] = wp + 1 >= length[l] ? wp + 1 - length[l] : wp + 1;
            }
        }
        double y = out + (static_cast<double>(DC_COEFF) * static_cast<double>(dcPrevOut) - static_cast<double>(dcPrevIn));
        const float prevIn = static_cast<float>(out);
        y = (y + static_cast<double>(HALF)) - static_cast<double>(HALF);
        const float prevOut = static_cast<float>(y);
        if (SILENT && last && (bitsOf(prevIn) != bitsOf(dcPrevIn) || bitsOf(prevOut) != bitsOf(dcPrevOut)))
            c.changed = true;
        dcPrevIn = prevIn;
        dcPrevOut = prevOut;
        io[i] = y;
    }
    for (std::uint32_t l = 0; l < lines; ++l) {
        DelayHeader& line = b.header[first + l];
        line.writePos = writePos[l];
        line.damped = damped[l];
        b.zeroRun[first + l] = zeroRun[l];
        b.unwritten[first + l] = unwritten[l];
    }
    r0.lfoPhase = lfoPhase;
    next.dcPrevIn = dcPrevIn;
    next.dcPrevOut = dcPrevOut;
    b.counters.delayZero += zeroFrames;
    b.counters.delayFull += n - zeroFrames;
}


// An Oscillator through frames 0 .. n - 1 of the run when no Store of the
// chain writes its modulation inputs before it: they stand still through
// the block, so the step, the waveshaper's gain and the sums with them are
// formed once (the same values as frame by frame), and the phase stays in a
// register.
template <bool SILENT>
void oscillatorFrames(BlockContext& c, const FastOp& op, std::uint32_t n) {
    for (std::uint32_t m = 0; m < 6; ++m)
        if (op.mods[m].store >= 0) {
            for (std::uint32_t i = 0; i < n; ++i) opFrameOf<SILENT, K_OSCILLATOR>(c, op, i, i + 1 == n);
            return;
        }
    FastBook& b = c.b;
    Voice& voice = c.voice;
    Word* slot = &voice.slots[op.slot];
    double* out = b.blockStack[op.depthBefore];
    PitchCache& cache = b.pitch[b.pitchBase[c.v] + op.oscillator];
    const float transposeMod = voice.slots[op.mods[0].word].f;
    const float detuneMod = voice.slots[op.mods[1].word].f;
    if (!cache.valid || cache.transposeMod != bitsOf(transposeMod) || cache.detuneMod != bitsOf(detuneMod) ||
        cache.note != voice.note) {
        double t = (op.c[0] + static_cast<double>(transposeMod)) * 128.0 + op.c[1] + static_cast<double>(detuneMod);
        if (!(op.flags & OSC_LFO)) t += static_cast<double>(voice.note);
        cache.step = pow2(t * static_cast<double>(ONE_TWELFTH)) * op.c[6];
        cache.transposeMod = bitsOf(transposeMod);
        cache.detuneMod = bitsOf(detuneMod);
        cache.note = voice.note;
        cache.valid = 1;
    }
    const double step = cache.step;
    const double phaseMod = voice.slots[op.mods[2].word].f;
    const double phaseShift = op.c[2];
    const double breakpoint = op.c[3] + static_cast<double>(voice.slots[op.mods[3].word].f);
    const float shapeMod = voice.slots[op.mods[4].word].f;
    const double g = (bitsOf(shapeMod) & 0x7FFFFFFFu) == 0 ? op.c[7]
                                                           : waveshapeGain(op.c[4] + static_cast<double>(shapeMod));
    const double gain = op.c[5] + static_cast<double>(voice.slots[op.mods[5].word].f);
    float phaseStored = slot[0].f;
    const std::uint8_t flags = op.flags;
    for (std::uint32_t i = 0; i < n; ++i) {
        const double phase = fmodOne(static_cast<double>(phaseStored) + step + 1.0);
        phaseStored = static_cast<float>(phase);
        const double x = fmodOne(phase + phaseMod + phaseShift + 1.0);
        double w;
        if (flags & OSC_SINE) {
            w = std::sin(TWO_PI * x);
        } else if (flags & OSC_TRISAW) {
            if (x <= breakpoint) {
                w = breakpoint == 0.0 ? -1.0 : 2.0 * x / breakpoint - 1.0;
            } else {
                w = 2.0 * (1.0 - x) / (1.0 - breakpoint) - 1.0;
            }
        } else if (flags & OSC_PULSE) {
            w = x <= breakpoint ? 1.0 : -1.0;
        } else if (flags & OSC_NOISE) {
            w = nextNoise(c.s.noiseSeed);
        } else {
            w = 0.0;
        }
        w = waveshapeClamp(w);
        if (g != 0.0) w = waveshapeApply(w, g);
        out[i] = w * gain;
    }
    slot[0].f = phaseStored;
}

// The stack, Store, Pan, Output and Accumulate units through frames 0 .. n - 1 of the
// run, with their rows of the block stack and their constants taken once:
// the same arithmetic as opFrameOf. A Store's target word and a
// voice's output words take the last frame's values (nothing reads them
// while the unit runs); the change test compares the last frame's values
// with those of the frame before, as frame by frame.
template <bool SILENT>
void routingFrames(BlockContext& c, const FastOp& op, std::uint32_t n) {
    if (n == 0) return;
    FastBook& b = c.b;
    auto& stk = b.blockStack;
    const std::uint32_t d = op.depthBefore;
    // A modulation input's values: a Store's row, or the word, which stays
    // put while the unit runs.
    const auto modRow = [&](const ModRef& ref) -> const float* {
        return ref.store >= 0 ? b.storeValues[ref.store] : nullptr;
    };
    switch (op.kind) {
        case K_PUSH_ZERO: {
            double* top = stk[d];
            for (std::uint32_t i = 0; i < n; ++i) top[i] = 0.0;
            break;
        }
        case K_ADD_POP: {
            double* under = stk[d - 2];
            const double* top = stk[d - 1];
            for (std::uint32_t i = 0; i < n; ++i) under[i] = under[i] + top[i];
            break;
        }
        case K_MUL_POP: {
            double* under = stk[d - 2];
            const double* top = stk[d - 1];
            for (std::uint32_t i = 0; i < n; ++i) under[i] = under[i] * top[i];
            break;
        }
        case K_DUP: {
            double* above = stk[d];
            const double* top = stk[d - 1];
            for (std::uint32_t i = 0; i < n; ++i) above[i] = top[i];
            break;
        }
        case K_SWAP: {
            double* top = stk[d - 1];
            double* under = stk[d - 2];
            for (std::uint32_t i = 0; i < n; ++i) {
                const double a = top[i];
                top[i] = under[i];
                under[i] = a;
            }
            break;
        }
        case K_ADD: {
            double* top = stk[d - 1];
            const double* under = stk[d - 2];
            for (std::uint32_t i = 0; i < n; ++i) top[i] = top[i] + under[i];
            break;
        }
        case K_MUL: {
            double* top = stk[d - 1];
            const double* under = stk[d - 2];
            for (std::uint32_t i = 0; i < n; ++i) top[i] = top[i] * under[i];
            break;
        }
        case K_ADD_PAIRS: {
            double* third = stk[d - 3];
            double* fourth = stk[d - 4];
            const double* top = stk[d - 1];
            const double* second = stk[d - 2];
            for (std::uint32_t i = 0; i < n; ++i) {
                third[i] = third[i] + top[i];
                fourth[i] = fourth[i] + second[i];
            }
            break;
        }
        case K_STORE: {
            const double* top = stk[d - 1];
            float* values = b.storeValues[op.storeIndex];
            const double scale = op.c[0];
            for (std::uint32_t i = 0; i < n; ++i) values[i] = static_cast<float>(top[i] * scale);
            Word& target = c.voice.slots[op.flags];
            const std::uint32_t before = n >= 2 ? bitsOf(values[n - 2]) : target.u;
            if (SILENT && bitsOf(values[n - 1]) != before) c.changed = true;
            target.f = values[n - 1];
            break;
        }
        case K_PAN: {
            double* top = stk[d - 1];
            double* above = stk[d];
            const float* mod = modRow(op.mods[0]);
            if (mod) {
                for (std::uint32_t i = 0; i < n; ++i) {
                    const double in = top[i];
                    const double right = in * (op.c[0] + static_cast<double>(mod[i]));
                    top[i] = right;
                    above[i] = in - right;
                }
            } else {
                const double gain = op.c[0] + static_cast<double>(c.voice.slots[op.mods[0].word].f);
                for (std::uint32_t i = 0; i < n; ++i) {
                    const double in = top[i];
                    const double right = in * gain;
                    top[i] = right;
                    above[i] = in - right;
                }
            }
            break;
        }
        case K_OUTPUT: {
            const double* top = stk[d - 1];
            const double* under = stk[d - 2];
            const float* mod = modRow(op.mods[0]);
            const double word = static_cast<double>(c.voice.slots[op.mods[0].word].f);
            const double aux = op.c[1];
            float(*words)[4] = &wordRow(b, c.v)[c.base];
            for (std::uint32_t i = 0; i < n; ++i) {
                const double a = top[i];
                const double bb = under[i];
                const double gain = op.c[0] + (mod ? static_cast<double>(mod[i]) : word);
                words[i][0] = static_cast<float>(a * aux);
                words[i][1] = static_cast<float>(bb * aux);
                words[i][2] = static_cast<float>(a * gain);
                words[i][3] = static_cast<float>(bb * gain);
            }
            Voice& voice = c.voice;
            const float* before = n >= 2 ? words[n - 2] : voice.auxOut;
            if (SILENT && std::memcmp(words[n - 1], before, 4 * sizeof(float)) != 0) c.changed = true;
            voice.auxOut[0] = words[n - 1][0];
            voice.auxOut[1] = words[n - 1][1];
            voice.mainOut[0] = words[n - 1][2];
            voice.mainOut[1] = words[n - 1][3];
            break;
        }
        case K_ACCUMULATE: {
            // Only the master chain accumulates in a block plan, after every
            // track voice has run through the block and added its words to
            // the sums, in voice order (addWords).
            double* right = stk[d];
            double* left = stk[d + 1];
            const std::uint32_t w = op.flags == 8 ? 0 : 2;
            for (std::uint32_t i = 0; i < n; ++i) {
                left[i] = b.wordSums[c.base + i][w];
                right[i] = b.wordSums[c.base + i][w + 1];
            }
            break;
        }
        default:
            break;
    }
}

// One unit through frames 0 .. n - 1 of the run.
template <bool SILENT>
inline void opFrames(BlockContext& c, const FastOp& op, std::uint32_t n) {
    switch (op.kind) {
        case K_OSCILLATOR:
            oscillatorFrames<SILENT>(c, op, n);
            break;
        case K_DELAY:
            delayFrames<SILENT>(c, op, n);
            break;
#define FAST_ROUTING_CASE(K) case K:
        FAST_KINDS_ROUTING(FAST_ROUTING_CASE)
#undef FAST_ROUTING_CASE
            routingFrames<SILENT>(c, op, n);
            break;
#define FAST_CASE(K)                                                                  \
    case K:                                                                           \
        for (std::uint32_t i = 0; i + 1 < n; ++i) opFrameOf<SILENT, K>(c, op, i, false); \
        if (n) opFrameOf<SILENT, K>(c, op, n - 1, true);                               \
        break;
        FAST_KINDS_OPMAJOR(FAST_CASE)
#undef FAST_CASE
        default:
            break;
    }
}

// Runs a planned program over frames base .. base + n - 1 of the block.
// A sounding run stops after the frame in which the first unit's Envelope is
// done; returns the number of frames run.
template <bool SILENT>
std::uint32_t runPlan(BlockContext& c, const FastProgram& p, std::uint32_t n) {
    for (std::uint32_t st = 0; st < p.stepCount; ++st) {
        const BlockStep& step = stepsOf(c.b, p)[st];
        const bool firstStep = !SILENT && p.endsNotes && st == 0;
        if (!step.frameByFrame) {
            const FastOp& op = opsOf(c.b, p)[step.first];
            if (firstStep) {
                for (std::uint32_t i = 0; i < n; ++i) {
                    opFrame<SILENT>(c, op, i, i + 1 == n);
                    if ((c.voice.slots[0].u & 0xFFu) == DONE) {
                        n = i + 1;
                        break;
                    }
                }
            } else {
                opFrames<SILENT>(c, op, n);
            }
        } else {
            for (std::uint32_t i = 0; i < n; ++i) {
                for (std::uint32_t k = 0; k < step.copyCount; ++k)
                    c.voice.slots[step.copies[k].word].f = c.b.storeValues[step.copies[k].store][i];
                for (std::uint32_t k = step.first; k <= step.last; ++k) opFrame<SILENT>(c, opsOf(c.b, p)[k], i, i + 1 == n);
                if (firstStep && (c.voice.slots[0].u & 0xFFu) == DONE) {
                    n = i + 1;
                    break;
                }
            }
        }
    }
    if (!p.hasOutput)
        for (std::uint32_t i = 0; i < n; ++i) keepWords(c.b, c.voice, c.v, c.base + i);
    return n;
}

// Adds voice v's words of frames 0 .. n - 1 of the block to the master's
// sums. A voice that stayed quiet through the block with words of zero adds
// nothing (the sums start at +0.0, and adding a zero to them changes no
// bit), so it is left out.
void addWords(FastBook& b, const Voice& voice, std::uint32_t v, std::uint32_t n) {
    if (b.quietThroughBlock[v]) {
        const double words[4] = {voice.auxOut[0], voice.auxOut[1], voice.mainOut[0], voice.mainOut[1]};
        if (words[0] == 0.0 && words[1] == 0.0 && words[2] == 0.0 && words[3] == 0.0) return;
        for (std::uint32_t i = 0; i < n; ++i)
            for (std::uint32_t k = 0; k < 4; ++k) b.wordSums[i][k] += words[k];
        return;
    }
    const float(*row)[4] = wordRow(b, v);
    for (std::uint32_t i = 0; i < n; ++i)
        for (std::uint32_t k = 0; k < 4; ++k) b.wordSums[i][k] += static_cast<double>(row[i][k]);
}

// Runs track voice v through frames first .. first + n - 1 (one block).
void runVoiceBlock(SynthState& s, FastBook& b, const FastInstrument& inst, std::uint32_t v, std::uint32_t first,
                   std::uint32_t n) {
    Voice& voice = s.voices[v];
    std::uint32_t i = 0;
    while (i < n) {
        if (voice.note != 0) {
            if (b.quiet[v]) {
                catchUp(b, v, first + i);
                b.quiet[v] = false;
            }
            if (!inst.sounding.planUsable) {
                runTrackVoiceFrame(s, b, inst, v, first + i);
                keepWords(b, voice, v, i);
                ++i;
                continue;
            }
            BlockContext c{s, b, voice, v, i, false, true};
            i += runPlan<false>(c, inst.sounding, n - i);
            if ((voice.slots[0].u & 0xFFu) == DONE) voice.note = 0;  // end of note
        } else if (b.quiet[v]) {
            b.counters.skippedRuns += n - i;
            if (i == 0 && b.sumWords) {
                // Its words stand still: addWords takes them as they stand.
                b.quietThroughBlock[v] = true;
                i = n;
            }
            for (; i < n; ++i) keepWords(b, voice, v, i);
        } else if (!inst.silent.planUsable) {
            runTrackVoiceFrame(s, b, inst, v, first + i);
            keepWords(b, voice, v, i);
            ++i;
        } else {
            BlockContext c{s, b, voice, v, i, false, true};
            const std::uint32_t count = runPlan<true>(c, inst.silent, n - i);
            b.counters.silentRuns += count;
            i += count;
            if (!c.changed && c.allZeroPath && inst.canBeQuiet) {
                b.quiet[v] = true;
                b.quietSince[v] = first + i;
            }
        }
    }
}

}  // namespace

std::uint32_t renderSongFramesFast(SynthState& s, StereoFrame* out, std::uint32_t frameCount,
                                   std::atomic<std::uint32_t>* progress) {
    if (!s.fastValid) {
        buildBook(s);
        s.fastValid = true;
    }
    FastBook& b = book(s);
    if (!b.usable) {
        const std::uint32_t rendered = renderSongFramesReference(s, out, frameCount, progress);
        s.fastValid = true;  // nothing in the book depends on the state while unusable
        return rendered;
    }
    // The record headers: zero in an untouched state's book already.
    if (!s.untouched) loadHeaders(s, b);
    // From an untouched state every voice starts silent but not yet known
    // to be quiet; a short first block finds the quiet ones before they run
    // a whole block each, and publishes the first frames sooner.
    std::uint32_t blockFrames = s.untouched ? FAST_FIRST_BLOCK_FRAMES : FAST_BLOCK_FRAMES;
    s.untouched = false;
    std::uint32_t rendered = 0;
    Voice& master = s.voices[MASTER_VOICE];
    const FastInstrument& masterInstrument = b.instruments[TRACKS];
    while (rendered < frameCount && s.nextFrame < SONG_FRAMES) {
        const std::uint32_t first = s.nextFrame;
        const std::uint32_t tick = first / SAMPLES_PER_TICK;
        const std::uint32_t inTick = first % SAMPLES_PER_TICK;
        // A block: up to FAST_BLOCK_FRAMES frames within one Tick.
        std::uint32_t count = SAMPLES_PER_TICK - inTick;
        if (count > blockFrames) count = blockFrames;
        blockFrames = FAST_BLOCK_FRAMES;
        if (count > frameCount - rendered) count = frameCount - rendered;
        if (inTick == 0)
            for (std::uint32_t t = 0; t < TRACKS; ++t) fetchTrackNote(s, t, tick);
        if (b.blockMode) {
            // Voices that draw noise share the seed in frame order: while two
            // or more of them sound they run frame by frame, in voice order.
            // A silent voice draws nothing, and one sounding voice alone
            // draws in frame order anyway.
            std::uint32_t noisy = 0;
            for (std::uint32_t v = 0; v < TRACK_VOICES; ++v)
                if (b.drawsNoise[v / 2] && s.voices[v].note != 0) ++noisy;
            // The master chain draws after all track voices of its frame.
            const bool interleave = noisy >= 2 || (noisy == 1 && b.masterDrawsNoise);
            bool deferred[TRACK_VOICES] = {};
            std::uint32_t firstDeferred = TRACK_VOICES;
            for (std::uint32_t v = 0; v < TRACK_VOICES; ++v) {
                deferred[v] = interleave && b.drawsNoise[v / 2] && s.voices[v].note != 0;
                if (deferred[v] && firstDeferred == TRACK_VOICES) firstDeferred = v;
            }
            // The master adds the voices' words up while they run when it
            // runs its plan over the block; a voice's words are added once
            // all voices before it are (a deferred voice runs last).
            b.sumWords = masterInstrument.sounding.planUsable && !b.masterDrawsNoise;
            for (std::uint32_t v = 0; v < TRACK_VOICES; ++v) b.ownRow[v] = !b.sumWords || v >= firstDeferred;
            b.ownRow[MASTER_VOICE] = false;
            if (b.sumWords)
                for (std::uint32_t i = 0; i < count; ++i)
                    for (std::uint32_t k = 0; k < 4; ++k) b.wordSums[i][k] = 0.0;
            for (std::uint32_t v = 0; v < TRACK_VOICES; ++v) {
                b.quietThroughBlock[v] = false;
                if (deferred[v]) continue;
                runVoiceBlock(s, b, b.instruments[v / 2], v, first, count);
                if (b.sumWords && v < firstDeferred) addWords(b, s.voices[v], v, count);
            }
            auto runDeferred = [&](std::uint32_t i) {
                for (std::uint32_t v = 0; v < TRACK_VOICES; ++v) {
                    if (!deferred[v]) continue;
                    runTrackVoiceFrame(s, b, b.instruments[v / 2], v, first + i);
                    keepWords(b, s.voices[v], v, i);
                }
            };
            master.note = TRACKS;
            if (masterInstrument.sounding.planUsable && !b.masterDrawsNoise) {
                if (interleave) {
                    for (std::uint32_t i = 0; i < count; ++i) runDeferred(i);
                    for (std::uint32_t v = firstDeferred; v < TRACK_VOICES; ++v) addWords(b, s.voices[v], v, count);
                }
                BlockContext c{s, b, master, MASTER_VOICE, 0, false, true};
                runPlan<false>(c, masterInstrument.sounding, count);
                const float(*masterWords)[4] = wordRow(b, MASTER_VOICE);
                for (std::uint32_t i = 0; i < count; ++i) {
                    const float left = masterWords[i][2];
                    const float right = masterWords[i][3];
                    if (!std::isfinite(left) || !std::isfinite(right)) ++b.counters.nonFiniteOutputs;
                    out[rendered].left = clipSample(left);
                    out[rendered].right = clipSample(right);
                    ++rendered;
                    s.nextFrame = first + i + 1;
                    if (progress) progress->store(s.nextFrame, std::memory_order_release);
                }
            } else {
                for (std::uint32_t i = 0; i < count; ++i) {
                    if (interleave) runDeferred(i);
                    runProgram<false>(s, b, masterInstrument.sounding, master, MASTER_VOICE, &b.blockWords[0][i][0]);
                    if (!std::isfinite(master.mainOut[0]) || !std::isfinite(master.mainOut[1])) ++b.counters.nonFiniteOutputs;
                out[rendered].left = clipSample(master.mainOut[0]);
                    out[rendered].right = clipSample(master.mainOut[1]);
                    ++rendered;
                    s.nextFrame = first + i + 1;
                    if (progress) progress->store(s.nextFrame, std::memory_order_release);
                }
            }
        } else {
            for (std::uint32_t i = 0; i < count; ++i) {
                const std::uint32_t frame = first + i;
                for (std::uint32_t v = 0; v < TRACK_VOICES; ++v) runTrackVoiceFrame(s, b, b.instruments[v / 2], v, frame);
                master.note = TRACKS;
                runProgram<false>(s, b, masterInstrument.sounding, master, MASTER_VOICE);
                if (!std::isfinite(master.mainOut[0]) || !std::isfinite(master.mainOut[1])) ++b.counters.nonFiniteOutputs;
                out[rendered].left = clipSample(master.mainOut[0]);
                out[rendered].right = clipSample(master.mainOut[1]);
                ++rendered;
                s.nextFrame = frame + 1;
                if (progress) progress->store(s.nextFrame, std::memory_order_release);
            }
        }
    }
    b.counters.voiceRuns += static_cast<std::uint64_t>(rendered) * VOICE_COUNT;
    // Leave the state as the reference loop would: quiet voices' write
    // positions moved on, the machine registers past the master chain.
    for (std::uint32_t v = 0; v < TRACK_VOICES; ++v)
        if (b.quiet[v]) catchUp(b, v, s.nextFrame);
    if (rendered > 0) {
        storeHeaders(s, b);
        s.commandPos = masterInstrument.commandEnd;
        s.parameterPos = masterInstrument.parameterEnd;
        s.delayCursor = b.totalLines;
    }
    return rendered;
}

FastCounters fastCounters(const SynthState& s) {
    if (!s.fastValid) return {};
    return book(s).counters;
}
