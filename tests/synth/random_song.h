#pragma once
// Random songs for testing the fast render loop against the reference loop:
// hand-made patterns and 17 random instruments that keep the unit machine's
// rules, built to reach the cases where running a voice's units block by
// block could change the order of work: several noise Oscillators in one
// program and noise in the master chain, Stores into earlier units (their
// modulation inputs and their state), track chains that read other voices
// (Accumulate), and several Delays in one chain. Each song says which of
// these it holds, so that a test can make sure they come up.

#include <random>
#include <vector>

#include "synth_test_util.h"

struct RandomSongFeatures {
    bool severalNoise = false;      // a program with two or more noise Oscillators
    bool storeIntoEarlier = false;  // a Store into a word of an earlier unit of its chain
    bool trackAccumulate = false;   // a track chain with an Accumulate
    bool severalDelays = false;     // a chain with two or more Delay units
    bool masterNoise = false;       // a noise Oscillator in the master chain
};

struct RandomSong {
    TestSong song;
    RandomSongFeatures features;
};

namespace random_song_detail {

// The words that a unit reads as modulation inputs, and those it keeps as
// state, as the units read and keep them (envelope_oscillator.cpp,
// filter_distort_delay.cpp, stack_routing.cpp).
inline std::vector<std::uint8_t> modulationWords(std::uint8_t opcode) {
    switch (opcode) {
        case OP_ENVELOPE: return {2};
        case OP_OSCILLATOR: return {1, 2, 4, 5, 6, 7};
        case OP_FILTER: return {4};
        case OP_PAN: return {0};
        case OP_OUTPUT: return {1};
        default: return {};
    }
}
inline std::vector<std::uint8_t> stateWords(std::uint8_t opcode) {
    switch (opcode) {
        case OP_ENVELOPE: return {0, 1};
        case OP_OSCILLATOR: return {0};
        case OP_FILTER: return {0, 1, 2, 3};
        case OP_DISTORT: return {0, 1};
        default: return {};
    }
}

struct InstrumentBuilder {
    std::mt19937& rng;
    RandomSongFeatures& features;
    ChainBuilder chain;
    std::vector<std::uint8_t> opcodes;  // opcode of each chain position so far
    std::uint32_t depth = 0;
    std::uint32_t lines = 0;
    std::uint32_t delays = 0;
    std::uint32_t noise = 0;

    std::uint8_t byte(int lo, int hi) { return static_cast<std::uint8_t>(lo + static_cast<int>(rng() % (hi - lo + 1))); }
    std::uint8_t level() { return rng() % 8 == 0 ? byte(129, 255) : byte(0, 128); }
    void add(std::uint8_t opcode, std::initializer_list<std::uint8_t> params = {}) {
        chain.unit(opcode, params);
        opcodes.push_back(opcode);
    }
    void oscillator(bool noisy, bool lfoToo = true) {
        const std::uint8_t shapes[] = {OSC_SINE, OSC_TRISAW, OSC_PULSE, OSC_NOISE};
        std::uint8_t flags = noisy ? OSC_NOISE : shapes[rng() % 4];
        if (lfoToo && rng() % 3 == 0) flags |= OSC_LFO;
        if (flags & OSC_NOISE) ++noise;
        add(OP_OSCILLATOR, {byte(30, 100), byte(0, 127), level(), level(), byte(1, 127), level(), flags});
        ++depth;
    }
    // A Store: into a modulation input or a state word of an earlier unit
    // (or of itself), or into any word.
    void store(std::uint32_t unitsPlanned) {
        const std::uint32_t here = static_cast<std::uint32_t>(opcodes.size());
        const std::uint32_t kind = rng() % 10;
        std::uint8_t target;
        if (kind <= 4) {
            const std::uint32_t k = rng() % (here + 1);  // an earlier unit, or the Store itself
            std::vector<std::uint8_t> words = k < here ? (kind < 4 ? modulationWords(opcodes[k]) : stateWords(opcodes[k]))
                                                       : std::vector<std::uint8_t>{};
            const std::uint8_t word = words.empty() ? static_cast<std::uint8_t>(rng() % 8) : words[rng() % words.size()];
            target = static_cast<std::uint8_t>(8 * k + word);
            features.storeIntoEarlier = true;
        } else if (kind < 8) {
            target = static_cast<std::uint8_t>(8 * (rng() % (unitsPlanned + 2)) + rng() % 8);
            if (target / 8 <= here) features.storeIntoEarlier = true;
        } else {
            target = byte(0, 255);
            if (target / 8 <= here) features.storeIntoEarlier = true;
        }
        add(OP_STORE, {level(), target});
    }
};

// A random instrument that keeps the unit machine's rules; a `strange` one
// may hold opcodes above 11 (which run as Nop, and which the song check
// rejects).
inline void randomInstrument(std::mt19937& rng, TestSong& song, RandomSongFeatures& features, bool master,
                             std::uint32_t maxLines, bool accumulate, bool noisy, bool strange) {
    InstrumentBuilder b{rng, features, {}, {}};
    if (!master) {
        b.add(OP_ENVELOPE, {b.byte(0, 40), b.byte(0, 60), b.byte(0, 128), b.byte(0, 40), b.byte(32, 128)});
        b.depth = 1;
        // Now and then two noise Oscillators in a row, mixed.
        if (noisy && rng() % 2 == 0) {
            b.oscillator(true, false);
            b.oscillator(true, false);
            b.add(OP_STACKOP, {rng() % 2 ? std::uint8_t{STACK_ADD_POP} : std::uint8_t{STACK_MUL_POP}});
            b.add(OP_STACKOP, {STACK_MUL_POP});
            b.depth -= 2;
        }
    } else {
        b.add(OP_ACCUMULATE, {static_cast<std::uint8_t>(rng() % 2 ? 8 : 0)});
        b.depth = 2;
    }
    const std::uint32_t units = 3 + rng() % 16;
    // At most 22 units here: the pops, Pan and Output that close the chain
    // keep it within 32.
    for (std::uint32_t u = 0; u < units && b.opcodes.size() < 22; ++u) {
        const std::uint32_t choice = rng() % 14;
        if (choice == 0 && b.depth <= 4) {
            b.add(OP_ENVELOPE, {b.byte(0, 60), b.byte(0, 80), b.level(), b.byte(0, 60), b.level()});
            ++b.depth;
        } else if (choice <= 2 && b.depth <= 4) {
            b.oscillator(noisy && rng() % 2 == 0);
        } else if (choice == 3 && b.depth >= 1) {
            b.add(OP_FILTER, {b.byte(0, 128), b.byte(0, 128), b.byte(0, 15)});
        } else if (choice == 4 && b.depth >= 1) {
            b.add(OP_DISTORT, {b.byte(1, 127), b.byte(0, 128)});
        } else if (choice == 5 && b.depth >= 1 && b.lines < maxLines) {
            const std::uint32_t most = std::min<std::uint32_t>(master ? 4 : 1, maxLines - b.lines);
            const std::uint8_t count = static_cast<std::uint8_t>(1 + rng() % most);
            const std::uint8_t index = static_cast<std::uint8_t>(rng() % (song.delayTimes.size() - count + 1));
            const std::uint8_t depthByte = rng() % 3 == 0 ? b.byte(1, 40) : 0;
            b.add(OP_DELAY, {b.byte(0, 128), b.byte(0, 128), b.byte(0, 120), b.byte(0, 128),
                             rng() % 3 == 0 ? b.byte(0, 128) : std::uint8_t{0}, depthByte, index, count});
            b.lines += count;
            if (++b.delays == 2) features.severalDelays = true;
        } else if ((choice == 6 || choice == 13) && b.depth >= 1) {
            b.store(units);
        } else if (choice == 7 && b.depth >= 1 && b.depth <= 6) {
            b.add(OP_PAN, {b.level()});
            ++b.depth;
        } else if (choice == 8 && b.depth >= 2) {
            const std::uint8_t ops[] = {STACK_ADD_POP, STACK_MUL_POP, STACK_SWAP, STACK_ADD, STACK_MUL};
            const std::uint8_t op = ops[rng() % 5];
            b.add(OP_STACKOP, {op});
            if (op == STACK_ADD_POP || op == STACK_MUL_POP) --b.depth;
        } else if (choice == 9 && b.depth >= 1 && b.depth <= 6) {
            b.add(OP_STACKOP, {STACK_DUP});
            ++b.depth;
        } else if (choice == 10) {
            b.add(!strange || rng() % 4 ? std::uint8_t{OP_NOP} : static_cast<std::uint8_t>(12 + rng() % 200));
        } else if (choice == 11 && b.depth >= 4) {
            b.add(OP_STACKOP, {STACK_ADD_PAIRS});
            b.depth -= 2;
        } else if (choice == 12 && accumulate && b.depth <= 4) {
            // A track chain that reads the other voices' output words.
            b.add(OP_ACCUMULATE, {static_cast<std::uint8_t>(rng() % 2 ? 8 : 0)});
            b.depth += 2;
            features.trackAccumulate = true;
        }
    }
    while (b.depth > 2) {
        b.add(OP_STACKOP, {STACK_POP});
        --b.depth;
    }
    if (b.depth == 0) b.add(OP_OSCILLATOR, {64, 64, 0, 64, 64, 128, OSC_SINE}), b.depth = 1;
    if (b.depth == 1) b.add(OP_PAN, {b.level()});
    b.add(OP_OUTPUT, {b.level(), b.level()});
    b.chain.appendTo(song);
    if (b.noise >= 2) features.severalNoise = true;
    if (master && b.noise >= 1) features.masterNoise = true;
}

}  // namespace random_song_detail

// A random song: 40 patterns of notes, holds, releases and note bytes of 128
// and above; every fifth song has track chains that read other voices; about
// half are heavy with noise; every seventh may hold opcodes above 11.
inline RandomSong randomSong(std::uint32_t seed) {
    std::mt19937 rng(seed);
    RandomSong r;
    TestSong& song = r.song;
    song.delayTimes = {37, 64, 101, 150, 224, 300, 512, 777, 1024, 40, 90, 333};
    for (int p = 0; p < 40; ++p) {
        std::vector<std::uint8_t> rows(16);
        for (auto& row : rows) {
            const std::uint32_t x = rng() % 10;
            row = x < 4   ? static_cast<std::uint8_t>(2 + rng() % 120)
                  : x < 6 ? 1
                  : x < 9 ? 0
                          : static_cast<std::uint8_t>(128 + rng() % 128);
        }
        song.patterns.insert(song.patterns.end(), rows.begin(), rows.end());
    }
    for (auto& entry : song.patternList) entry = static_cast<std::uint8_t>(rng() % 41);
    const bool accumulate = seed % 5 == 0;
    const bool noisy = rng() % 2 == 0;
    const bool strange = seed % 7 == 3;
    for (std::uint32_t t = 0; t < TRACKS; ++t)
        random_song_detail::randomInstrument(rng, song, r.features, false, 2, accumulate, noisy, strange);
    random_song_detail::randomInstrument(rng, song, r.features, true, 12, false, noisy && rng() % 2 == 0, strange);
    return r;
}
