// Checks of the SynthConstants' bit patterns (the routines themselves are
// inline in synth_math.h).
#include "bit_cast.h"

#include "synth_state.h"

static_assert(bitCast<std::uint32_t>(ONE_TWELFTH) == ONE_TWELFTH_BITS);
static_assert(bitCast<std::uint32_t>(PITCH_SCALE) == PITCH_SCALE_BITS);
static_assert(bitCast<std::uint32_t>(LFO_PITCH_SCALE) == LFO_PITCH_SCALE_BITS);
static_assert(PARAM_SCALE * 128.0f == 1.0f);
static_assert(DC_COEFF == 255.0f / 256.0f);

float bitsToFloat(std::uint32_t bits) { return bitCast<float>(bits); }
