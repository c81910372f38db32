// The fast loop's frame-by-frame runner: one voice's decoded program for
// one frame, unit after unit as the unit machine runs it, with the steps of
// unit_steps.h. It runs what the block plan cannot take (and songs whose
// track chains read other voices), voices that must draw noise in frame
// order with others, and the master chain where it draws noise.
#include "fast_book.h"

namespace fast {

// Runs one voice's program. Returns true, for a silent run, when the voice
// reached a fixed point (nothing changed, every Delay took the zero path).
// `accumulateWords`: null to read the voices' output words, else the block's
// words of the frame (the voices' own rows, stride BLOCK_FRAMES * 4 floats).
template <bool SILENT>
bool runProgram(SynthState& s, Book& b, const Program& program, Voice& voice, std::uint32_t v,
                const float* accumulateWords) {
    double st[STACK_CAPACITY + 1];
    std::uint32_t sp = 0;  // number of values; top is st[sp - 1]
    bool changed = false;
    bool allZeroPath = true;
    const std::uint32_t recordBase = b.voiceRecordBase[v];
    const Op* ops = opsOf(b, program);
    for (std::uint32_t k = 0; k < program.count; ++k) {
        const Op& op = ops[k];
        if (const std::uint8_t operation = stackOperationOf(op.kind)) {
            double* top = st + sp - 1;
            stackOperation(operation, [top](int below) -> double& { return top[-below]; });
            sp = op.depthAfter;
            continue;
        }
        Word* slot = &voice.slots[op.slot];
        switch (op.kind) {
            case K_PUSH_ZERO:
                st[sp++] = 0.0;
                break;
            case K_ENVELOPE: {
                const double level = envelopeLevel(slot, voice.releaseCount, op.env.sustain,
                                                   [&op](std::uint32_t stage) { return op.env.rate(stage); });
                st[sp++] = envelopeOutput(level, op.env.gain, slot[2].f);
                break;
            }
            case K_OSCILLATOR: {
                const double step =
                    pitchStep(b.pitch[b.pitchBase[v] + op.oscillator], op, slot[1].f, slot[2].f, voice.note);
                st[sp++] = oscillatorFrame(slot[0].f, step, slot[4].f, op.osc.phaseShift,
                                           op.osc.color + static_cast<double>(slot[5].f), op.flags,
                                           oscillatorShaperGain(op.osc.shape, slot[6].f, op.osc.shaperGain),
                                           op.osc.gain + static_cast<double>(slot[7].f), s.noiseSeed);
                break;
            }
            case K_FILTER:
                st[sp - 1] = filterFrame(slot, st[sp - 1], op.filter.frequency + static_cast<double>(slot[4].f),
                                         op.filter.resonance, op.flags);
                break;
            case K_DISTORT:
                st[sp - 1] = distortFrame(slot, st[sp - 1], op.distort.holdSquared, op.distort.shaperGain);
                break;
            case K_DELAY:
                st[sp - 1] = delayFrame<SILENT>(s, b, op, recordBase + op.recordOffset, st[sp - 1], true, changed,
                                                allZeroPath);
                break;
            case K_STORE: {
                const float value = storeValue(st[sp - 1], op.store.factor);
                Word& target = voice.slots[op.flags];
                if (SILENT && bitsOf(value) != target.u) changed = true;
                target.f = value;
                break;
            }
            case K_PAN:
                panFrame(st[sp - 1], op.pan.position + static_cast<double>(slot[0].f), st[sp - 1], st[sp]);
                ++sp;
                break;
            case K_OUTPUT: {
                float words[4];
                outputWords(st[sp - 1], st[sp - 2], op.output.gain + static_cast<double>(slot[1].f), op.output.auxGain,
                            words);
                sp -= 2;
                if (SILENT && outputWordsChanged(voice, words)) changed = true;
                setOutputWords(voice, words);
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
                        words += BLOCK_FRAMES * 4;
                    }
                } else {
                    for (std::uint32_t i = 0; i < TRACK_VOICES; ++i) {
                        const float* pair = op.flags == 8 ? s.voices[i].auxOut : s.voices[i].mainOut;
                        left += static_cast<double>(pair[0]);
                        right += static_cast<double>(pair[1]);
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
template bool runProgram<false>(SynthState&, Book&, const Program&, Voice&, std::uint32_t, const float*);
template bool runProgram<true>(SynthState&, Book&, const Program&, Voice&, std::uint32_t, const float*);

// Runs track voice v for one frame: sounding, silent, or skipped while quiet.
void runTrackVoiceFrame(SynthState& s, Book& b, const Instrument& inst, std::uint32_t v, std::uint32_t frame) {
    Voice& voice = s.voices[v];
    if (voice.note != 0) {
        if (b.quiet[v]) {
            catchUp(b, v, frame);
            b.quiet[v] = false;
        }
        runProgram<false>(s, b, inst.sounding, voice, v);
        applyEndOfNote(voice);
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

}  // namespace fast
