// Readying an untouched state for a render that must publish its first
// frames at once, on the thread that will start the render thread. The
// first frames write some eighty pages of memory that nothing has written
// before (the voices, the book, the start of the delay lines that sound),
// each page's first write a fault (memory_pages.h). Taken by the render thread
// itself, they held its first 1,024 frames back by 2 to 5 ms while the sound
// device was already asking for them. Here the book is built and those
// pages are written (with the zeros that they hold) before the render thread
// exists; no value changes, and the render gives the same frames.
#include <cstddef>

#include "fast_book.h"
#include "memory_pages.h"

void prepareSongFrames(SynthState& s, std::uint32_t frames) {
    using namespace fast;
    if (!s.untouched || s.fastValid) return;
    // An untouched state is zero but for the words that start otherwise
    // (noiseSeed, song, the flags), which are written already. The words that
    // every frame writes: the state's words before the pool, the value stack
    // after it, and the book's bookkeeping and block scratch (its programs
    // are written as it is built).
    writeZeroPages(&s, offsetof(SynthState, delayPool));
    writeZeroPages(&s.stack, sizeof s.stack);
    writeZeroPages(s.fastBook, offsetof(Book, ops));
    buildBook(s);
    s.fastValid = true;
    const Book& b = book(s);
    if (!b.usable) return;
    // Each record's header and the samples that the first frames write: one
    // a frame from the line's start (all of a line shorter than that). The
    // record after the last line holds the last Delay's DC blocker words.
    for (std::uint32_t r = 0; r < b.totalLines; ++r) {
        const std::uint32_t samples = frames < b.recordLength[r] ? frames : b.recordLength[r];
        writeZeroPages(&s.delayPool[r], offsetof(DelayLine, samples) + sizeof(float) * samples);
    }
    writeZeroPages(&s.delayPool[b.totalLines], offsetof(DelayLine, samples));
}
