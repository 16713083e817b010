// The kernels for processors with AVX-512 (F, BW, DQ), eight frames per step,
// chosen at run time. Compiled for those instructions through function
// attributes only, so the rest of the engine runs on any x86-64.
#include <string.h>

#include "mixer/mix_kernels.h"

#if VINTO_MIX_AVX512
// GCC 12's AVX-512 intrinsics warn about their own undefined placeholder
// operands (its bug 105593); nothing here is used uninitialised.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#pragma GCC diagnostic ignored "-Wuninitialized"
#endif
#include <immintrin.h>

namespace {

#define VINTO_AVX512 __attribute__((target("avx512f,avx512bw,avx512dq,avx512vl")))

// The entry at index and the one after it, as one 32-bit word (the entry at
// index in the low half).
inline uint32_t EntryPair(const int16_t* data, uint64_t position) {
    uint32_t pair;
    memcpy(&pair, data + static_cast<int32_t>(static_cast<uint32_t>(position >> 32)), sizeof pair);
    return pair;
}

// Eight frames per step. The lanes hold frames 0, 4, 1, 5, 2, 6, 3, 7, so that
// the in-lane unpacks give the values of frames 0..3 and 4..7 each twice, for
// the two sides of a frame in output order.
//
// The entries: when the eight frames need at most 32 entries in a row (steps
// up to about 4), those entries alone are read in one masked load (lanes
// outside the mask are never read) and each frame picks its two with a word
// permutation; otherwise each frame's pair is read on its own.
//
// The value e0 x 2^31 + fraction x (e1 - e0) is formed exactly in 64-bit
// integers (below 2^48 in magnitude) and converted exactly. The weighting and
// the addition to the output stay separate operations, each rounding once, as
// in the plain loop. With RAMP the gains of frame k are start + k x step,
// which the caller has found exact (RampSumsExact).
template <bool RAMP>
VINTO_AVX512 inline void MixFrames(float* out, const int16_t* data, uint64_t position, uint64_t delta,
                                   int32_t frames, __m512d start, __m512d steps) {
    const uint64_t p = position;
    const uint64_t d = delta;
    __m512i positions = _mm512_setr_epi64(static_cast<int64_t>(p), static_cast<int64_t>(p + 4 * d),
                                          static_cast<int64_t>(p + d), static_cast<int64_t>(p + 5 * d),
                                          static_cast<int64_t>(p + 2 * d), static_cast<int64_t>(p + 6 * d),
                                          static_cast<int64_t>(p + 3 * d), static_cast<int64_t>(p + 7 * d));
    const __m512i step = _mm512_set1_epi64(static_cast<int64_t>(8 * d));
    const __m512i next_entry = _mm512_set1_epi64(0x10000);
    __m512d frame_numbers = _mm512_setr_pd(0, 0, 1, 1, 2, 2, 3, 3);
    const __m512d four = _mm512_set1_pd(4);
    const __m512d eight = _mm512_set1_pd(8);
    int32_t k = 0;
    for (; k + 8 <= frames; k += 8) {
        const int32_t first = static_cast<int32_t>(static_cast<uint32_t>(position >> 32));
        const int32_t last = static_cast<int32_t>(static_cast<uint32_t>((position + 7 * delta) >> 32));
        const int32_t low = first < last ? first : last;
        const uint32_t span = static_cast<uint32_t>((first < last ? last : first) - low);
        __m512i pairs;
        if (span <= 30) {
            const __mmask32 needed = static_cast<__mmask32>((uint64_t{1} << (span + 2)) - 1);
            const __m512i window = _mm512_maskz_loadu_epi16(needed, data + low);
            const __m512i offsets = _mm512_sub_epi64(_mm512_srai_epi64(positions, 32), _mm512_set1_epi64(low));
            // Word 0 of each lane picks the entry, word 1 the one after it.
            const __m512i picks = _mm512_add_epi64(_mm512_add_epi64(offsets, _mm512_slli_epi64(offsets, 16)), next_entry);
            pairs = _mm512_permutexvar_epi16(picks, window);
        } else {
            pairs = _mm512_setr_epi64(EntryPair(data, position), EntryPair(data, position + 4 * delta),
                                      EntryPair(data, position + delta), EntryPair(data, position + 5 * delta),
                                      EntryPair(data, position + 2 * delta), EntryPair(data, position + 6 * delta),
                                      EntryPair(data, position + 3 * delta), EntryPair(data, position + 7 * delta));
        }
        position += 8 * delta;
        const __m512i e0_scaled = _mm512_srai_epi64(_mm512_slli_epi64(pairs, 48), 17);  // e0 x 2^31
        const __m512i e0 = _mm512_srai_epi32(_mm512_slli_epi32(pairs, 16), 16);
        const __m512i difference = _mm512_sub_epi32(_mm512_srai_epi32(pairs, 16), e0);
        const __m512i fractions = _mm512_srli_epi32(positions, 1);  // low half of each lane
        positions = _mm512_add_epi64(positions, step);
        const __m512d values =
            _mm512_cvtepi64_pd(_mm512_add_epi64(_mm512_mul_epi32(fractions, difference), e0_scaled));
        const __m512d first_half = _mm512_unpacklo_pd(values, values);   // frames 0, 0, 1, 1, .. 3, 3
        const __m512d second_half = _mm512_unpackhi_pd(values, values);  // frames 4, 4, .. 7, 7
        __m512d gains0 = start;
        __m512d gains1 = start;
        if (RAMP) {
            gains0 = _mm512_add_pd(start, _mm512_mul_pd(frame_numbers, steps));
            gains1 = _mm512_add_pd(start, _mm512_mul_pd(_mm512_add_pd(frame_numbers, four), steps));
            frame_numbers = _mm512_add_pd(frame_numbers, eight);
        }
        float* o = out + 2 * k;
        const __m512d sum0 = _mm512_add_pd(_mm512_cvtps_pd(_mm256_loadu_ps(o)), _mm512_mul_pd(first_half, gains0));
        const __m512d sum1 =
            _mm512_add_pd(_mm512_cvtps_pd(_mm256_loadu_ps(o + 8)), _mm512_mul_pd(second_half, gains1));
        _mm256_storeu_ps(o, _mm512_cvtpd_ps(sum0));
        _mm256_storeu_ps(o + 8, _mm512_cvtpd_ps(sum1));
    }
    // The last frames one at a time, both sides as one pair.
    const __m128d start_pair = _mm512_castpd512_pd128(start);
    const __m128d step_pair = _mm512_castpd512_pd128(steps);
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

VINTO_AVX512 void MixFixedAvx512(float* out, const int16_t* data, uint64_t position, uint64_t delta,
                                 int32_t frames, float left, float right) {
    constexpr double FRACTION_UNIT = 1.0 / 2147483648.0;
    const double scaled_left = left * FRACTION_UNIT;
    const double scaled_right = right * FRACTION_UNIT;
    const __m512d gains = _mm512_setr_pd(scaled_left, scaled_right, scaled_left, scaled_right, scaled_left,
                                         scaled_right, scaled_left, scaled_right);
    MixFrames<false>(out, data, position, delta, frames, gains, gains);
}

VINTO_AVX512 void MixRampAvx512(float* out, const int16_t* data, uint64_t position, uint64_t delta,
                                int32_t frames, float left, float right, float left_step, float right_step,
                                double* end_gains) {
    constexpr double FRACTION_UNIT = 1.0 / 2147483648.0;
    const double gl = left * FRACTION_UNIT;
    const double gr = right * FRACTION_UNIT;
    const double step_left = left_step * FRACTION_UNIT;
    const double step_right = right_step * FRACTION_UNIT;
    if (!RampSumsExact(gl, gr, step_left, step_right, frames)) {
        MixRampPlain(out, data, position, delta, frames, left, right, left_step, right_step, end_gains);
        return;
    }
    MixFrames<true>(out, data, position, delta, frames, _mm512_setr_pd(gl, gr, gl, gr, gl, gr, gl, gr),
                    _mm512_setr_pd(step_left, step_right, step_left, step_right, step_left, step_right, step_left,
                                   step_right));
    end_gains[0] = (gl + frames * step_left) * 2147483648.0;
    end_gains[1] = (gr + frames * step_right) * 2147483648.0;
}

#endif
