// Making, resetting and freeing a SynthState, and the built-in song that a
// state reads unless it is given another.
#include "synth_state.h"

#include <cstdlib>
#include <cstring>
#include <new>

#include "song_data.h"

const SongData& builtinSong() {
    static const SongData song{
        .patterns = PATTERN_TABLE,
        .patternsSize = sizeof(PATTERN_TABLE),
        .patternList = PATTERN_LIST_TABLE,
        .commands = COMMAND_STREAM,
        .commandsSize = sizeof(COMMAND_STREAM),
        .parameters = PARAMETER_STREAM,
        .parametersSize = sizeof(PARAMETER_STREAM),
        .delayTimes = DelayTimeTable,
        .delayTimesSize = sizeof(DelayTimeTable) / sizeof(DelayTimeTable[0]),
    };
    return song;
}

void startZeroSynthState(SynthState& s, const SongData* song) {
    s.noiseSeed = 1;
    s.song = song ? song : &builtinSong();
    s.fastValid = false;
    s.untouched = true;
}

void resetSynthState(SynthState& s, const SongData* song) {
    // All-zero bits are +0.0 in every float of the state, as the sound needs.
    // cppcheck-suppress memsetClassFloat
    std::memset(static_cast<void*>(&s), 0, sizeof(SynthState));
    startZeroSynthState(s, song);
}

void SynthStateDeleter::operator()(SynthState* s) const { std::free(s); }

SynthStatePtr makeSynthState(const SongData* song) {
    // calloc: the pool's 24 MB come as zero pages.
    void* memory = std::calloc(1, sizeof(SynthState));
    if (!memory) throw std::bad_alloc();
    auto* s = static_cast<SynthState*>(memory);
    startZeroSynthState(*s, song);
    return SynthStatePtr(s);
}
