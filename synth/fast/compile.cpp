// The fast loop's book, built from the song and the state: each instrument
// decoded once into a sounding and a silent program with their constants
// precomputed, the block plan of each program (which units keep frame order
// among themselves), the delay records' lengths and zero runs.
#include "fast_book.h"

namespace fast {

namespace {

// The pass that decodes the song's instruments into the book: the read
// positions in the command and parameter streams, and the delay records
// that the instruments decoded so far take.
struct DecodePass {
    const SongData& song;
    Book& b;
    std::uint32_t commandPos;
    std::uint32_t parameterPos;
    std::uint32_t lineTotal;
};

// A unit as the streams hold it: its opcode, its parameter bytes and their
// values as the unit machine loads them (through float).
struct Unit {
    std::uint8_t opcode;
    const std::uint8_t* raw;
    double p[8];
    std::uint8_t last;  // the last parameter byte: flags, Store target, stack operation, Accumulate source
};

// Reads the next unit and moves the read positions past it; false if the
// streams end within it. OP_END comes without parameters.
bool readUnit(DecodePass& pass, Unit& u) {
    const SongData& song = pass.song;
    if (pass.commandPos >= song.commandsSize) return false;
    u.opcode = song.commands[pass.commandPos++];
    if (u.opcode == OP_END) return true;
    const std::uint32_t count = unitParamCount(u.opcode);
    if (pass.parameterPos + count > song.parametersSize) return false;
    u.raw = song.parameters + pass.parameterPos;
    pass.parameterPos += count;
    for (std::uint32_t i = 0; i < 8; ++i) u.p[i] = i < count ? static_cast<float>(u.raw[i]) * PARAM_SCALE : 0.0;
    u.last = count ? u.raw[count - 1] : 0;
    return true;
}

EnvelopeConstants envelopeConstants(const double* p) {
    return {.attackRate = envelopeRate(p[0]),
            .decayRate = envelopeRate(p[1]),
            .sustain = p[2],
            .releaseRate = envelopeRate(p[3]),
            .gain = p[4]};
}

OscillatorConstants oscillatorConstants(const double* p) {
    return {.transposeOffset = p[0] - static_cast<double>(HALF),
            .detune = (p[1] - static_cast<double>(HALF)) * 2.0,
            .phaseShift = p[2],
            .color = p[3],
            .shape = p[4],
            .gain = p[5],
            .shaperGain = waveshapeGain(p[4])};
}

// A Delay: its constants, and its lines (DelayTimeTable entries from the
// seventh parameter byte on, as many as the eighth says), which follow
// those of the instrument's Delays before it. False if the table does not
// hold them, a line is not longer than the largest read offset, or the
// records would not fit in the pool.
bool decodeDelay(const DecodePass& pass, const Unit& u, Instrument& out, Op& op) {
    const std::uint32_t timeIndex = u.raw[6];
    const std::uint32_t lineCount = u.raw[7];
    if (lineCount == 0 || timeIndex + lineCount > pass.song.delayTimesSize) return false;
    const double* p = u.p;
    const double rate2 = p[4] * p[4];
    const double depth2 = p[5] * p[5];
    op.kind = K_DELAY;
    op.lines = static_cast<std::uint8_t>(lineCount);
    op.recordOffset = static_cast<std::uint16_t>(out.lines);
    op.timeIndex = static_cast<std::uint8_t>(timeIndex);
    op.delay = {.inputGain = p[0],
                .dry = p[1],
                .feedback = p[2],
                .keep = 1.0 - p[3],
                .damping = p[3],
                .lfoStep = rate2 * rate2 / static_cast<double>(DELAY_MOD_SCALE),
                .depth = depth2 * depth2};
    // The largest read offset: the line must be longer (the reference reads
    // never-written zeros beyond it).
    const double maxMod = 2.0 * op.delay.depth * static_cast<double>(DELAY_MOD_SCALE);
    for (std::uint32_t i = 0; i < lineCount; ++i) {
        const std::uint32_t length = pass.song.delayTimes[timeIndex + i];
        if (length == 0 || !(maxMod + 1.0 < static_cast<double>(length))) return false;
        if (pass.lineTotal + out.lines + i >= DELAY_POOL_RECORDS) return false;
    }
    out.lines += lineCount;
    return true;
}

// What a unit comes to in the sounding program.
enum class Decoded { OP, NOTHING, BROKEN };

// Decodes a unit into `op` (its kind, flags and constants), counting what
// the instrument learns from it. NOTHING: a unit that does nothing (Nop,
// opcodes above 11, which run as Nop, and a StackOp without an operation).
Decoded decodeUnit(const DecodePass& pass, const Unit& u, Instrument& out, Op& op) {
    const double* p = u.p;
    switch (u.opcode) {
        case OP_ENVELOPE:
            op.kind = K_ENVELOPE;
            op.env = envelopeConstants(p);
            break;
        case OP_OSCILLATOR:
            op.kind = K_OSCILLATOR;
            op.flags = u.last;
            op.oscillator = static_cast<std::uint8_t>(out.oscillators++);
            op.osc = oscillatorConstants(p);
            break;
        case OP_FILTER:
            op.kind = K_FILTER;
            op.flags = u.last;
            op.filter = {.frequency = p[0], .resonance = p[1]};
            break;
        case OP_DISTORT:
            op.kind = K_DISTORT;
            op.distort = {.drive = p[0], .holdSquared = p[1] * p[1], .shaperGain = waveshapeGain(p[0])};
            break;
        case OP_DELAY:
            if (!decodeDelay(pass, u, out, op)) return Decoded::BROKEN;
            break;
        case OP_STACKOP:
            if (!isStackOperation(u.last)) return Decoded::NOTHING;
            op.kind = kindOfStackOperation(u.last);
            break;
        case OP_STORE:
            op.kind = K_STORE;
            op.flags = u.last;
            op.store = {.factor = (p[0] - static_cast<double>(HALF)) * 2.0};
            break;
        case OP_PAN:
            op.kind = K_PAN;
            op.pan = {.position = p[0]};
            break;
        case OP_OUTPUT:
            op.kind = K_OUTPUT;
            op.output = {.gain = p[0], .auxGain = p[1]};
            break;
        case OP_ACCUMULATE:
            op.kind = K_ACCUMULATE;
            op.flags = u.last;
            out.canBeQuiet = false;
            break;
        default:
            return Decoded::NOTHING;
    }
    return Decoded::OP;
}

// The silent program (note 0), after the sounding one: Envelope and
// Oscillator push 0.0, Filter and Distort leave the top value alone; the
// others run as usual.
void addSilentProgram(Book& b, Instrument& out) {
    const Op* sounding = opsOf(b, out.sounding);
    out.silent.opBase = b.opCount;
    Op* silent = b.ops + b.opCount;
    for (std::uint32_t k = 0; k < out.sounding.count; ++k) {
        const Op& op = sounding[k];
        if (op.kind == K_FILTER || op.kind == K_DISTORT) continue;
        Op& copy = silent[out.silent.count++];
        copy = op;
        if (op.kind == K_ENVELOPE || op.kind == K_OSCILLATOR) copy.kind = K_PUSH_ZERO;
    }
    b.opCount += out.silent.count;
}

// Decodes the next instrument into `out` (zero: the book is built from
// zero) and its sounding and silent programs; false if it breaks a rule
// that the fast loop relies on.
bool compileInstrument(DecodePass& pass, Instrument& out, bool isMaster) {
    Book& b = pass.b;
    out.canBeQuiet = !isMaster;
    out.sounding.opBase = b.opCount;
    Op* sounding = b.ops + b.opCount;
    std::uint32_t depth = 0;
    // k: the unit's place in the chain, which gives its UnitSlot.
    for (std::uint32_t k = 0;; ++k) {
        Unit u;
        if (!readUnit(pass, u)) return false;
        if (u.opcode == OP_END) break;
        if (k >= MAX_UNITS) return false;
        Op op{};
        op.slot = static_cast<std::uint16_t>(k * SLOT_WORDS);
        const Decoded decoded = decodeUnit(pass, u, out, op);
        if (decoded == Decoded::BROKEN) return false;
        if (decoded == Decoded::NOTHING) continue;
        const StackEffect effect = unitStackEffect(u.opcode, u.last);
        if (depth < effect.pops) return false;
        depth = depth - effect.pops + effect.pushes;
        if (depth > STACK_CAPACITY) return false;
        op.depthAfter = static_cast<std::uint8_t>(depth);
        sounding[out.sounding.count++] = op;
    }
    if (depth != 0) return false;
    b.opCount += out.sounding.count;
    addSilentProgram(b, out);
    out.commandEnd = pass.commandPos;
    out.parameterEnd = pass.parameterPos;
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

// Ties operations into runs that go frame by frame: tiedTo[k] is the last
// operation that operation k is tied to (k itself when none). `at` holds the
// program index of the unit at each chain position, -1 where it is not in
// the program. False where a Store writes into a unit's state, which no
// block plan can follow.
bool tieOperations(const Op* ops, std::uint32_t n, const int* at, std::uint32_t* tiedTo) {
    // Runs of operations tied by Stores into earlier units.
    for (std::uint32_t k = 0; k < n; ++k) tiedTo[k] = k;
    for (std::uint32_t j = 0; j < n; ++j) {
        const Op& store = ops[j];
        if (store.kind != K_STORE) continue;
        const int r = at[store.flags / SLOT_WORDS];
        if (r < 0) continue;  // a word of a unit not in this program: nothing reads it
        const std::uint32_t word = store.flags % SLOT_WORDS;
        const Op& reader = ops[r];
        if (isStateWord(reader.kind, word)) return false;  // a Store into a unit's state
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
    return true;
}

// Sets each operation's modulation inputs in the plan; false where a
// frame-by-frame step would need more copies of earlier Stores than it holds.
bool planModulation(Op* ops, std::uint32_t n, BlockStep* steps, const std::uint32_t* stepOf) {
    // Modulation inputs: the values of the last Store before the reader, or
    // the word itself when that Store runs in the same frame-by-frame step.
    for (std::uint32_t k = 0; k < n; ++k) {
        Op& op = ops[k];
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
                    if (step.copyCount == 16) return false;
                    step.copies[step.copyCount++] = ModRef{ops[lastBeforeStep].storeIndex, static_cast<std::uint8_t>(word)};
                }
            }
        }
    }
    return true;
}

// Builds the block plan of a program (run by runPlan, block_runner.cpp).
void planProgram(Book& b, Program& p, bool sounding) {
    p.planUsable = false;
    p.endsNotes = sounding;
    p.hasOutput = false;
    p.stores = 0;
    p.stepBase = b.stepCount;
    p.stepCount = 0;
    Op* ops = opsOf(b, p);
    BlockStep* steps = b.steps + p.stepBase;
    const std::uint32_t n = p.count;
    if (sounding && (n == 0 || ops[0].kind != K_ENVELOPE || ops[0].slot != 0)) return;
    std::uint32_t depth = 0;
    // The program index of the unit at each chain position, if it is in the program.
    int at[MAX_UNITS];
    for (int& a : at) a = -1;
    for (std::uint32_t k = 0; k < n; ++k) {
        Op& op = ops[k];
        op.depthBefore = static_cast<std::uint8_t>(depth);
        depth = op.depthAfter;
        at[op.slot / SLOT_WORDS] = static_cast<int>(k);
        op.storeIndex = -1;
        if (op.kind == K_STORE) op.storeIndex = static_cast<std::int8_t>(p.stores++);
        if (op.kind == K_OUTPUT) p.hasOutput = true;
    }
    std::uint32_t tiedTo[MAX_UNITS];  // the last operation that operation k is tied to
    if (!tieOperations(ops, n, at, tiedTo)) return;
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
    if (!planModulation(ops, n, steps, stepOf)) return;
    p.planUsable = true;
    b.stepCount += p.stepCount;
}

}  // namespace

// Builds the book from the song and the state. A state that is untouched
// holds a book of zeros already and delay lines of zeros: neither is
// written nor read here, so the first frames are not held up by faulting in
// and scanning pages that they do not need.
void buildBook(SynthState& s) {
    Book& b = s.untouched ? book(s) : *new (s.fastBook) Book{};
    b.usable = false;
    const SongData& song = *s.song;
    DecodePass pass{song, b, 0, 0, 0};
    for (std::uint32_t i = 0; i <= TRACKS; ++i) {
        Instrument& inst = b.instruments[i];
        if (!compileInstrument(pass, inst, i == TRACKS)) return;
        // A track's two voices take its lines each, the master voice once.
        if (i < TRACKS) {
            b.voiceRecordBase[2 * i] = pass.lineTotal;
            b.voiceRecordBase[2 * i + 1] = pass.lineTotal + inst.lines;
            pass.lineTotal += 2 * inst.lines;
        } else {
            b.voiceRecordBase[MASTER_VOICE] = pass.lineTotal;
            pass.lineTotal += inst.lines;
        }
        if (pass.lineTotal + 1 > DELAY_POOL_RECORDS) return;
    }
    const std::uint32_t lineTotal = pass.lineTotal;
    b.totalLines = lineTotal;
    for (std::uint32_t v = 0, base = 0; v < VOICE_COUNT; ++v) {
        b.pitchBase[v] = base;
        base += instrumentOf(b, v).oscillators;
    }
    for (std::uint32_t t = 0; t < TRACKS; ++t) {
        planProgram(b, b.instruments[t].sounding, true);
        planProgram(b, b.instruments[t].silent, false);
    }
    planProgram(b, b.instruments[TRACKS].sounding, false);  // the master chain
    b.blockMode = true;
    for (std::uint32_t i = 0; i <= TRACKS; ++i) {
        const Program& program = b.instruments[i].sounding;
        const Op* ops = opsOf(b, program);
        for (std::uint32_t k = 0; k < program.count; ++k) {
            if (ops[k].kind == K_ACCUMULATE && i < TRACKS) b.blockMode = false;
            if (drawsNoise(ops[k])) (i < TRACKS ? b.drawsNoise[i] : b.masterDrawsNoise) = true;
        }
    }
    // Record lengths.
    for (std::uint32_t v = 0; v < VOICE_COUNT; ++v) {
        const Instrument& inst = instrumentOf(b, v);
        for (std::uint32_t k = 0; k < inst.sounding.count; ++k) {
            const Op& op = opsOf(b, inst.sounding)[k];
            if (op.kind != K_DELAY) continue;
            for (std::uint32_t i = 0; i < op.lines; ++i)
                b.recordLength[b.voiceRecordBase[v] + op.recordOffset + i] = song.delayTimes[op.timeIndex + i];
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
void loadHeaders(const SynthState& s, Book& b) {
    for (std::uint32_t r = 0; r <= b.totalLines; ++r) {
        const DelayLine& line = s.delayPool[r];
        b.header[r] = DelayHeader{line.writePos, line.damped, line.dcPrevIn, line.dcPrevOut, line.lfoPhase};
    }
}
void storeHeaders(SynthState& s, const Book& b) {
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


}  // namespace fast
