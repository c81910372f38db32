#pragma once
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "synth_test_util.h"

// Compares every word of two synthesizer states (LoadedParams and
// the ValueStack's values are scratch and left out).
inline ::testing::AssertionResult sameState(const SynthState& a, const SynthState& b) {
    if (std::memcmp(a.voiceToggle, b.voiceToggle, sizeof a.voiceToggle) != 0)
        return ::testing::AssertionFailure() << "voiceToggle differs";
    for (std::uint32_t v = 0; v < VOICE_COUNT; ++v) {
        const auto* wa = reinterpret_cast<const std::uint32_t*>(&a.voices[v]);
        const auto* wb = reinterpret_cast<const std::uint32_t*>(&b.voices[v]);
        for (std::uint32_t w = 0; w < VOICE_WORDS; ++w)
            if (wa[w] != wb[w])
                return ::testing::AssertionFailure() << "voice " << v << " word " << w << " differs: " << std::hex
                                                     << wa[w] << " vs " << wb[w];
    }
    for (std::uint32_t r = 0; r < DELAY_POOL_RECORDS; ++r)
        if (std::memcmp(&a.delayPool[r], &b.delayPool[r], sizeof(DelayLine)) != 0) {
            const auto* wa = reinterpret_cast<const std::uint32_t*>(&a.delayPool[r]);
            const auto* wb = reinterpret_cast<const std::uint32_t*>(&b.delayPool[r]);
            std::uint32_t w = 0;
            while (wa[w] == wb[w]) ++w;
            return ::testing::AssertionFailure() << "delay record " << r << " word " << w << " differs: " << std::hex
                                                 << wa[w] << " vs " << wb[w];
        }
    if (a.noiseSeed != b.noiseSeed) return ::testing::AssertionFailure() << "noiseSeed differs";
    if (a.nextFrame != b.nextFrame) return ::testing::AssertionFailure() << "nextFrame differs";
    if (a.delayCursor != b.delayCursor) return ::testing::AssertionFailure() << "delayCursor differs";
    if (a.commandPos != b.commandPos || a.parameterPos != b.parameterPos)
        return ::testing::AssertionFailure() << "stream positions differ";
    if (a.stack.depth != b.stack.depth) return ::testing::AssertionFailure() << "stack depth differs";
    return ::testing::AssertionSuccess();
}

inline ::testing::AssertionResult sameFrames(const StereoFrame* a, const StereoFrame* b, std::size_t count,
                                             std::uint32_t firstFrame = 0) {
    for (std::size_t i = 0; i < count; ++i)
        if (std::memcmp(&a[i], &b[i], sizeof(StereoFrame)) != 0)
            return ::testing::AssertionFailure() << "frame " << firstFrame + i << " differs: " << a[i].left << ","
                                                 << a[i].right << " vs " << b[i].left << "," << b[i].right;
    return ::testing::AssertionSuccess();
}
