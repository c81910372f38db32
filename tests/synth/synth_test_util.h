#pragma once
// Helpers for the synthesizer tests: hand-made songs and chains.

#include <cstring>
#include <initializer_list>
#include <vector>

#include "render_loop.h"
#include "synth_math.h"
#include "synth_state.h"
#include "unit_machine.h"

// A song built in the test: 17 instruments (missing ones are empty), patterns
// and PatternLists of its own.
struct TestSong {
    std::vector<std::uint8_t> patterns = std::vector<std::uint8_t>(16, 0);
    std::vector<std::uint8_t> patternList = std::vector<std::uint8_t>(TRACKS * PATTERN_LIST_LENGTH, 0);
    std::vector<std::uint8_t> commands;
    std::vector<std::uint8_t> parameters;
    std::vector<std::uint16_t> delayTimes;
    SongData data{};

    TestSong() {
        // The song's DelayTimeTable by default.
        delayTimes = {1116, 1188, 1276, 1356, 1422, 1492, 1556, 1618, 1140,  1212, 1300, 1380, 1446,
                      1516, 1580, 1642, 18900, 14174, 12600, 9450, 28349, 864, 512, 1024, 224, 1792};
    }
    // Adds a pattern; returns its index.
    std::uint8_t addPattern(std::initializer_list<std::uint8_t> rows) {
        const auto index = static_cast<std::uint8_t>(patterns.size() / 16);
        std::vector<std::uint8_t> r(rows);
        r.resize(16, 0);
        patterns.insert(patterns.end(), r.begin(), r.end());
        return index;
    }
    const SongData* finish() {
        data = SongData{.patterns = patterns.data(),
                        .patternsSize = patterns.size(),
                        .patternList = patternList.data(),
                        .commands = commands.data(),
                        .commandsSize = commands.size(),
                        .parameters = parameters.data(),
                        .parametersSize = parameters.size(),
                        .delayTimes = delayTimes.data(),
                        .delayTimesSize = delayTimes.size()};
        return &data;
    }
};

// Builds an instrument: opcode + parameter bytes per unit.
struct ChainBuilder {
    std::vector<std::uint8_t> commands;
    std::vector<std::uint8_t> parameters;
    ChainBuilder& unit(std::uint8_t opcode, std::initializer_list<std::uint8_t> params = {}) {
        commands.push_back(opcode);
        parameters.insert(parameters.end(), params.begin(), params.end());
        return *this;
    }
    // Appends this instrument (with its terminator) to a song.
    void appendTo(TestSong& song) const {
        song.commands.insert(song.commands.end(), commands.begin(), commands.end());
        song.commands.push_back(0);
        song.parameters.insert(song.parameters.end(), parameters.begin(), parameters.end());
    }
};

// Runs one chain once on a voice of a state: the chain is the whole
// CommandStream of a one-instrument song owned by the runner.
struct ChainRunner {
    TestSong song;
    SynthStatePtr state;
    explicit ChainRunner(const ChainBuilder& chain) {
        chain.appendTo(song);
        state = makeSynthState(song.finish());
    }
    // Runs the chain on voice `v` from the stream starts, as the render loop does.
    void run(std::uint32_t v = 0) {
        state->commandPos = 0;
        state->parameterPos = 0;
        state->delayCursor = 0;
        runVoice(*state, state->voices[v]);
    }
    Voice& voice(std::uint32_t v = 0) { return state->voices[v]; }
    Word* slot(std::uint32_t k, std::uint32_t v = 0) { return &state->voices[v].slots[k * SLOT_WORDS]; }
    std::uint32_t depth() const { return state->stack.depth; }
    double top(std::uint32_t below = 0) { return stackTop(*state, below); }
    double pop() { return stackPop(*state); }
    void push(double v) { stackPush(*state, v); }
};

inline std::uint32_t floatBits(float f) {
    std::uint32_t b;
    std::memcpy(&b, &f, 4);
    return b;
}
inline std::uint64_t doubleBits(double d) {
    std::uint64_t b;
    std::memcpy(&b, &d, 8);
    return b;
}
