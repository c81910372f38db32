// The units' behaviours that pin numbers.
#include <gtest/gtest.h>

#include <cmath>

#include "synth_test_util.h"

namespace {

constexpr std::uint8_t ENV = OP_ENVELOPE, OSC = OP_OSCILLATOR, FLT = OP_FILTER, DIST = OP_DISTORT,
                       DLY = OP_DELAY, SOP = OP_STACKOP, STO = OP_STORE, PAN = OP_PAN, OUT = OP_OUTPUT,
                       ACC = OP_ACCUMULATE, NOP = OP_NOP;

// ---------------------------------------------------------------- Envelope

TEST(Envelope, SilentVoicePushesZeroAndLeavesSlot) {
    ChainRunner r(ChainBuilder().unit(ENV, {0, 0, 0, 0, 128}));
    r.slot(0)[1].f = 0.5f;
    r.voice().releaseCount = 1;
    r.run();
    ASSERT_EQ(r.depth(), 1u);
    EXPECT_EQ(doubleBits(r.pop()), doubleBits(0.0));
    EXPECT_EQ(r.slot(0)[0].u, 0u);
    EXPECT_EQ(r.slot(0)[1].f, 0.5f);
    EXPECT_EQ(r.state->parameterPos, 5u);
}

TEST(Envelope, AttackByteZeroReachesOneInTheFirstFrame) {
    ChainRunner r(ChainBuilder().unit(ENV, {0, 64, 64, 64, 96}));
    r.voice().note = 60;
    r.run();
    EXPECT_EQ(r.pop(), 0.75);  // 1 x gain
    EXPECT_EQ(r.slot(0)[0].u & 0xFF, DECAY);
    EXPECT_EQ(r.slot(0)[1].f, 1.0f);
}

TEST(Envelope, RatesAreTwoToMinus24P) {
    EXPECT_EQ(envelopeRate(0.0), 1.0);
    EXPECT_EQ(envelopeRate(1.0), std::ldexp(1.0, -24));
    EXPECT_EQ(envelopeRate(0.5), std::ldexp(1.0, -12));
}

TEST(Envelope, SustainZeroStaysInSustainUntilReleaseThenDoneAfterOneFrame) {
    ChainRunner r(ChainBuilder().unit(ENV, {0, 0, 0, 64, 128}));
    r.voice().note = 60;
    r.run();
    r.pop();
    EXPECT_EQ(r.slot(0)[0].u & 0xFF, DECAY);
    r.run();
    EXPECT_EQ(r.pop(), 0.0);
    EXPECT_EQ(r.slot(0)[0].u & 0xFF, SUSTAIN);
    for (int i = 0; i < 100; ++i) {
        r.run();
        EXPECT_EQ(r.pop(), 0.0);
        EXPECT_EQ(r.slot(0)[0].u & 0xFF, SUSTAIN);
    }
    r.voice().releaseCount = 1;
    r.run();
    EXPECT_EQ(r.pop(), 0.0);
    EXPECT_EQ(r.slot(0)[0].u & 0xFF, DONE);
}

TEST(Envelope, DecayByteZeroWithSustainOneEndsAtOnce) {
    ChainRunner r(ChainBuilder().unit(ENV, {0, 0, 128, 64, 128}));
    r.voice().note = 60;
    r.run();
    r.pop();
    r.run();
    EXPECT_EQ(r.pop(), 1.0);
    EXPECT_EQ(r.slot(0)[0].u & 0xFF, SUSTAIN);
    EXPECT_EQ(r.slot(0)[1].f, 1.0f);
}

TEST(Envelope, ReleaseByteZeroEndsInTheFirstReleaseFrame) {
    ChainRunner r(ChainBuilder().unit(ENV, {0, 64, 64, 0, 128}));
    r.voice().note = 60;
    r.run();
    r.pop();
    r.voice().releaseCount = 1;
    r.run();
    EXPECT_EQ(r.pop(), 0.0);
    EXPECT_EQ(r.slot(0)[0].u & 0xFF, DONE);
    EXPECT_EQ(r.slot(0)[1].f, 0.0f);
}

TEST(Envelope, ReleaseDuringAttackFallsFromTheLevelReached) {
    ChainRunner r(ChainBuilder().unit(ENV, {64, 64, 64, 64, 128}));
    r.voice().note = 60;
    for (int i = 0; i < 10; ++i) {
        r.run();
        r.pop();
    }
    EXPECT_EQ(r.slot(0)[0].u & 0xFF, ATTACK);
    EXPECT_EQ(r.slot(0)[1].f, static_cast<float>(10 * std::ldexp(1.0, -12)));
    r.voice().releaseCount = 1;
    r.run();
    EXPECT_EQ(r.pop(), 9 * std::ldexp(1.0, -12));
    EXPECT_EQ(r.slot(0)[0].u & 0xFF, RELEASE);
}

TEST(Envelope, GainModIsAddedToGain) {
    ChainRunner r(ChainBuilder().unit(ENV, {0, 64, 64, 64, 64}));
    r.voice().note = 60;
    r.slot(0)[2].f = 0.25f;
    r.run();
    EXPECT_EQ(r.pop(), 0.75);
}

// -------------------------------------------------------------- Oscillator

TEST(Oscillator, Note81SoundsAt440Hz) {
    ChainRunner r(ChainBuilder().unit(OSC, {64, 64, 0, 64, 64, 128, OSC_SINE}));
    r.voice().note = 81;
    r.run();
    const double step = r.slot(0)[0].f;
    EXPECT_NEAR(step / (440.0 / 44100.0), 1.0, 1e-5);
    r.voice().note = 69;
    r.slot(0)[0].f = 0.0f;
    r.pop();
    r.run();
    EXPECT_NEAR(r.slot(0)[0].f / (220.0 / 44100.0), 1.0, 1e-5);
}

TEST(Oscillator, LfoCycleIs18900Frames) {
    ChainRunner r(ChainBuilder().unit(OSC, {64, 64, 0, 64, 64, 128, OSC_SINE | OSC_LFO}));
    r.voice().note = 81;  // not added in LFO mode
    r.run();
    const double step = r.slot(0)[0].f;
    EXPECT_NEAR(1.0 / step, 18900.0, 0.02);
}

TEST(Oscillator, SilentVoicePushesZeroAndDrawsNoNoise) {
    ChainRunner r(ChainBuilder().unit(OSC, {64, 64, 0, 64, 64, 128, OSC_NOISE}));
    r.run();
    EXPECT_EQ(r.pop(), 0.0);
    EXPECT_EQ(r.state->noiseSeed, 1);
    EXPECT_EQ(r.slot(0)[0].u, 0u);
    EXPECT_EQ(r.state->parameterPos, 7u);
}

TEST(Oscillator, FirstTwoNoiseValues) {
    ChainRunner r(ChainBuilder().unit(OSC, {64, 64, 0, 64, 64, 128, OSC_NOISE}));
    r.voice().note = 60;
    r.run();
    EXPECT_EQ(r.pop(), -16007.0 / 2147483648.0);
    r.run();
    EXPECT_EQ(r.pop(), -256224049.0 / 2147483648.0);
    EXPECT_EQ(r.state->noiseSeed, 256224049);
}

TEST(Oscillator, NoiseSeedWrapsAndStaysOdd) {
    std::int32_t seed = 1;
    for (int i = 0; i < 100000; ++i) {
        const double v = nextNoise(seed);
        ASSERT_NE(v, 0.0);
        ASSERT_GT(v, -1.0);
        ASSERT_LT(v, 1.0);
        ASSERT_EQ(seed & 1, 1);
    }
}

TEST(Oscillator, PhaseShiftHalfInvertsSine) {
    ChainRunner a(ChainBuilder().unit(OSC, {64, 64, 0, 64, 64, 128, OSC_SINE}));
    ChainRunner b(ChainBuilder().unit(OSC, {64, 64, 64, 64, 64, 128, OSC_SINE}));
    a.voice().note = b.voice().note = 70;
    for (int i = 0; i < 50; ++i) {
        a.run();
        b.run();
        EXPECT_NEAR(a.pop(), -b.pop(), 1e-12);
    }
}

TEST(Oscillator, Shapes) {
    std::int32_t seed = 1;
    EXPECT_EQ(oscillatorShape(seed, OSC_TRISAW, 0.0, 0.5), -1.0);
    EXPECT_EQ(oscillatorShape(seed, OSC_TRISAW, 0.25, 0.5), 0.0);
    EXPECT_EQ(oscillatorShape(seed, OSC_TRISAW, 0.5, 0.5), 1.0);
    EXPECT_EQ(oscillatorShape(seed, OSC_TRISAW, 0.75, 0.5), 0.0);
    // c = 0 at x = 0 is defined (0/0 otherwise).
    EXPECT_EQ(oscillatorShape(seed, OSC_TRISAW, 0.0, 0.0), -1.0);
    EXPECT_EQ(oscillatorShape(seed, OSC_PULSE, 0.3, 0.3), 1.0);
    EXPECT_EQ(oscillatorShape(seed, OSC_PULSE, 0.31, 0.3), -1.0);
    EXPECT_EQ(oscillatorShape(seed, OSC_PULSE, 0.99, 1.0), 1.0);
    EXPECT_EQ(oscillatorShape(seed, OSC_PULSE, 0.0, -0.01), -1.0);
    EXPECT_NEAR(oscillatorShape(seed, OSC_SINE, 0.25, 0.9), 1.0, 1e-15);
    EXPECT_EQ(seed, 1);
}

TEST(Oscillator, ModulationWordsShiftPitchAndGain) {
    // transposeMod 12/128 is 12 semitones: an octave up.
    ChainRunner a(ChainBuilder().unit(OSC, {64, 64, 0, 64, 64, 128, OSC_SINE}));
    a.voice().note = 69;
    a.slot(0)[1].f = 12.0f / 128.0f;
    a.slot(0)[7].f = -0.5f;
    a.run();
    EXPECT_NEAR(a.slot(0)[0].f / (440.0 / 44100.0), 1.0, 1e-5);
    const double x = a.slot(0)[0].f;
    EXPECT_NEAR(a.pop(), std::sin(TWO_PI * x) * 0.5, 1e-6);
}

// -------------------------------------------------------------- waveshape

TEST(Waveshape, HalfLeavesTheValue) {
    for (double v : {-1.0, -0.7, -0.1, 0.0, 0.3, 0.999, 1.0}) EXPECT_EQ(waveshape(v, 0.5), v);
    EXPECT_EQ(waveshape(3.0, 0.5), 1.0);
    EXPECT_EQ(waveshape(-3.0, 0.5), -1.0);
}

TEST(Waveshape, PlusMinusOneAreFixedForEveryK) {
    for (int byte = 1; byte < 128; ++byte) {
        const double k = byte / 128.0;
        EXPECT_EQ(waveshape(1.0, k), 1.0) << byte;
        EXPECT_EQ(waveshape(-1.0, k), -1.0) << byte;
        EXPECT_EQ(waveshape(0.0, k), 0.0) << byte;
    }
}

TEST(Waveshape, BendsTowardOnesAboveHalfAndTowardZeroBelow) {
    EXPECT_GT(waveshape(0.3, 0.75), 0.3);
    EXPECT_LT(waveshape(0.3, 0.25), 0.3);
    EXPECT_EQ(waveshapeGain(127.0 / 128.0), 126.0);
    // k = .75: a = .5, g = 2, so .5 becomes .5 * 3 / 2.
    EXPECT_EQ(waveshape(0.5, 0.75), 0.75);
    // k = .25: a = -.5, g = -2/3, so .5 becomes .5 * (1/3) / (2/3).
    EXPECT_DOUBLE_EQ(waveshape(0.5, 0.25), 0.25);
}

TEST(Waveshape, OnlyTheDenominatorUsesTheRoundedAmount) {
    // a = 2(k - .5) is not a float for k = .6: the gain's numerator keeps it
    // in double, the denominator takes it rounded to a float.
    const double k = 0.6;
    const double a = 2.0 * (k - 0.5);
    const double aRounded = static_cast<float>(a);
    ASSERT_NE(a, aRounded);
    const double g = 2.0 * a / (1.0 - aRounded);
    EXPECT_EQ(waveshapeGain(k), g);
    EXPECT_NE(waveshapeGain(k), 2.0 * aRounded / (1.0 - aRounded));
    EXPECT_NE(waveshapeGain(k), 2.0 * a / (1.0 - a));
    EXPECT_EQ(waveshape(-0.4, k), -0.4 * (1.0 + g) / (1.0 + g * 0.4));
}

TEST(Waveshape, DenominatorsOfZeroGiveDefinedValues) {
    // k = 1: 1 - a' = 0; the limit is the sign.
    EXPECT_EQ(waveshape(0.3, 1.0), 1.0);
    EXPECT_EQ(waveshape(-0.3, 1.0), -1.0);
    EXPECT_EQ(waveshape(0.0, 1.0), 0.0);
    // k = 0: g = -1, 1 + g|y| = 0 at |y| = 1: the clamped input.
    EXPECT_EQ(waveshape(1.0, 0.0), 1.0);
    EXPECT_EQ(waveshape(-2.0, 0.0), -1.0);
    EXPECT_EQ(waveshape(0.5, 0.0), 0.0);
    for (double k : {-1.0, -0.25, 1.0, 1.25, 3.0})
        for (double v : {-1.0, -0.75, -0.5, 0.0, 0.25, 0.75, 1.0}) EXPECT_FALSE(std::isnan(waveshape(v, k))) << k << " " << v;
}

TEST(Pow2, SplitsAndSaturates) {
    EXPECT_EQ(pow2(0.0), 1.0);
    EXPECT_EQ(pow2(-24.0), std::ldexp(1.0, -24));
    EXPECT_EQ(pow2(10.0), 1024.0);
    EXPECT_DOUBLE_EQ(pow2(-1.5), std::exp2(-1.5));
    EXPECT_DOUBLE_EQ(pow2(6.75), std::exp2(6.75));
    EXPECT_TRUE(std::isnan(pow2(std::nan(""))));
    EXPECT_EQ(pow2(1e300), HUGE_VAL);
    EXPECT_EQ(pow2(-1e300), 0.0);
    EXPECT_EQ(pow2(HUGE_VAL), HUGE_VAL);
    EXPECT_EQ(pow2(-HUGE_VAL), 0.0);
}

TEST(FmodOne, MatchesTheLibraryBitForBit) {
    const double values[] = {0.0, -0.0, 1.0, -1.0, 2.0, 0.5, -0.5, 1.25, -1.25, 1e-300, -1e-300, 3.999999999999,
                             1.0 + 1e-16, 123456.789, -98765.4321, 4503599627370495.5, 4503599627370496.0,
                             1e300, -1e300, HUGE_VAL, -HUGE_VAL};
    for (double v : values) {
        const double a = fmodOne(v);
        const double b = std::fmod(v, 1.0);
        if (std::isnan(b)) {
            EXPECT_TRUE(std::isnan(a)) << v;
        } else {
            EXPECT_EQ(doubleBits(a), doubleBits(b)) << v;
        }
    }
    std::uint64_t x = 88172645463325252ull;
    for (int i = 0; i < 200000; ++i) {
        x ^= x << 13;
        x ^= x >> 7;
        x ^= x << 17;
        const double v = (static_cast<double>(x >> 11) / 9007199254740992.0) * 6.0 - 3.0;
        ASSERT_EQ(doubleBits(fmodOne(v)), doubleBits(std::fmod(v, 1.0))) << v;
    }
}

// ------------------------------------------------------------------ Filter

TEST(Filter, SilentVoiceLeavesTheTopValue) {
    ChainRunner r(ChainBuilder().unit(FLT, {64, 64, 1}));
    r.push(0.123456789);
    r.run();
    ASSERT_EQ(r.depth(), 1u);
    EXPECT_EQ(r.pop(), 0.123456789);
    EXPECT_EQ(r.slot(0)[0].u, 0u);
    EXPECT_EQ(r.state->parameterPos, 3u);
}

TEST(Filter, FlagsZeroOutputsZero) {
    ChainRunner r(ChainBuilder().unit(FLT, {64, 64, 0}));
    r.voice().note = 60;
    for (int i = 0; i < 10; ++i) {
        r.push(0.7);
        r.run();
        EXPECT_EQ(doubleBits(r.pop()), doubleBits(0.0));
    }
}

TEST(Filter, FlagsSumTheSelectedStoredOutputsInOrder) {
    // Low, high, band and peak (low - high), and the mixes the song uses.
    for (std::uint8_t flags : {1, 2, 4, 8, 3, 7, 15}) {
        ChainRunner r(ChainBuilder().unit(FLT, {64, 64, flags}));
        r.voice().note = 60;
        double low = 0, band = 0;
        for (double v : {0.7, -0.2, 0.4, 0.9}) {
            r.push(v);
            r.run();
            const double f = 0.25;
            const float coefficient = static_cast<float>(f);
            const float lowS = static_cast<float>(low + f * band);
            const float highS = static_cast<float>(v - (low + f * band) - 0.5 * band);
            const float bandS = static_cast<float>(band + coefficient * (v - (low + f * band) - 0.5 * band));
            double out = 0.0;
            if (flags & 1) out += lowS;
            if (flags & 2) out += highS;
            if (flags & 4) out += bandS;
            if (flags & 8) out += static_cast<double>(lowS) - highS;
            EXPECT_EQ(r.pop(), (out + 0.5) - 0.5) << int(flags);
            low = lowS;
            band = bandS;
            EXPECT_EQ(r.slot(0)[0].f, lowS);
            EXPECT_EQ(r.slot(0)[1].f, highS);
            EXPECT_EQ(r.slot(0)[2].f, bandS);
            EXPECT_EQ(r.slot(0)[3].f, coefficient);
        }
    }
}

TEST(Filter, FrequencyZeroPassesTheInputAsHighPass) {
    ChainRunner r(ChainBuilder().unit(FLT, {0, 64, 2}));
    r.voice().note = 60;
    for (double v : {0.7, -0.2, 0.4, 0.9, 0.0, -1.0}) {
        r.push(v);
        r.run();
        EXPECT_EQ(r.pop(), ((static_cast<double>(static_cast<float>(v))) + 0.5) - 0.5);
        EXPECT_EQ(r.slot(0)[0].f, 0.0f);
        EXPECT_EQ(r.slot(0)[2].f, 0.0f);
    }
}

TEST(Filter, TinyOutputsAreFlushedToZero) {
    ChainRunner r(ChainBuilder().unit(FLT, {0, 64, 2}));
    r.voice().note = 60;
    r.push(1e-20);
    r.run();
    EXPECT_EQ(doubleBits(r.pop()), doubleBits(0.0));
}

// ----------------------------------------------------------------- Distort

TEST(Distort, SilentVoiceLeavesTheTopValue) {
    ChainRunner r(ChainBuilder().unit(DIST, {100, 64}));
    r.push(0.75);
    r.run();
    EXPECT_EQ(r.pop(), 0.75);
    EXPECT_EQ(r.state->parameterPos, 2u);
}

TEST(Distort, HoldRateZeroHoldsTheFirstShapedValueForTheWholeNote) {
    ChainRunner r(ChainBuilder().unit(DIST, {96, 0}));
    r.voice().note = 60;
    r.push(0.3);
    r.run();
    const double first = r.pop();
    EXPECT_EQ(first, waveshape(0.3, 0.75));
    for (double v : {0.9, -0.4, 0.0, 0.55}) {
        r.push(v);
        r.run();
        EXPECT_EQ(r.pop(), static_cast<double>(static_cast<float>(first)));
    }
    EXPECT_EQ(r.slot(0)[1].f, 1.0f);
}

TEST(Distort, HoldRate128ShapesEveryFrame) {
    ChainRunner r(ChainBuilder().unit(DIST, {96, 128}));
    r.voice().note = 60;
    for (double v : {0.3, 0.9, -0.4, 0.0, 0.55, 2.0}) {
        r.push(v);
        r.run();
        EXPECT_EQ(r.pop(), waveshape(v, 0.75));
    }
}

// ------------------------------------------------------------------- Delay

TEST(Delay, DepthZeroDelaysByExactlyLFrames) {
    // entry 24: 224 frames; input gain 1, dry 0, no feedback.
    ChainRunner r(ChainBuilder().unit(DLY, {128, 0, 0, 0, 0, 0, 24, 1}));
    for (int i = 0; i < 224; ++i) {
        r.push(1.0);
        r.run();
        ASSERT_EQ(r.pop(), 0.0) << i;
    }
    r.push(1.0);
    r.run();
    EXPECT_EQ(r.pop(), 1.0);
    EXPECT_EQ(r.state->delayPool[0].writePos, 1);
}

TEST(Delay, DryAndNoInputGainIsTheDcBlockedInput) {
    ChainRunner r(ChainBuilder().unit(DLY, {0, 128, 64, 64, 0, 0, 24, 1}));
    const double c = 0.5;
    r.push(c);
    r.run();
    EXPECT_EQ(r.pop(), c);
    for (int n = 1; n <= 2000; ++n) {
        r.push(c);
        r.run();
        const double expected = c * std::pow(255.0 / 256.0, n);
        ASSERT_NEAR(r.pop(), expected, 1e-6 * c) << n;
    }
}

TEST(Delay, UsesTheNextRecordsDcWordsAndMovesTheCursor) {
    ChainRunner r(ChainBuilder().unit(DLY, {0, 128, 64, 64, 0, 0, 0, 3}));
    r.push(0.25);
    r.run();
    r.pop();
    EXPECT_EQ(r.state->delayCursor, 3u);
    EXPECT_EQ(r.state->delayPool[3].dcPrevIn, 0.25f);
    EXPECT_EQ(r.state->delayPool[3].dcPrevOut, 0.25f);
    EXPECT_EQ(r.state->delayPool[0].dcPrevIn, 0.0f);
}

TEST(Delay, FeedbackAndDampingFollowTheRecurrence) {
    // One line of 224 frames, input gain 1, dry 0, feedback 0.5, damping 0.5.
    ChainRunner r(ChainBuilder().unit(DLY, {128, 0, 64, 64, 0, 0, 24, 1}));
    r.push(1.0);
    r.run();
    r.pop();
    for (int i = 1; i < 224; ++i) {
        r.push(0.0);
        r.run();
        r.pop();
    }
    // Frame 224 reads the 1 written at frame 0: f = 0.5*1 + 0.5*0 = 0.5,
    // written back 0 + 0.5*0.5.
    r.push(0.0);
    r.run();
    EXPECT_EQ(r.pop(), 1.0);
    EXPECT_EQ(r.state->delayPool[0].damped, 0.5f);
    EXPECT_EQ(r.state->delayPool[0].samples[224 % 224], 0.25f);
}

TEST(Delay, LfoMovesTheReadPosition) {
    ChainRunner r(ChainBuilder().unit(DLY, {128, 0, 0, 0, 128, 64, 24, 1}));
    r.push(0.0);
    r.run();
    r.pop();
    // lfoRate 1: phase 1/1024 after one frame.
    EXPECT_EQ(r.state->delayPool[0].lfoPhase, static_cast<float>(1.0 / 1024.0));
}

TEST(Delay, SilentVoiceStillMovesCursorAndParameterPosition) {
    ChainRunner r(ChainBuilder()
                      .unit(ENV, {0, 64, 64, 64, 128})
                      .unit(OSC, {64, 64, 0, 64, 64, 128, OSC_SINE})
                      .unit(FLT, {64, 64, 1})
                      .unit(DIST, {64, 128})
                      .unit(DLY, {64, 128, 64, 64, 0, 0, 0, 2})
                      .unit(SOP, {STACK_POP})
                      .unit(DLY, {64, 128, 64, 64, 0, 0, 16, 1})
                      .unit(SOP, {STACK_POP}));
    r.run();
    EXPECT_EQ(r.depth(), 0u);
    EXPECT_EQ(r.state->parameterPos, 5u + 7 + 3 + 2 + 8 + 1 + 8 + 1);
    EXPECT_EQ(r.state->delayCursor, 3u);
    EXPECT_EQ(r.state->delayPool[0].writePos, 1);
    EXPECT_EQ(r.state->delayPool[1].writePos, 1);
    EXPECT_EQ(r.state->delayPool[2].writePos, 1);
}

// ----------------------------------------------------------------- StackOp

struct StackCase {
    std::uint8_t operation;
    std::vector<double> before;  // top first
    std::vector<double> after;   // top first
};

TEST(StackOp, Operations) {
    const StackCase cases[] = {
        {STACK_POP, {1, 2}, {2}},
        {STACK_ADD_POP, {1, 2, 9}, {3, 9}},
        {STACK_MUL_POP, {3, 2, 9}, {6, 9}},
        {STACK_DUP, {1, 2}, {1, 1, 2}},
        {STACK_SWAP, {1, 2, 9}, {2, 1, 9}},
        {STACK_ADD, {2, 3}, {5, 3}},
        {STACK_MUL, {2, 3}, {6, 3}},
        {STACK_ADD_PAIRS, {1, 2, 3, 4}, {4, 6}},
    };
    for (const StackCase& c : cases) {
        ChainRunner r(ChainBuilder().unit(SOP, {c.operation}));
        for (auto it = c.before.rbegin(); it != c.before.rend(); ++it) r.push(*it);
        r.run();
        ASSERT_EQ(r.depth(), c.after.size()) << int(c.operation);
        for (std::size_t i = 0; i < c.after.size(); ++i) EXPECT_EQ(r.top(i), c.after[i]) << int(c.operation);
        EXPECT_EQ(r.state->parameterPos, 1u);
    }
}

TEST(StackOp, SwapTwiceLeavesTheStack) {
    ChainRunner r(ChainBuilder().unit(SOP, {STACK_SWAP}).unit(SOP, {STACK_SWAP}));
    r.push(7);
    r.push(8);
    r.run();
    EXPECT_EQ(r.top(0), 8);
    EXPECT_EQ(r.top(1), 7);
}

// ------------------------------------------------------------------- Store

TEST(Store, WritesScaledTopAndKeepsIt) {
    ChainRunner r(ChainBuilder().unit(STO, {0, 13}).unit(STO, {64, 14}).unit(STO, {128, 15}).unit(STO, {96, 255}));
    r.push(0.75);
    r.run();
    ASSERT_EQ(r.depth(), 1u);
    EXPECT_EQ(r.top(), 0.75);
    EXPECT_EQ(r.voice().slots[13].f, -0.75f);
    EXPECT_EQ(r.voice().slots[14].f, 0.0f);
    EXPECT_EQ(r.voice().slots[15].f, 0.75f);
    EXPECT_EQ(r.voice().slots[255].f, 0.375f);
}

TEST(Store, IntoALaterUnitActsInTheSameFrame) {
    // Store into the positionMod of the Pan at position 1 (slotAddress 8).
    ChainRunner r(ChainBuilder().unit(STO, {128, 8}).unit(PAN, {0}));
    r.push(1.0);
    r.run();
    EXPECT_EQ(r.top(0), 0.0);  // left
    EXPECT_EQ(r.top(1), 1.0);  // right
}

TEST(Store, IntoAnEarlierUnitActsInTheNextFrame) {
    // Pan at position 0, then a Store of the left value into its positionMod.
    ChainRunner r(ChainBuilder().unit(PAN, {0}).unit(STO, {128, 0}));
    r.push(0.25);
    r.run();
    EXPECT_EQ(r.pop(), 0.25);
    EXPECT_EQ(r.pop(), 0.0);
    EXPECT_EQ(r.slot(0)[0].f, 0.25f);
    r.push(0.25);
    r.run();
    EXPECT_EQ(r.pop(), 0.1875);
    EXPECT_EQ(r.pop(), 0.0625);
}

TEST(Store, TheLaterOfTwoStoresToOneWordWins) {
    ChainRunner r(ChainBuilder().unit(STO, {128, 20}).unit(STO, {0, 20}));
    r.push(0.5);
    r.run();
    EXPECT_EQ(r.voice().slots[20].f, -0.5f);
}

// --------------------------------------------------------------------- Pan

TEST(Pan, Positions) {
    for (const auto& [byte, left, right] : {std::tuple<std::uint8_t, double, double>{0, 0.8, 0.0},
                                             {64, 0.4, 0.4},
                                             {128, 0.0, 0.8}}) {
        ChainRunner r(ChainBuilder().unit(PAN, {byte}));
        r.push(0.8);
        r.run();
        ASSERT_EQ(r.depth(), 2u);
        EXPECT_EQ(r.top(0), left) << int(byte);
        EXPECT_EQ(r.top(1), right) << int(byte);
    }
}

// ------------------------------------------------------------------ Output

TEST(Output, AuxGainZeroWritesZerosIntoAuxOut) {
    ChainRunner r(ChainBuilder().unit(OUT, {64, 0}));
    r.voice().auxOut[0] = 5.0f;
    r.push(0.6);   // right
    r.push(-0.2);  // left
    r.run();
    EXPECT_EQ(r.depth(), 0u);
    EXPECT_EQ(r.voice().auxOut[0], 0.0f);
    EXPECT_EQ(r.voice().auxOut[1], 0.0f);
    EXPECT_EQ(r.voice().mainOut[0], -0.1f);
    EXPECT_EQ(r.voice().mainOut[1], 0.3f);
}

TEST(Output, GainModAndAuxGain) {
    ChainRunner r(ChainBuilder().unit(OUT, {64, 32}));
    r.slot(0)[1].f = 0.5f;
    r.push(0.5);
    r.push(1.0);
    r.run();
    EXPECT_EQ(r.voice().auxOut[0], 0.25f);
    EXPECT_EQ(r.voice().auxOut[1], 0.125f);
    EXPECT_EQ(r.voice().mainOut[0], 1.0f);
    EXPECT_EQ(r.voice().mainOut[1], 0.5f);
}

// -------------------------------------------------------------- Accumulate

TEST(Accumulate, SumsAllTrackVoicesSoundingOrNot) {
    for (std::uint8_t source : {std::uint8_t{0}, std::uint8_t{8}}) {
        ChainRunner r(ChainBuilder().unit(ACC, {source}));
        double left = 0, right = 0;
        for (std::uint32_t v = 0; v < VOICE_COUNT; ++v) {
            Voice& voice = r.voice(v);
            voice.note = v % 3 == 0 ? 0 : 60;  // some silent, some sounding
            float* pair = source == 8 ? voice.auxOut : voice.mainOut;
            float* other = source == 8 ? voice.mainOut : voice.auxOut;
            pair[0] = 0.01f * static_cast<float>(v);
            pair[1] = -0.02f * static_cast<float>(v);
            other[0] = 100.0f;
            other[1] = 100.0f;
            if (v < TRACK_VOICES) {
                left += pair[0];
                right += pair[1];
            }
        }
        r.run(MASTER_VOICE);
        ASSERT_EQ(r.depth(), 2u);
        EXPECT_EQ(r.top(0), left);
        EXPECT_EQ(r.top(1), right);
    }
}

// --------------------------------------------------------------------- Nop

TEST(Nop, MovesNothingButTakesAUnitSlot) {
    ChainRunner r(ChainBuilder().unit(NOP).unit(ENV, {0, 64, 64, 64, 128}));
    r.voice().note = 60;
    r.run();
    EXPECT_EQ(r.state->parameterPos, 5u);
    EXPECT_EQ(r.depth(), 1u);
    EXPECT_EQ(r.slot(0)[1].f, 0.0f);
    EXPECT_EQ(r.slot(1)[1].f, 1.0f);
}

TEST(UnitMachine, EmptyInstrumentRunsNothing) {
    ChainRunner r(ChainBuilder{});
    r.voice().mainOut[0] = 0.5f;
    r.run();
    EXPECT_EQ(r.state->commandPos, 1u);
    EXPECT_EQ(r.voice().mainOut[0], 0.5f);
}

TEST(UnitMachine, UnknownOpcodesRunAsNop) {
    ChainRunner r(ChainBuilder().unit(200).unit(ENV, {0, 64, 64, 64, 128}));
    r.voice().note = 60;
    r.run();
    EXPECT_EQ(r.state->parameterPos, 5u);
    EXPECT_EQ(r.slot(1)[1].f, 1.0f);
}

TEST(UnitMachine, EachUnitMovesTheStackAndTheStreamAsItsFormatSays) {
    // The format table (song_format.h) that the song check and the fast loop
    // go by, against the units themselves, sounding and silent: every StackOp
    // operation, and every other unit with parameters that it accepts.
    for (std::uint8_t opcode = OP_ENVELOPE; opcode < OPCODE_COUNT; ++opcode) {
        for (std::uint8_t operation = STACK_POP; operation <= (opcode == OP_STACKOP ? STACK_ADD_PAIRS : STACK_POP);
             ++operation) {
            for (std::uint32_t note : {0u, 60u}) {
                ChainBuilder chain;
                chain.commands.push_back(opcode);
                chain.parameters.assign(unitParamCount(opcode), 64);
                if (opcode == OP_OSCILLATOR) chain.parameters[6] = OSC_SINE;
                if (opcode == OP_DELAY) chain.parameters[6] = 0, chain.parameters[7] = 2;
                if (opcode == OP_STACKOP) chain.parameters[0] = operation;
                if (opcode == OP_ACCUMULATE) chain.parameters[0] = 8;
                ChainRunner r(chain);
                r.voice().note = note;
                for (int i = 0; i < 4; ++i) r.push(0.25 * i);
                r.run();
                const StackEffect effect = unitStackEffect(opcode, chain.parameters.empty() ? 0 : chain.parameters.back());
                EXPECT_EQ(r.depth(), 4u - effect.pops + effect.pushes) << int(opcode) << " " << int(operation);
                EXPECT_EQ(r.state->parameterPos, unitParamCount(opcode)) << int(opcode);
            }
        }
    }
}

TEST(UnitMachine, LoadUnitParamsScalesAndReturnsTheLastByte) {
    TestSong song;
    song.parameters = {0, 64, 128, 255, 7};
    song.commands = {0};
    auto s = makeSynthState(song.finish());
    EXPECT_EQ(loadUnitParams(*s, 4), 255);
    EXPECT_EQ(s->loadedParams[0], 0.0f);
    EXPECT_EQ(s->loadedParams[1], 0.5f);
    EXPECT_EQ(s->loadedParams[2], 1.0f);
    EXPECT_EQ(s->loadedParams[3], 1.9921875f);
    EXPECT_EQ(s->parameterPos, 4u);
}

TEST(SharedConstants, BitPatterns) {
    EXPECT_EQ(floatBits(ONE_TWELFTH), 0x3DAAAAAAu);
    EXPECT_EQ(floatBits(PITCH_SCALE), 0x38C265DCu);
    EXPECT_EQ(floatBits(LFO_PITCH_SCALE), 0x385DEBCAu);
    EXPECT_EQ(makeSynthState()->noiseSeed, 1);
}

}  // namespace
