#pragma once
// The units' shared constants and numeric routines, and the clip of the
// render loop: inline, so that the reference units and the fast loop run
// the very same arithmetic. The one shared value that changes, the noise
// seed, lives in SynthState (noiseSeed).

#include <cmath>
#include <cstdint>

#include "bit_cast.h"
#include "song_format.h"

// A parameter byte times PARAM_SCALE is the unit's parameter (byte 128 is 1).
inline constexpr float PARAM_SCALE = 0.0078125f;
// The noise seed divided by NOISE_DIVISOR gives -1 to 1.
inline constexpr std::int32_t NOISE_DIVISOR = INT32_MIN;
inline constexpr float HALF = 0.5f;
// The Delay's read-position modulation, in frames per unit of depth.
inline constexpr float DELAY_MOD_SCALE = 1024.0f;
// The pole of the Delay's DC blocker.
inline constexpr float DC_COEFF = 0.99609375f;
// An Envelope stage's rate is 2^(-ENV_TIME_SCALE × parameter) per frame.
inline constexpr std::int32_t ENV_TIME_SCALE = 24;
// The Oscillator's pitch: 2^(semitones × ONE_TWELFTH) × PITCH_SCALE cycles
// per frame (LFO_PITCH_SCALE in LFO mode). Fixed by their bit patterns.
inline constexpr float ONE_TWELFTH = 0.0833333284f;
inline constexpr float PITCH_SCALE = 9.26961366e-5f;
inline constexpr float LFO_PITCH_SCALE = 5.29101017e-5f;
inline constexpr std::uint32_t ONE_TWELFTH_BITS = 0x3DAAAAAAu;
inline constexpr std::uint32_t PITCH_SCALE_BITS = 0x38C265DCu;
inline constexpr std::uint32_t LFO_PITCH_SCALE_BITS = 0x385DEBCAu;
static_assert(bitCast<std::uint32_t>(ONE_TWELFTH) == ONE_TWELFTH_BITS);
static_assert(bitCast<std::uint32_t>(PITCH_SCALE) == PITCH_SCALE_BITS);
static_assert(bitCast<std::uint32_t>(LFO_PITCH_SCALE) == LFO_PITCH_SCALE_BITS);
static_assert(PARAM_SCALE * 128.0f == 1.0f);
static_assert(DC_COEFF == 255.0f / 256.0f);
inline constexpr double TWO_PI = 6.283185307179586476925286766559;

// 2^x: the integer part truncated toward zero and the remainder, 2^remainder
// times 2^integer part. NaN passes through; exponents beyond the range of a
// double saturate to +inf or 0 (converting the integer part would overflow
// there), which is what 2^x is.
inline double pow2(double x) {
    if (x != x) return x;
    if (x > 2048.0) return HUGE_VAL;
    if (x < -2048.0) return 0.0;
    const double whole = std::trunc(x);
    const double remainder = x - whole;
    return std::ldexp(std::exp2(remainder), static_cast<int>(whole));
}

// 2^(-24 p): the per-frame step of an envelope stage.
inline double envelopeRate(double p) { return pow2(-static_cast<double>(ENV_TIME_SCALE) * p); }

inline double waveshapeClamp(double v) {
    if (v >= 1.0) return 1.0;
    if (v <= -1.0) return -1.0;
    return v;
}

// g = 2a / (1 - a'), a = 2(k - HALF), a' = a rounded to a 32-bit float.
// Where 1 - a' is 0 (k = 1) the curve's limit is the sign function, which
// +inf stands for (2a / (1 - a') is finite wherever 1 - a' is not 0).
inline double waveshapeGain(double k) {
    const double a = 2.0 * (k - static_cast<double>(HALF));
    const double denominator = 1.0 - static_cast<double>(static_cast<float>(a));
    if (denominator == 0.0) return HUGE_VAL;
    return 2.0 * a / denominator;
}

// y (clamped already) × (1 + g) / (1 + g |y|). Where the denominator is 0
// (k outside 0..1) the result is the clamped input.
inline double waveshapeApply(double y, double g) {
    if (g == HUGE_VAL) {
        if (y > 0.0) return 1.0;
        if (y < 0.0) return -1.0;
        return y;
    }
    const double denominator = 1.0 + g * std::fabs(y);
    if (denominator == 0.0) return y;
    return y * (1.0 + g) / denominator;
}

inline double waveshape(double v, double k) { return waveshapeApply(waveshapeClamp(v), waveshapeGain(k)); }

// The noise source: the seed times 16007, wrapping, divided by -2^31.
inline double nextNoise(std::int32_t& seed) {
    seed = static_cast<std::int32_t>(static_cast<std::uint32_t>(seed) * 16007u);
    return static_cast<double>(seed) / static_cast<double>(NOISE_DIVISOR);
}

// The clip of the render loop: NaN and values from 1 up give +1, values down from
// -1 give -1, everything else passes unchanged (-0.0 included).
inline float clipSample(float x) {
    if (x > 1.0f || x == 1.0f || x != x) return 1.0f;
    if (x > -1.0f) return x;
    return -1.0f;
}

// fmod(a, 1): the remainder of a truncated division, with the sign of a.
// Bit-identical to std::fmod(a, 1.0) (the remainder is exact either way)
// but without the library call where |a| < 2^52.
inline double fmodOne(double a) {
    if (!(std::fabs(a) < 4503599627370496.0)) return std::fmod(a, 1.0);
    const double r = a - static_cast<double>(static_cast<std::int64_t>(a));
    return r == 0.0 ? std::copysign(0.0, a) : r;
}

// The Oscillator's shapes for the phase x and the breakpoint c.
inline double oscillatorShape(std::int32_t& seed, std::uint8_t flags, double x, double c) {
    if (flags & OSC_SINE) return std::sin(TWO_PI * x);
    if (flags & OSC_TRISAW) {
        if (x <= c) {
            // c = 0 at x = 0 is 0/0: -1, where the rising edge starts (and what
            // any x < 0 gives for c = 0 after the waveshaper's clamp).
            if (c == 0.0) return -1.0;
            return 2.0 * x / c - 1.0;
        }
        return 2.0 * (1.0 - x) / (1.0 - c) - 1.0;
    }
    if (flags & OSC_PULSE) return x <= c ? 1.0 : -1.0;
    if (flags & OSC_NOISE) return nextNoise(seed);
    return 0.0;  // no shape bit: silence (the song has none)
}
