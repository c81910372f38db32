// The Delay unit in the fast loop: one frame (delayStep) over the lines as
// the book keeps them or as a block keeps them in registers, a whole block
// (delayFrames), the same block without the zero-path and wrap tests where
// it cannot need them (delayStraight), and the catch-up of a quiet voice's
// lines. All of it computes with the Delay steps of unit_steps.h and keeps
// the zero runs that let a Delay skip lines that hold only +0.0.
#include "fast_book.h"

namespace fast {

namespace {

// The most lines that a block keeps in registers; a Delay with more runs
// frame by frame on the book.
constexpr std::uint32_t MAX_BLOCK_LINES = 16;

// Whether the sample `ahead` places after the write position of a line of
// `length` samples is +0.0 for certain: it was written length - ahead
// frames ago, within the run of +0.0 written last, or it lies in the part
// of the line not written since the state was untouched. (0 <= ahead <
// length.) Such a sample is not read, so that the first touch of a page is
// the write, not a read and then a write.
inline bool knownZero(std::uint32_t zeroRun, std::uint32_t unwritten, std::int32_t length, std::int32_t ahead) {
    return static_cast<std::uint32_t>(ahead) < unwritten || zeroRun >= static_cast<std::uint32_t>(length - ahead);
}

// A Delay's constants, taken out of its operation into locals for a block:
// the block's stores into the stack's rows could otherwise be the
// operation's constants, for all the compiler knows.
struct DelayParams : DelayConstants {
    // cppcheck-suppress uninitDerivedMemberVar ; the copy of op.delay sets every member
    explicit DelayParams(const Op& op) : DelayConstants(op.delay) {}
};

// A Delay unit's lines as the book keeps them, for one frame.
struct BookLines {
    SynthState& s;
    Book& b;
    std::uint32_t first;  // the unit's first record
    std::uint32_t count;
    float* samples(std::uint32_t l) { return s.delayPool[first + l].samples; }
    std::int32_t length(std::uint32_t l) { return static_cast<std::int32_t>(b.recordLength[first + l]); }
    std::int32_t& writePos(std::uint32_t l) { return b.header[first + l].writePos; }
    float& damped(std::uint32_t l) { return b.header[first + l].damped; }
    std::uint32_t& zeroRun(std::uint32_t l) { return b.zeroRun[first + l]; }
    std::uint32_t& unwritten(std::uint32_t l) { return b.unwritten[first + l]; }
    float& lfoPhase() { return b.header[first].lfoPhase; }
    float& dcPrevIn() { return b.header[first + count].dcPrevIn; }
    float& dcPrevOut() { return b.header[first + count].dcPrevOut; }
};

// The same lines held in locals through a block, and put back at its end
// (no other unit touches them while the Delay runs).
struct BlockLines {
    std::uint32_t count;
    float* sampleArrays[MAX_BLOCK_LINES];
    std::int32_t lengths[MAX_BLOCK_LINES];
    std::int32_t writePositions[MAX_BLOCK_LINES];
    float dampedValues[MAX_BLOCK_LINES];
    std::uint32_t zeroRuns[MAX_BLOCK_LINES];
    std::uint32_t unwrittenCounts[MAX_BLOCK_LINES];
    float phase;
    float prevIn;
    float prevOut;

    float* samples(std::uint32_t l) { return sampleArrays[l]; }
    std::int32_t length(std::uint32_t l) { return lengths[l]; }
    std::int32_t& writePos(std::uint32_t l) { return writePositions[l]; }
    float& damped(std::uint32_t l) { return dampedValues[l]; }
    std::uint32_t& zeroRun(std::uint32_t l) { return zeroRuns[l]; }
    std::uint32_t& unwritten(std::uint32_t l) { return unwrittenCounts[l]; }
    float& lfoPhase() { return phase; }
    float& dcPrevIn() { return prevIn; }
    float& dcPrevOut() { return prevOut; }

    void load(BookLines book) {
        count = book.count;
        for (std::uint32_t l = 0; l < count; ++l) {
            sampleArrays[l] = book.samples(l);
            lengths[l] = book.length(l);
            writePositions[l] = book.writePos(l);
            dampedValues[l] = book.damped(l);
            zeroRuns[l] = book.zeroRun(l);
            unwrittenCounts[l] = book.unwritten(l);
        }
        phase = book.lfoPhase();
        prevIn = book.dcPrevIn();
        prevOut = book.dcPrevOut();
    }
    void store(BookLines book) const {
        for (std::uint32_t l = 0; l < count; ++l) {
            book.writePos(l) = writePositions[l];
            book.damped(l) = dampedValues[l];
            book.zeroRun(l) = zeroRuns[l];
            book.unwritten(l) = unwrittenCounts[l];
        }
        book.lfoPhase() = phase;
        book.dcPrevIn() = prevIn;
        book.dcPrevOut() = prevOut;
    }
};

// One frame of a Delay unit on `lines`: returns its output for `in`. When
// all its lines hold only +0.0 (their zero runs reach their lengths, their
// damping state is +0.0) and nothing enters them, every line reads +0.0 and
// writes +0.0 back: the frame only moves the write positions on (the zero
// path). `last`: the frame reports to the silent-voice bookkeeping
// (`changed`: a stored word changed; `allZeroPath` cleared when the lines did
// real work; `zeroFrames` counts the frames that took the zero path).
template <bool SILENT, typename Lines>
inline double delayStep(Lines& lines, const DelayParams& p, double in, bool last, bool& changed, bool& allZeroPath,
                        std::uint64_t& zeroFrames) {
    const double x = delayLineInput(in, p.inputGain);
    double out = in * p.dry;
    const std::uint32_t count = lines.count;
    const double phase = delayLfoPhase(lines.lfoPhase(), p.lfoStep);
    const float phaseStored = static_cast<float>(phase);
    if (SILENT && last && bitsOf(phaseStored) != bitsOf(lines.lfoPhase())) changed = true;
    lines.lfoPhase() = phaseStored;
    bool zero = x == 0.0;
    for (std::uint32_t l = 0; zero && l < count; ++l)
        zero = lines.zeroRun(l) >= static_cast<std::uint32_t>(lines.length(l)) && isPositiveZero(lines.damped(l));
    if (zero) {
        // The reads of +0.0 added to the output.
        out = out + 0.0;
        for (std::uint32_t l = 0; l < count; ++l) {
            std::int32_t& wp = lines.writePos(l);
            wp = wp + 1 >= lines.length(l) ? wp + 1 - lines.length(l) : wp + 1;
            ++lines.zeroRun(l);
            if (lines.unwritten(l)) --lines.unwritten(l);
        }
        ++zeroFrames;
    } else {
        if (last) allZeroPath = false;
        const std::int32_t m = delayReadOffset(phase, p.depth);
        for (std::uint32_t l = 0; l < count; ++l) {
            float* samples = lines.samples(l);
            const std::int32_t length = lines.length(l);
            std::int32_t& wp = lines.writePos(l);
            std::int32_t readPos = wp + m;
            if (readPos >= length) readPos -= length;
            const double d = knownZero(lines.zeroRun(l), lines.unwritten(l), length, m) ? 0.0 : samples[readPos];
            out = out + d;
            const float written = delayFeedback(d, x, p.feedback, p.keep, p.damping, lines.damped(l));
            samples[wp] = written;
            lines.zeroRun(l) = bitsOf(written) == 0 ? lines.zeroRun(l) + 1 : 0;
            if (lines.unwritten(l)) --lines.unwritten(l);
            wp = wp + 1 >= length ? wp + 1 - length : wp + 1;
        }
    }
    const float prevIn = lines.dcPrevIn();
    const float prevOut = lines.dcPrevOut();
    const double y = delayDcBlock(out, lines.dcPrevIn(), lines.dcPrevOut());
    if (SILENT && last &&
        (bitsOf(prevIn) != bitsOf(lines.dcPrevIn()) || bitsOf(prevOut) != bitsOf(lines.dcPrevOut())))
        changed = true;
    return y;
}

// A block of n frames in which every frame takes the full path and no
// line's read or write position wraps: then frame i writes sample
// writePos + i of each line and reads sample writePos + i + m, so the loop
// needs neither the zero-path test nor the wrap tests, and the run of +0.0
// written last is read off the block's writes at its end. A loop shape of
// its own for the song's busiest units, with the steps of delayStep.
// Returns false (having changed nothing) where the block does not qualify.
//
// No frame can take the zero path when some line's zero run stays below its
// length through the block: the run grows by at most one per frame and the
// zero path needs it at the length or more on every line.
template <bool SILENT>
bool delayStraight(BlockLines& lines, const DelayParams& p, double* io, std::uint32_t n, bool& changed) {
    const std::uint32_t count = lines.count;
    const double depth = p.depth;
    // The read offset lies in 0 .. ceil(2 * depth * 1024), as 1 + sin lies
    // in 0 .. 2 and the rounding steps are monotonic.
    const double mBound = depth != 0.0 ? std::ceil(2.0 * depth * static_cast<double>(DELAY_MOD_SCALE)) : 0.0;
    if (!(mBound >= 0.0 && mBound < 65536.0)) return false;
    const std::int32_t mMax = static_cast<std::int32_t>(mBound);
    bool fullThroughout = false;
    for (std::uint32_t l = 0; l < count; ++l) {
        const std::int32_t length = lines.lengths[l];
        if (lines.writePositions[l] < 0 || lines.writePositions[l] + static_cast<std::int32_t>(n) - 1 + mMax >= length)
            return false;
        if (static_cast<std::uint64_t>(lines.zeroRuns[l]) + n <= static_cast<std::uint64_t>(length)) fullThroughout = true;
    }
    if (!fullThroughout) return false;

    float* from[MAX_BLOCK_LINES];  // each line's sample at its write position
    for (std::uint32_t l = 0; l < count; ++l) from[l] = lines.sampleArrays[l] + lines.writePositions[l];
    for (std::uint32_t i = 0; i < n; ++i) {
        const bool last = i + 1 == n;
        const double in = io[i];
        const double x = delayLineInput(in, p.inputGain);
        double out = in * p.dry;
        const double phase = delayLfoPhase(lines.phase, p.lfoStep);
        const float phaseStored = static_cast<float>(phase);
        if (SILENT && last && bitsOf(phaseStored) != bitsOf(lines.phase)) changed = true;
        lines.phase = phaseStored;
        const std::int32_t readAt = static_cast<std::int32_t>(i) + delayReadOffset(phase, depth);
        for (std::uint32_t l = 0; l < count; ++l) {
            // The sample read lies ahead of every write of the block: the
            // zero run and the unwritten part as the block started tell.
            const double d = knownZero(lines.zeroRuns[l], lines.unwrittenCounts[l], lines.lengths[l], readAt)
                                 ? 0.0
                                 : from[l][readAt];
            out = out + d;
            from[l][i] = delayFeedback(d, x, p.feedback, p.keep, p.damping, lines.dampedValues[l]);
        }
        const float prevIn = lines.prevIn;
        const float prevOut = lines.prevOut;
        io[i] = delayDcBlock(out, lines.prevIn, lines.prevOut);
        if (SILENT && last && (bitsOf(prevIn) != bitsOf(lines.prevIn) || bitsOf(prevOut) != bitsOf(lines.prevOut)))
            changed = true;
    }
    // The block's writes stay in place (no position repeats within it), so
    // the trailing +0.0 writes are still there to count.
    for (std::uint32_t l = 0; l < count; ++l) {
        std::uint32_t trailing = 0;
        while (trailing < n && bitsOf(from[l][n - 1 - trailing]) == 0) ++trailing;
        lines.zeroRuns[l] = trailing == n ? lines.zeroRuns[l] + n : trailing;
        lines.unwrittenCounts[l] = n < lines.unwrittenCounts[l] ? lines.unwrittenCounts[l] - n : 0;
        std::int32_t wp = lines.writePositions[l] + static_cast<std::int32_t>(n);
        if (wp >= lines.lengths[l]) wp -= lines.lengths[l];
        lines.writePositions[l] = wp;
    }
    return true;
}

}  // namespace

template <bool SILENT>
double delayFrame(SynthState& s, Book& b, const Op& op, std::uint32_t first, double in, bool track, bool& changed,
                  bool& allZeroPath) {
    BookLines lines{s, b, first, op.lines};
    std::uint64_t zeroFrames = 0;
    const double out = delayStep<SILENT>(lines, DelayParams(op), in, track, changed, allZeroPath, zeroFrames);
    b.counters.delayZero += zeroFrames;
    b.counters.delayFull += 1 - zeroFrames;
    return out;
}
template double delayFrame<false>(SynthState&, Book&, const Op&, std::uint32_t, double, bool, bool&, bool&);
template double delayFrame<true>(SynthState&, Book&, const Op&, std::uint32_t, double, bool, bool&, bool&);

// A Delay unit through frames 0 .. n - 1 of the run, its input and output
// in its row of the block stack, its lines held in locals.
template <bool SILENT>
void delayFrames(BlockContext& c, const Op& op, std::uint32_t n) {
    const BookLines book{c.s, c.b, c.b.voiceRecordBase[c.v] + op.recordOffset, op.lines};
    double* io = c.b.blockStack[op.depthBefore - 1];
    if (op.lines > MAX_BLOCK_LINES) {
        for (std::uint32_t i = 0; i < n; ++i)
            io[i] = delayFrame<SILENT>(c.s, c.b, op, book.first, io[i], i + 1 == n, c.changed, c.allZeroPath);
        return;
    }
    BlockLines lines;
    lines.load(book);
    const DelayParams p(op);
    if (n > 0 && delayStraight<SILENT>(lines, p, io, n, c.changed)) {
        c.allZeroPath = false;
        c.b.counters.delayFull += n;
    } else {
        std::uint64_t zeroFrames = 0;
        for (std::uint32_t i = 0; i < n; ++i)
            io[i] = delayStep<SILENT>(lines, p, io[i], i + 1 == n, c.changed, c.allZeroPath, zeroFrames);
        c.b.counters.delayZero += zeroFrames;
        c.b.counters.delayFull += n - zeroFrames;
    }
    lines.store(book);
}
template void delayFrames<false>(BlockContext&, const Op&, std::uint32_t);
template void delayFrames<true>(BlockContext&, const Op&, std::uint32_t);

// Moves a quiet voice's write positions on by the frames whose runs were
// skipped, as those runs would have (their lines hold only +0.0).
void catchUp(Book& b, std::uint32_t v, std::uint32_t frame) {
    const std::uint32_t skipped = frame - b.quietSince[v];
    b.quietSince[v] = frame;
    if (skipped == 0) return;
    const std::uint32_t base = b.voiceRecordBase[v];
    for (std::uint32_t r = base; r < base + instrumentOf(b, v).lines; ++r) {
        const std::uint32_t length = b.recordLength[r];
        DelayHeader& line = b.header[r];
        line.writePos = static_cast<std::int32_t>((static_cast<std::uint32_t>(line.writePos) + skipped % length) % length);
        b.zeroRun[r] += skipped;
        b.unwritten[r] = skipped < b.unwritten[r] ? b.unwritten[r] - skipped : 0;
    }
}

}  // namespace fast
