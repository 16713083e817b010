// The fixed-gain kernel for processors with AVX2 and FMA, four frames per
// step, chosen at run time. Compiled for those instructions through function
// attributes only, so the rest of the engine runs on any x86-64.
#include <string.h>

#include "mixer/mix_kernels.h"

#if VINTO_MIX_AVX2
#include <immintrin.h>

namespace vinto {

namespace {

// The entry at index and the one after it, as one 32-bit word (little-endian:
// the entry at index in the low half).
inline uint32_t EntryPair(const int16_t* data, uint64_t position) {
    uint32_t pair;
    memcpy(&pair, data + static_cast<int32_t>(static_cast<uint32_t>(position >> 32)), sizeof pair);
    return pair;
}

// Four frames per step, taken in the order 0, 2, 1, 3 so that duplicating the
// value of each frame for its two sides is an in-lane unpack. The value
// e0 x 2^31 + fraction x (e1 - e0) is formed in double precision from the
// three integers: e0 x 2^31 and the product are exact (below 2^47), and so is
// their sum (below 2^48), so the fused multiply-add rounds nothing. The
// weighting and the addition to the output stay separate operations, each
// rounding once, as in the plain loop. With RAMP the gains of frame k are
// start + k x step, which the caller has found exact (RampSumsExact).
template <bool RAMP>
__attribute__((target("avx2,fma"), always_inline)) inline void MixFrames(float* out, const int16_t* data,
                                                                         uint64_t position, uint64_t delta,
                                                                         int32_t frames, __m256d start, __m256d steps) {
    const __m256d entry_scale = _mm256_set1_pd(2147483648.0);
    // Lanes hold the positions of frames 0, 2, 1, 3 of the step.
    __m256i positions =
        _mm256_setr_epi64x(static_cast<int64_t>(position), static_cast<int64_t>(position + 2 * delta),
                           static_cast<int64_t>(position + delta), static_cast<int64_t>(position + 3 * delta));
    const __m256i step = _mm256_set1_epi64x(static_cast<int64_t>(4 * delta));
    const __m256i low_words = _mm256_setr_epi32(0, 2, 4, 6, 0, 2, 4, 6);
    // Frame numbers for the two sides of frames 0, 1 and of frames 2, 3.
    __m256d frames01 = _mm256_setr_pd(0, 0, 1, 1);
    __m256d frames23 = _mm256_setr_pd(2, 2, 3, 3);
    const __m256d four = _mm256_set1_pd(4);
    int32_t k = 0;
    for (; k + 4 <= frames; k += 4) {
        const uint32_t pair0 = EntryPair(data, position);
        const uint32_t pair1 = EntryPair(data, position + delta);
        const uint32_t pair2 = EntryPair(data, position + 2 * delta);
        const uint32_t pair3 = EntryPair(data, position + 3 * delta);
        position += 4 * delta;
        __m128i pairs = _mm_cvtsi32_si128(static_cast<int32_t>(pair0));
        pairs = _mm_insert_epi32(pairs, static_cast<int32_t>(pair2), 1);
        pairs = _mm_insert_epi32(pairs, static_cast<int32_t>(pair1), 2);
        pairs = _mm_insert_epi32(pairs, static_cast<int32_t>(pair3), 3);
        const __m128i e0 = _mm_srai_epi32(_mm_slli_epi32(pairs, 16), 16);
        const __m128i difference = _mm_sub_epi32(_mm_srai_epi32(pairs, 16), e0);
        const __m128i fractions =
            _mm_srli_epi32(_mm256_castsi256_si128(_mm256_permutevar8x32_epi32(positions, low_words)), 1);
        positions = _mm256_add_epi64(positions, step);
        const __m256d values = _mm256_fmadd_pd(_mm256_cvtepi32_pd(fractions), _mm256_cvtepi32_pd(difference),
                                               _mm256_mul_pd(_mm256_cvtepi32_pd(e0), entry_scale));
        const __m256d first = _mm256_unpacklo_pd(values, values);   // frames 0, 0, 1, 1
        const __m256d second = _mm256_unpackhi_pd(values, values);  // frames 2, 2, 3, 3
        __m256d gains01 = start;
        __m256d gains23 = start;
        if (RAMP) {
            gains01 = _mm256_add_pd(start, _mm256_mul_pd(frames01, steps));
            gains23 = _mm256_add_pd(start, _mm256_mul_pd(frames23, steps));
            frames01 = _mm256_add_pd(frames01, four);
            frames23 = _mm256_add_pd(frames23, four);
        }
        float* o = out + 2 * k;
        const __m256d sum0 = _mm256_add_pd(_mm256_cvtps_pd(_mm_loadu_ps(o)), _mm256_mul_pd(first, gains01));
        const __m256d sum1 = _mm256_add_pd(_mm256_cvtps_pd(_mm_loadu_ps(o + 4)), _mm256_mul_pd(second, gains23));
        _mm_storeu_ps(o, _mm256_cvtpd_ps(sum0));
        _mm_storeu_ps(o + 4, _mm256_cvtpd_ps(sum1));
    }
    // The last frames one at a time, both sides as one pair.
    const __m128d start_pair = _mm256_castpd256_pd128(start);
    const __m128d step_pair = _mm256_castpd256_pd128(steps);
    for (; k < frames; k++) {
        const int32_t index = static_cast<int32_t>(static_cast<uint32_t>(position >> 32));
        const int64_t e0 = data[index];
        const int64_t fraction = static_cast<uint32_t>(position) >> 1;
        const double value = static_cast<double>(e0 * 2147483648 + fraction * (data[index + 1] - e0));
        position += delta;
        const __m128d gains = RAMP ? _mm_add_pd(start_pair, _mm_mul_pd(_mm_set1_pd(k), step_pair)) : start_pair;
        __m64* o = reinterpret_cast<__m64*>(out + 2 * k);
        const __m128d sum =
            _mm_add_pd(_mm_cvtps_pd(_mm_loadl_pi(_mm_setzero_ps(), o)), _mm_mul_pd(_mm_set1_pd(value), gains));
        _mm_storel_pi(o, _mm_cvtpd_ps(sum));
    }
}

}  // namespace

__attribute__((target("avx2,fma"))) void MixFixedAvx2(float* out, const int16_t* data, int32_t /*last_entry*/,
                                                      uint64_t position, uint64_t delta, int32_t frames, float left,
                                                      float right) {
    constexpr double FRACTION_UNIT = 1.0 / 2147483648.0;
    const double scaled_left = left * FRACTION_UNIT;
    const double scaled_right = right * FRACTION_UNIT;
    const __m256d gains = _mm256_setr_pd(scaled_left, scaled_right, scaled_left, scaled_right);
    MixFrames<false>(out, data, position, delta, frames, gains, gains);
}

__attribute__((target("avx2,fma"))) void MixRampAvx2(float* out, const int16_t* data, int32_t last_entry,
                                                     uint64_t position, uint64_t delta, int32_t frames, float left,
                                                     float right, float left_step, float right_step,
                                                     double* end_gains) {
    constexpr double FRACTION_UNIT = 1.0 / 2147483648.0;
    const double gl = left * FRACTION_UNIT;
    const double gr = right * FRACTION_UNIT;
    const double step_left = left_step * FRACTION_UNIT;
    const double step_right = right_step * FRACTION_UNIT;
    if (!RampSumsExact(gl, gr, step_left, step_right, frames)) {
        MixRampSse2(out, data, last_entry, position, delta, frames, left, right, left_step, right_step, end_gains);
        return;
    }
    MixFrames<true>(out, data, position, delta, frames, _mm256_setr_pd(gl, gr, gl, gr),
                    _mm256_setr_pd(step_left, step_right, step_left, step_right));
    end_gains[0] = (gl + frames * step_left) * 2147483648.0;
    end_gains[1] = (gr + frames * step_right) * 2147483648.0;
}

}  // namespace vinto

#endif

