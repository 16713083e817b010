// The plain kernels: one frame at a time, the rule for every other variant.
// (The Windows program keeps only the ramp kernel: its fixed gains go through
// SSE2.)
#include "mixer/mix_kernels.h"
#include "mixer/mix_scalar.h"

namespace vinto {

// Frames of a run with fixed gains, one at a time. Positions advance by delta
// (the step, or its two's complement when moving backward) in 32.32
// arithmetic.
#if !VINTO_MIX_COMPACT
MIX_KERNEL void MixFixedPlain(float* out, const int16_t* data, int32_t /*last_entry*/, uint64_t position,
                              uint64_t delta, int32_t frames, float left, float right) {
    const double scaled_left = left * FRACTION_UNIT;
    const double scaled_right = right * FRACTION_UNIT;
    for (int32_t k = 0; k < frames; k++) {
        const double s = ScaledValue(data, position);
        const double l = out[2 * k] + s * scaled_left;
        const double r = out[2 * k + 1] + s * scaled_right;
        out[2 * k] = static_cast<float>(l);
        out[2 * k + 1] = static_cast<float>(r);
        position += delta;
    }
}
#endif

// Frames of a ramp run from the given gains: after every frame the gains grow
// by their steps, carried in double precision (scaled by 2^-31 like the gains
// of the fixed-gain kernels, which changes no sum). Stores the gains after the
// last step, unscaled.
MIX_KERNEL void MixRampPlain(float* out, const int16_t* data, int32_t /*last_entry*/, uint64_t position, uint64_t delta,
                             int32_t frames, float left, float right, float left_step, float right_step,
                             double* end_gains) {
    double gl = left * FRACTION_UNIT;
    double gr = right * FRACTION_UNIT;
    const double step_left = left_step * FRACTION_UNIT;
    const double step_right = right_step * FRACTION_UNIT;
    for (int32_t k = 0; k < frames; k++) {
        const double s = ScaledValue(data, position);
        const double l = out[2 * k] + s * gl;
        const double r = out[2 * k + 1] + s * gr;
        out[2 * k] = static_cast<float>(l);
        out[2 * k + 1] = static_cast<float>(r);
        gl += step_left;
        gr += step_right;
        position += delta;
    }
    end_gains[0] = gl * 2147483648.0;
    end_gains[1] = gr * 2147483648.0;
}

}  // namespace vinto
