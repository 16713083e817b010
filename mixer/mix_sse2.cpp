// The SSE2 kernels (every x86 build): two frames per step. Ramps run several
// frames at a time only where the sums are exact (RampSumsExact), and not in
// the Windows program.
#include <string.h>

#include "mixer/mix_kernels.h"
#include "mixer/mix_scalar.h"

#if VINTO_MIX_SSE2
#include <emmintrin.h>
#endif

namespace vinto {

#if VINTO_MIX_SSE2
namespace {

// Adds two frames' values times their gains (left, right pairs) to the four
// output values at o, each sum rounded to single precision once.
inline void AddTwoFrames(float* o, double s0, __m128d gains0, double s1, __m128d gains1) {
    const __m128 values = _mm_loadu_ps(o);
    const __m128d sum0 = _mm_add_pd(_mm_cvtps_pd(values), _mm_mul_pd(_mm_set1_pd(s0), gains0));
    const __m128d high = _mm_cvtps_pd(_mm_movehl_ps(values, values));
    const __m128d sum1 = _mm_add_pd(high, _mm_mul_pd(_mm_set1_pd(s1), gains1));
    _mm_storeu_ps(o, _mm_movelh_ps(_mm_cvtpd_ps(sum0), _mm_cvtpd_ps(sum1)));
}

// The same for one frame (the odd frame at a run's end).
inline void AddOneFrame(float* o, double s, __m128d gains) {
    __m64* pair = reinterpret_cast<__m64*>(o);
    const __m128d sum = _mm_add_pd(_mm_cvtps_pd(_mm_loadl_pi(_mm_setzero_ps(), pair)), _mm_mul_pd(_mm_set1_pd(s), gains));
    _mm_storel_pi(pair, _mm_cvtpd_ps(sum));
}

}  // namespace

// Two frames per step: the two sides of a frame form one pair of doubles, and
// the four output values of two frames are read and written at once.
MIX_KERNEL void MixFixedSse2(float* out, const int16_t* data, int32_t /*last_entry*/, uint64_t position, uint64_t delta,
                             int32_t frames, float left, float right) {
    const __m128d gains = _mm_set_pd(right * FRACTION_UNIT, left * FRACTION_UNIT);
    int32_t k = 0;
    for (; k + 2 <= frames; k += 2) {
        const double s0 = ScaledValue(data, position);
        position += delta;
        const double s1 = ScaledValue(data, position);
        position += delta;
        AddTwoFrames(out + 2 * k, s0, gains, s1, gains);
    }
    if (k < frames) AddOneFrame(out + 2 * k, ScaledValue(data, position), gains);
}
#endif

#if VINTO_MIX_SIMD_RAMPS
namespace {

// The smallest power of two of which value is a whole multiple (value != 0).
double LowestBit(double value) {
    uint64_t bits;
    memcpy(&bits, &value, sizeof bits);
    int32_t exponent = static_cast<int32_t>((bits >> 52) & 0x7FF);
    uint64_t significand = bits & ((uint64_t{1} << 52) - 1);
    if (exponent == 0) {
        exponent = 1;  // subnormal: no hidden bit
    } else {
        significand |= uint64_t{1} << 52;
    }
#if defined(__GNUC__)
    const int32_t shift = __builtin_ctzll(significand);
#else
    int32_t shift = 0;
    while (!(significand & 1)) {
        significand >>= 1;
        shift++;
    }
#endif
    // 2^(exponent - 1075 + shift), built from its bits (always a normal double
    // here: gains and steps lie far above the subnormal range).
    const int64_t power = exponent - 1075 + shift;
    if (power < -1022) return 0;
    const uint64_t result_bits = static_cast<uint64_t>(power + 1023) << 52;
    double result;
    memcpy(&result, &result_bits, sizeof result);
    return result;
}

double Smaller(double a, double b) { return a < b ? a : b; }
double Magnitude(double a) { return a < 0 ? -a : a; }

}  // namespace

// Whether every gain of a ramp of the given frames, added up step by step,
// is exact: then gain k equals gain + k x step, which a kernel may form for
// several frames at once. All the values are whole multiples of the smallest
// lowest bit among the start gains and steps; as long as none exceeds 2^52
// of those units (half the precision's reach, a margin for the estimate),
// none of the sums rounds.
bool RampSumsExactByUnits(double left, double right, double left_step, double right_step, int32_t frames) {
    double unit = 0;
    const double values[4] = {left, right, left_step, right_step};
    for (double value : values) {
        if (value != value) return false;  // NaN
        if (value != 0) {
            const double bit = LowestBit(value);
            if (bit == 0) return false;
            unit = unit == 0 ? bit : Smaller(unit, bit);
        }
    }
    if (unit == 0) return true;                      // all zero
    const double reach = 4503599627370496.0 * unit;  // 2^52 units
    const double n = frames;
    return Magnitude(left) + n * Magnitude(left_step) < reach && Magnitude(right) + n * Magnitude(right_step) < reach;
}

// A ramp run two frames per step, when its sums are exact (else the plain
// loop): the gains of frame k are the start gains plus k steps.
MIX_KERNEL void MixRampSse2(float* out, const int16_t* data, int32_t last_entry, uint64_t position, uint64_t delta,
                            int32_t frames, float left, float right, float left_step, float right_step,
                            double* end_gains) {
    const double gl = left * FRACTION_UNIT;
    const double gr = right * FRACTION_UNIT;
    const double step_left = left_step * FRACTION_UNIT;
    const double step_right = right_step * FRACTION_UNIT;
    if (!RampSumsExact(gl, gr, step_left, step_right, frames)) {
        MixRampPlain(out, data, last_entry, position, delta, frames, left, right, left_step, right_step, end_gains);
        return;
    }
    const __m128d start = _mm_set_pd(gr, gl);
    const __m128d steps = _mm_set_pd(step_right, step_left);
    int32_t k = 0;
    for (; k + 2 <= frames; k += 2) {
        const double s0 = ScaledValue(data, position);
        position += delta;
        const double s1 = ScaledValue(data, position);
        position += delta;
        const __m128d gains0 = _mm_add_pd(start, _mm_mul_pd(_mm_set1_pd(k), steps));
        const __m128d gains1 = _mm_add_pd(start, _mm_mul_pd(_mm_set1_pd(k + 1), steps));
        AddTwoFrames(out + 2 * k, s0, gains0, s1, gains1);
    }
    if (k < frames)
        AddOneFrame(out + 2 * k, ScaledValue(data, position), _mm_add_pd(start, _mm_mul_pd(_mm_set1_pd(k), steps)));
    end_gains[0] = (gl + frames * step_left) * 2147483648.0;
    end_gains[1] = (gr + frames * step_right) * 2147483648.0;
}
#endif

}  // namespace vinto
