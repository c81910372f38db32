#pragma once
// The synthesizer's state in one record, SynthState: the voices with their
// UnitSlots, the delay lines, the ValueStack and the machine's registers, so
// that a test can make a fresh one and the demo can keep one static instance.
// The unit machine (unit_machine.h) and the render loops (render_loop.h)
// work on it; synth.h hands it out to the tools as an opaque record.

#include <cstddef>
#include <cstdint>

#include "song_format.h"
#include "synth.h"

// ---------------------------------------------------------------------------
// Sizes.
inline constexpr std::uint32_t VOICE_WORDS = 262;
inline constexpr std::uint32_t TRACK_VOICES = 2 * TRACKS;  // 32
// The master chain's voice, voices[MASTER_VOICE], after the track voices.
inline constexpr std::uint32_t MASTER_VOICE = TRACK_VOICES;
inline constexpr std::uint32_t VOICE_COUNT = TRACK_VOICES + 1;
inline constexpr std::uint32_t STACK_CAPACITY = 8;
inline constexpr std::uint32_t DELAY_LINE_SAMPLES = 65536;
// 92 lines for the song's frame plus the one record whose DC words the last
// Delay unit uses.
inline constexpr std::uint32_t DELAY_POOL_RECORDS = 93;

// Envelope stages: the low 8 bits of word 0 of the Envelope's UnitSlot.
enum EnvelopeStage : std::uint8_t { ATTACK = 0, DECAY = 1, SUSTAIN = 2, RELEASE = 3, DONE = 4 };

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

// One delay line with its header, a record of the DelayLinePool.
struct DelayLine {
    std::int32_t writePos;
    float damped;
    float dcPrevIn;
    float dcPrevOut;
    float lfoPhase;
    float samples[DELAY_LINE_SAMPLES];
};

// The records that the Delay units take in order, from SynthState::delayCursor.
using DelayLinePool = DelayLine[DELAY_POOL_RECORDS];

// The ValueStack: values in double precision.
struct ValueStack {
    double values[STACK_CAPACITY];
    std::uint32_t depth;
};

// ---------------------------------------------------------------------------
// Book-keeping of the fast render loop (fast/fast_book.h): pre-decoded
// instruments and caches; not part of the synthesizer's state proper,
// and rebuilt from that state whenever it may be stale. Kept in
// the state record so that nothing is allocated.
inline constexpr std::size_t FAST_BOOK_BYTES = 512 * 1024;

// The whole synthesizer state. Zero at start but for noiseSeed (1).
struct SynthState {
    std::uint32_t voiceToggle[TRACKS];
    float loadedParams[8];  // p0..p7
    Voice voices[VOICE_COUNT];  // 32 track voices, then the master chain's
    std::uint32_t delayCursor;
    DelayLinePool delayPool;

    ValueStack stack;
    std::int32_t noiseSeed;

    // Machine registers: the stream positions.
    std::uint32_t commandPos;
    std::uint32_t parameterPos;

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

// Puts an existing state back into its start state (zero, noiseSeed 1),
// reading `song` (the built-in song by default).
void resetSynthState(SynthState& s, const SongData* song = nullptr);
// Makes a state that is still all zero (static or freshly zeroed memory) its
// start state, setting only the fields that start non-zero.
void startZeroSynthState(SynthState& s, const SongData* song = nullptr);
