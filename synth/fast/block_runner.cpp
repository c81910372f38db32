// The fast loop's block runner: a voice runs its program unit by unit over
// a block of frames, each unit (or each run of units that must keep frame
// order among themselves) through all frames before the next, with the
// stack and the Stores' values kept per frame, and each unit's frames
// computed by the steps of unit_steps.h. Each unit sees exactly the values
// that it sees frame by frame: its own state goes on from frame to frame in
// order, its stack inputs are the same frame's values, and a modulation
// input is the value that the last Store before it wrote in the same frame
// (or the word as it stands, which no Store in this block has written
// before it). Relies on the block plans of compile.cpp.
#include "fast_book.h"

namespace fast {

namespace {

inline double modValue(const BlockContext& c, const ModRef& ref, std::uint32_t i) {
    return ref.store >= 0 ? static_cast<double>(c.b.storeValues[ref.store][i])
                          : static_cast<double>(c.voice.slots[ref.word].f);
}

// One unit in frame i of the run; `last`: the run's last frame. KIND is the
// unit's kind, known at compile time so that a loop over frames is compiled
// for that one kind.
template <bool SILENT, int KIND>
inline void opFrameOf(BlockContext& c, const Op& op, std::uint32_t i, bool last) {
    Book& b = c.b;
    Voice& voice = c.voice;
    auto& stk = b.blockStack;
    const std::uint32_t d = op.depthBefore;  // values below this unit
    if constexpr (stackOperationOf(KIND) != 0) {
        stackOperation<stackOperationOf(KIND)>([&stk, d, i](int below) -> double& { return stk[d - 1 - below][i]; });
        return;
    }
    Word* slot = &voice.slots[op.slot];
    switch (KIND) {
        case K_PUSH_ZERO:
            stk[d][i] = 0.0;
            break;
        case K_ENVELOPE: {
            const double level = envelopeLevel(slot, voice.releaseCount, op.env.sustain,
                                               [&op](std::uint32_t stage) { return op.env.rate(stage); });
            stk[d][i] = envelopeOutput(level, op.env.gain, static_cast<float>(modValue(c, op.mods[0], i)));
            break;
        }
        case K_OSCILLATOR: {
            const double step = pitchStep(b.pitch[b.pitchBase[c.v] + op.oscillator], op,
                                          static_cast<float>(modValue(c, op.mods[0], i)),
                                          static_cast<float>(modValue(c, op.mods[1], i)), voice.note);
            const double shaperGain =
                oscillatorShaperGain(op.osc.shape, static_cast<float>(modValue(c, op.mods[4], i)), op.osc.shaperGain);
            stk[d][i] = oscillatorFrame(slot[0].f, step, modValue(c, op.mods[2], i), op.osc.phaseShift,
                                        op.osc.color + modValue(c, op.mods[3], i), op.flags, shaperGain,
                                        op.osc.gain + modValue(c, op.mods[5], i), c.s.noiseSeed);
            break;
        }
        case K_FILTER:
            stk[d - 1][i] = filterFrame(slot, stk[d - 1][i], op.filter.frequency + modValue(c, op.mods[0], i),
                                        op.filter.resonance, op.flags);
            break;
        case K_DISTORT:
            stk[d - 1][i] = distortFrame(slot, stk[d - 1][i], op.distort.holdSquared, op.distort.shaperGain);
            break;
        case K_DELAY:
            stk[d - 1][i] = delayFrame<SILENT>(c.s, b, op, b.voiceRecordBase[c.v] + op.recordOffset, stk[d - 1][i], last,
                                               c.changed, c.allZeroPath);
            break;
        case K_STORE: {
            const float value = storeValue(stk[d - 1][i], op.store.factor);
            Word& target = voice.slots[op.flags];
            if (SILENT && last && bitsOf(value) != target.u) c.changed = true;
            target.f = value;
            b.storeValues[op.storeIndex][i] = value;
            break;
        }
        case K_PAN: {
            const double in = stk[d - 1][i];
            panFrame(in, op.pan.position + modValue(c, op.mods[0], i), stk[d - 1][i], stk[d][i]);
            break;
        }
        case K_OUTPUT: {
            float* words = wordRow(b, c.v)[c.base + i];
            outputWords(stk[d - 1][i], stk[d - 2][i], op.output.gain + modValue(c, op.mods[0], i), op.output.auxGain,
                        words);
            if (SILENT && last && outputWordsChanged(voice, words)) c.changed = true;
            setOutputWords(voice, words);
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

// One unit in frame i of the run, of whatever kind.
template <bool SILENT>
void opFrame(BlockContext& c, const Op& op, std::uint32_t i, bool last) {
    switch (op.kind) {
#define FAST_CASE(K)                          \
    case K:                                   \
        opFrameOf<SILENT, K>(c, op, i, last); \
        break;
        FAST_CASE(K_PUSH_ZERO) FAST_CASE(K_ENVELOPE) FAST_CASE(K_OSCILLATOR) FAST_CASE(K_FILTER)
        FAST_CASE(K_DISTORT) FAST_CASE(K_DELAY) FAST_CASE(K_POP) FAST_CASE(K_ADD_POP) FAST_CASE(K_MUL_POP)
        FAST_CASE(K_DUP) FAST_CASE(K_SWAP) FAST_CASE(K_ADD) FAST_CASE(K_MUL) FAST_CASE(K_ADD_PAIRS)
        FAST_CASE(K_STORE) FAST_CASE(K_PAN) FAST_CASE(K_OUTPUT) FAST_CASE(K_ACCUMULATE)
#undef FAST_CASE
        default:
            break;
    }
}

// An Oscillator through frames 0 .. n - 1 of the run when no Store of the
// chain writes its modulation inputs before it: they stand still through
// the block, so its step, its waveshaper's gain and the sums with them are
// formed once (the same values as frame by frame), and the phase stays in a
// register.
template <bool SILENT>
void oscillatorFrames(BlockContext& c, const Op& op, std::uint32_t n) {
    for (std::uint32_t m = 0; m < 6; ++m)
        if (op.mods[m].store >= 0) {
            for (std::uint32_t i = 0; i < n; ++i) opFrameOf<SILENT, K_OSCILLATOR>(c, op, i, i + 1 == n);
            return;
        }
    const Word* words = c.voice.slots;
    double* out = c.b.blockStack[op.depthBefore];
    const double step = pitchStep(c.b.pitch[c.b.pitchBase[c.v] + op.oscillator], op, words[op.mods[0].word].f,
                                  words[op.mods[1].word].f, c.voice.note);
    const double phaseMod = words[op.mods[2].word].f;
    const double breakpoint = op.osc.color + static_cast<double>(words[op.mods[3].word].f);
    const double shaperGain = oscillatorShaperGain(op.osc.shape, words[op.mods[4].word].f, op.osc.shaperGain);
    const double gain = op.osc.gain + static_cast<double>(words[op.mods[5].word].f);
    const double phaseShift = op.osc.phaseShift;
    const std::uint8_t flags = op.flags;
    float phase = c.voice.slots[op.slot].f;
    std::int32_t seed = c.s.noiseSeed;
    for (std::uint32_t i = 0; i < n; ++i)
        out[i] = oscillatorFrame(phase, step, phaseMod, phaseShift, breakpoint, flags, shaperGain, gain, seed);
    c.voice.slots[op.slot].f = phase;
    c.s.noiseSeed = seed;
}

// The stack, Store, Pan, Output and Accumulate units through frames 0 ..
// n - 1 of the run, in loops of their own with their rows of the block stack
// and their constants taken once. A Store's target word and a voice's
// output words take the last frame's values (nothing reads them while the
// unit runs); the change test compares the last frame's values with those
// of the frame before, as frame by frame.
template <bool SILENT>
void routingFrames(BlockContext& c, const Op& op, std::uint32_t n) {
    if (n == 0) return;
    Book& b = c.b;
    auto& stk = b.blockStack;
    const std::uint32_t d = op.depthBefore;
    // A modulation input's values: a Store's row, or the word, which stays
    // put while the unit runs.
    if (const std::uint8_t operation = stackOperationOf(op.kind)) {
        withStackOperation(operation, [&stk, d, n](auto known) {
            for (std::uint32_t i = 0; i < n; ++i)
                stackOperation<decltype(known)::value>([&stk, d, i](int below) -> double& { return stk[d - 1 - below][i]; });
        });
        return;
    }
    const float* mod = op.mods[0].store >= 0 ? b.storeValues[op.mods[0].store] : nullptr;
    const double word = static_cast<double>(c.voice.slots[op.mods[0].word].f);
    switch (op.kind) {
        case K_PUSH_ZERO:
            for (std::uint32_t i = 0; i < n; ++i) stk[d][i] = 0.0;
            break;
        case K_STORE: {
            float* values = b.storeValues[op.storeIndex];
            for (std::uint32_t i = 0; i < n; ++i) values[i] = storeValue(stk[d - 1][i], op.store.factor);
            Word& target = c.voice.slots[op.flags];
            const std::uint32_t before = n >= 2 ? bitsOf(values[n - 2]) : target.u;
            if (SILENT && bitsOf(values[n - 1]) != before) c.changed = true;
            target.f = values[n - 1];
            break;
        }
        case K_PAN:
            if (mod) {
                for (std::uint32_t i = 0; i < n; ++i)
                    panFrame(stk[d - 1][i], op.pan.position + static_cast<double>(mod[i]), stk[d - 1][i], stk[d][i]);
            } else {
                const double position = op.pan.position + word;
                for (std::uint32_t i = 0; i < n; ++i) panFrame(stk[d - 1][i], position, stk[d - 1][i], stk[d][i]);
            }
            break;
        case K_OUTPUT: {
            float(*words)[4] = &wordRow(b, c.v)[c.base];
            for (std::uint32_t i = 0; i < n; ++i)
                outputWords(stk[d - 1][i], stk[d - 2][i], op.output.gain + (mod ? static_cast<double>(mod[i]) : word),
                            op.output.auxGain, words[i]);
            Voice& voice = c.voice;
            const float* before = n >= 2 ? words[n - 2] : voice.auxOut;
            if (SILENT && std::memcmp(words[n - 1], before, 4 * sizeof(float)) != 0) c.changed = true;
            setOutputWords(voice, words[n - 1]);
            break;
        }
        case K_ACCUMULATE: {
            // Only the master chain accumulates in a block plan, after every
            // track voice has run through the block and added its words to
            // the sums, in voice order (addWords).
            const std::uint32_t w = op.flags == 8 ? 0 : 2;
            for (std::uint32_t i = 0; i < n; ++i) {
                stk[d + 1][i] = b.wordSums[c.base + i][w];
                stk[d][i] = b.wordSums[c.base + i][w + 1];
            }
            break;
        }
        default:
            break;
    }
}

// One unit through frames 0 .. n - 1 of the run.
template <bool SILENT>
void opFrames(BlockContext& c, const Op& op, std::uint32_t n) {
    switch (op.kind) {
        case K_OSCILLATOR:
            oscillatorFrames<SILENT>(c, op, n);
            break;
        case K_DELAY:
            delayFrames<SILENT>(c, op, n);
            break;
        case K_ENVELOPE:
            for (std::uint32_t i = 0; i < n; ++i) opFrameOf<SILENT, K_ENVELOPE>(c, op, i, i + 1 == n);
            break;
        case K_FILTER:
            for (std::uint32_t i = 0; i < n; ++i) opFrameOf<SILENT, K_FILTER>(c, op, i, i + 1 == n);
            break;
        case K_DISTORT:
            for (std::uint32_t i = 0; i < n; ++i) opFrameOf<SILENT, K_DISTORT>(c, op, i, i + 1 == n);
            break;
        default:
            routingFrames<SILENT>(c, op, n);
            break;
    }
}

}  // namespace

// Runs a planned program over frames base .. base + n - 1 of the block.
// A sounding run stops after the frame in which the first unit's Envelope is
// done; returns the number of frames run.
template <bool SILENT>
std::uint32_t runPlan(BlockContext& c, const Program& p, std::uint32_t n) {
    const Op* ops = opsOf(c.b, p);
    const BlockStep* steps = stepsOf(c.b, p);
    for (std::uint32_t st = 0; st < p.stepCount; ++st) {
        const BlockStep& step = steps[st];
        const bool firstStep = !SILENT && p.endsNotes && st == 0;
        if (!step.frameByFrame && !firstStep) {
            opFrames<SILENT>(c, ops[step.first], n);
            continue;
        }
        for (std::uint32_t i = 0; i < n; ++i) {
            for (std::uint32_t k = 0; k < step.copyCount; ++k)
                c.voice.slots[step.copies[k].word].f = c.b.storeValues[step.copies[k].store][i];
            for (std::uint32_t k = step.first; k <= step.last; ++k) opFrame<SILENT>(c, ops[k], i, i + 1 == n);
            if (firstStep && envelopeDone(c.voice)) {
                n = i + 1;
                break;
            }
        }
    }
    if (!p.hasOutput)
        for (std::uint32_t i = 0; i < n; ++i) keepWords(c.b, c.voice, c.v, c.base + i);
    return n;
}
template std::uint32_t runPlan<false>(BlockContext&, const Program&, std::uint32_t);
template std::uint32_t runPlan<true>(BlockContext&, const Program&, std::uint32_t);

void keepWords(Book& b, const Voice& voice, std::uint32_t v, std::uint32_t i) {
    float* words = wordRow(b, v)[i];
    words[0] = voice.auxOut[0];
    words[1] = voice.auxOut[1];
    words[2] = voice.mainOut[0];
    words[3] = voice.mainOut[1];
}

// Adds voice v's words of frames 0 .. n - 1 of the block to the master's
// sums. A voice that stayed quiet through the block with words of zero
// adds nothing (the sums start at +0.0, and adding a zero to them changes no
// bit), so it is left out.
void addWords(Book& b, const Voice& voice, std::uint32_t v, std::uint32_t n) {
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

// Runs track voice v through frames first .. first + n - 1 (one block):
// sounding by its plan until its note ends, silent by its plan until it is
// found quiet, then skipped; a program without a usable plan frame by frame.
void runVoiceBlock(SynthState& s, Book& b, const Instrument& inst, std::uint32_t v, std::uint32_t first,
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
            applyEndOfNote(voice);
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

}  // namespace fast
