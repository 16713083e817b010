// The kernels for processors with AVX-512 (F, BW, DQ, VL, IFMA), eight frames per step,
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

namespace vinto {

namespace {

#define VINTO_AVX512 __attribute__((target("avx512f,avx512bw,avx512dq,avx512vl,avx512ifma")))

// The entry at index and the one after it, as one 32-bit word (the entry at
// index in the low half).
inline uint32_t EntryPair(const int16_t* data, uint64_t position) {
    uint32_t pair;
    memcpy(&pair, data + static_cast<int32_t>(static_cast<uint32_t>(position >> 32)), sizeof pair);
    return pair;
}

// The state a run carries from one step to the next.
struct Run {
    const int16_t* data;
    int32_t last_entry;  // highest index that may be read
    uint64_t position;   // of the step's first frame
    uint64_t delta;
    bool backward;
    __m512i positions;      // of the step's frames, in lane order
    __m512i step;           // eight deltas
    __m512d frame_numbers;  // of frames 0, 0, 1, 1, .. 3, 3 of the step (ramps)
};

// The constants of a step.
struct StepConstants {
    __m512i both_words;               // 0x10001 in each lane
    __m512i minus_first_plus_second;  // words -1, +1
    __m512d four;
    __m512d eight;
};

// Word 0 of each lane picks the frame's entry (its offset o in a window of
// entries starting at index low), word 1 the one after it: o + (o + 1) x 2^16,
// formed as index x 0x10001 + 0x10000 - low x 0x10001 (modulo 2^32, which is
// all the picks use).
VINTO_AVX512 __attribute__((always_inline)) inline __m512i Picks(__m512i positions, int32_t low,
                                                                 const StepConstants& c) {
    const uint64_t bias = 0x10000 - static_cast<uint64_t>(static_cast<int64_t>(low)) * 0x10001;
    return _mm512_madd52lo_epu64(_mm512_set1_epi64(static_cast<int64_t>(bias)), _mm512_srli_epi64(positions, 32),
                                 c.both_words);
}

// The rest of a step of count frames (1..8) once each lane's pair of entries
// is known: the values, the gains, and the output (only count frames' values
// are read and written). Moves the positions on by eight frames.
template <bool RAMP, bool STORE = false>
VINTO_AVX512 __attribute__((always_inline)) inline void FinishStep(Run& run, __m512i pairs, float* o, int32_t count,
                                                                   __m512d start, __m512d steps,
                                                                   const StepConstants& c) {
    const __m512i e0_scaled = _mm512_srai_epi64(_mm512_slli_epi64(pairs, 48), 17);   // e0 x 2^31
    const __m512i difference = _mm512_madd_epi16(pairs, c.minus_first_plus_second);  // e1 - e0
    const __m512i fractions = _mm512_srli_epi32(run.positions, 1);                   // low half of each lane
    run.positions = _mm512_add_epi64(run.positions, run.step);
    const __m512d values = _mm512_cvtepi64_pd(_mm512_add_epi64(_mm512_mul_epi32(fractions, difference), e0_scaled));
    const __m512d first_half = _mm512_unpacklo_pd(values, values);   // frames 0, 0, 1, 1, .. 3, 3
    const __m512d second_half = _mm512_unpackhi_pd(values, values);  // frames 4, 4, .. 7, 7
    __m512d gains0 = start;
    __m512d gains1 = start;
    if (RAMP) {
        gains0 = _mm512_add_pd(start, _mm512_mul_pd(run.frame_numbers, steps));
        gains1 = _mm512_add_pd(start, _mm512_mul_pd(_mm512_add_pd(run.frame_numbers, c.four), steps));
        run.frame_numbers = _mm512_add_pd(run.frame_numbers, c.eight);
    }
    if (STORE) {
        // The values stand at +0: adding the products to +0 (which turns a
        // -0 product into +0) is all the addition does.
        const __m512d zero = _mm512_setzero_pd();
        const __m512d sum0 = _mm512_add_pd(zero, _mm512_mul_pd(first_half, gains0));
        const __m512d sum1 = _mm512_add_pd(zero, _mm512_mul_pd(second_half, gains1));
        if (count == 8) {
            _mm256_storeu_ps(o, _mm512_cvtpd_ps(sum0));
            _mm256_storeu_ps(o + 8, _mm512_cvtpd_ps(sum1));
        } else {
            const uint32_t values_mask = (uint32_t{1} << (2 * count)) - 1;
            _mm256_mask_storeu_ps(o, static_cast<__mmask8>(values_mask), _mm512_cvtpd_ps(sum0));
            _mm256_mask_storeu_ps(o + 8, static_cast<__mmask8>(values_mask >> 8), _mm512_cvtpd_ps(sum1));
        }
    } else if (count == 8) {
        const __m512d sum0 = _mm512_add_pd(_mm512_cvtps_pd(_mm256_loadu_ps(o)), _mm512_mul_pd(first_half, gains0));
        const __m512d sum1 = _mm512_add_pd(_mm512_cvtps_pd(_mm256_loadu_ps(o + 8)), _mm512_mul_pd(second_half, gains1));
        _mm256_storeu_ps(o, _mm512_cvtpd_ps(sum0));
        _mm256_storeu_ps(o + 8, _mm512_cvtpd_ps(sum1));
    } else {
        const uint32_t values_mask = (uint32_t{1} << (2 * count)) - 1;
        const __mmask8 mask0 = static_cast<__mmask8>(values_mask);
        const __mmask8 mask1 = static_cast<__mmask8>(values_mask >> 8);
        const __m512d sum0 =
            _mm512_add_pd(_mm512_cvtps_pd(_mm256_maskz_loadu_ps(mask0, o)), _mm512_mul_pd(first_half, gains0));
        const __m512d sum1 =
            _mm512_add_pd(_mm512_cvtps_pd(_mm256_maskz_loadu_ps(mask1, o + 8)), _mm512_mul_pd(second_half, gains1));
        _mm256_mask_storeu_ps(o, mask0, _mm512_cvtpd_ps(sum0));
        _mm256_mask_storeu_ps(o + 8, mask1, _mm512_cvtpd_ps(sum1));
    }
}

// One step of up to eight frames (count 1..8; lanes of later frames are
// computed but neither read from memory nor stored).
template <bool RAMP, bool STORE = false>
VINTO_AVX512 __attribute__((always_inline)) inline void MixStep(Run& run, float* o, int32_t count, __m512d start,
                                                                __m512d steps, const StepConstants& c) {
    const int16_t* data = run.data;
    const uint64_t position = run.position;
    const uint64_t delta = run.delta;
    const int32_t first = static_cast<int32_t>(static_cast<uint32_t>(position >> 32));
    const int32_t last =
        static_cast<int32_t>(static_cast<uint32_t>((position + static_cast<uint64_t>(count - 1) * delta) >> 32));
    const int32_t low = run.backward ? last : first;
    const uint32_t span = static_cast<uint32_t>(run.backward ? first - last : last - first);
    __m512i pairs;
    if (span <= 30) {
        __m512i window;
        if (low + 31 <= run.last_entry) {
            window = _mm512_loadu_si512(data + low);
        } else {
            const __mmask32 needed = static_cast<__mmask32>((uint64_t{1} << (span + 2)) - 1);
            window = _mm512_maskz_loadu_epi16(needed, data + low);
        }
        pairs = _mm512_permutexvar_epi16(Picks(run.positions, low, c), window);
    } else {
        uint64_t pair[8] = {};
        static const int32_t lane_of_frame[8] = {0, 2, 4, 6, 1, 3, 5, 7};
        for (int32_t f = 0; f < count; f++) pair[lane_of_frame[f]] = EntryPair(data, position + f * delta);
        pairs = _mm512_loadu_si512(pair);
    }
    run.position = position + 8 * delta;
    FinishStep<RAMP, STORE>(run, pairs, o, count, start, steps, c);
}

// Sixteen frames whose entries all lie in one window of 32 (steps up to about
// 1.9, away from the loop end) share the window's reading and the scalar work
// of a step; others take two steps of eight.
template <bool RAMP, bool STORE = false>
VINTO_AVX512 __attribute__((always_inline)) inline void MixDoubleStep(Run& run, float* o, __m512d start, __m512d steps,
                                                                      const StepConstants& c) {
    const uint64_t position = run.position;
    const int32_t first = static_cast<int32_t>(static_cast<uint32_t>(position >> 32));
    const int32_t last = static_cast<int32_t>(static_cast<uint32_t>((position + 15 * run.delta) >> 32));
    const int32_t low = run.backward ? last : first;
    const uint32_t span = static_cast<uint32_t>(run.backward ? first - last : last - first);
    if (span > 30 || low + 31 > run.last_entry) {
        MixStep<RAMP, STORE>(run, o, 8, start, steps, c);
        MixStep<RAMP, STORE>(run, o + 16, 8, start, steps, c);
        return;
    }
    const __m512i window = _mm512_loadu_si512(run.data + low);
    const __m512i pairs0 = _mm512_permutexvar_epi16(Picks(run.positions, low, c), window);
    const __m512i pairs1 = _mm512_permutexvar_epi16(Picks(_mm512_add_epi64(run.positions, run.step), low, c), window);
    run.position = position + 16 * run.delta;
    FinishStep<RAMP, STORE>(run, pairs0, o, 8, start, steps, c);
    FinishStep<RAMP, STORE>(run, pairs1, o + 16, 8, start, steps, c);
}

// Eight frames per step. The lanes hold frames 0, 4, 1, 5, 2, 6, 3, 7, so that
// the in-lane unpacks give the values of frames 0..3 and 4..7 each twice, for
// the two sides of a frame in output order.
//
// The entries: when the eight frames need at most 32 entries in a row (steps
// up to about 4), 32 entries from the first are read at once (only those
// needed, by a masked load, near the loop end) and each frame picks its two
// with a word permutation; otherwise each frame's pair is read on its own. A run's last
// frames (fewer than eight) take one more step, reading and writing only
// their own entries and output values.
//
// The value e0 x 2^31 + fraction x (e1 - e0) is formed exactly in 64-bit
// integers (below 2^48 in magnitude; e1 - e0 by one multiply-add of the two
// 16-bit entries with -1 and +1) and converted exactly. The weighting and
// the addition to the output stay separate operations, each rounding once, as
// in the plain loop. With RAMP the gains of frame k are start + k x step,
// which the caller has found exact (RampSumsExact).
template <bool RAMP, bool STORE = false>
VINTO_AVX512 inline void MixFrames(float* out, const int16_t* data, int32_t last_entry, uint64_t position,
                                   uint64_t delta, int32_t frames, __m512d start, __m512d steps) {
    Run run;
    run.data = data;
    run.last_entry = last_entry;
    run.position = position;
    run.delta = delta;
    run.backward = static_cast<int64_t>(delta) < 0;
    // Lane j holds frame (0, 4, 1, 5, 2, 6, 3, 7)[j] of the step: one delta
    // added in lanes 2, 3, 6, 7, two in lanes 4..7, four in the odd lanes.
    __m512i positions = _mm512_set1_epi64(static_cast<int64_t>(position));
    positions = _mm512_mask_add_epi64(positions, 0xCC, positions, _mm512_set1_epi64(static_cast<int64_t>(delta)));
    positions = _mm512_mask_add_epi64(positions, 0xF0, positions, _mm512_set1_epi64(static_cast<int64_t>(2 * delta)));
    positions = _mm512_mask_add_epi64(positions, 0xAA, positions, _mm512_set1_epi64(static_cast<int64_t>(4 * delta)));
    run.positions = positions;
    run.step = _mm512_set1_epi64(static_cast<int64_t>(8 * delta));
    run.frame_numbers = _mm512_setr_pd(0, 0, 1, 1, 2, 2, 3, 3);
    StepConstants c;
    c.both_words = _mm512_set1_epi64(0x10001);
    c.minus_first_plus_second = _mm512_set1_epi32(0x0001FFFF);
    c.four = _mm512_set1_pd(4);
    c.eight = _mm512_set1_pd(8);
    int32_t k = 0;
    for (; k + 16 <= frames; k += 16) MixDoubleStep<RAMP, STORE>(run, out + 2 * k, start, steps, c);
    if (k + 8 <= frames) {
        MixStep<RAMP, STORE>(run, out + 2 * k, 8, start, steps, c);
        k += 8;
    }
    if (k < frames) MixStep<RAMP, STORE>(run, out + 2 * k, frames - k, start, steps, c);
}

}  // namespace

VINTO_AVX512 void MixFixedAvx512(float* out, const int16_t* data, int32_t last_entry, uint64_t position, uint64_t delta,
                                 int32_t frames, float left, float right) {
    constexpr double FRACTION_UNIT = 1.0 / 2147483648.0;
    const double scaled_left = left * FRACTION_UNIT;
    const double scaled_right = right * FRACTION_UNIT;
    const __m512d gains = _mm512_setr_pd(scaled_left, scaled_right, scaled_left, scaled_right, scaled_left,
                                         scaled_right, scaled_left, scaled_right);
    MixFrames<false>(out, data, last_entry, position, delta, frames, gains, gains);
}

VINTO_AVX512 void MixFixedAvx512Cleared(float* out, const int16_t* data, int32_t last_entry, uint64_t position,
                                        uint64_t delta, int32_t frames, float left, float right) {
    constexpr double FRACTION_UNIT = 1.0 / 2147483648.0;
    const double scaled_left = left * FRACTION_UNIT;
    const double scaled_right = right * FRACTION_UNIT;
    const __m512d gains = _mm512_setr_pd(scaled_left, scaled_right, scaled_left, scaled_right, scaled_left,
                                         scaled_right, scaled_left, scaled_right);
    MixFrames<false, true>(out, data, last_entry, position, delta, frames, gains, gains);
}

VINTO_AVX512 void MixRampAvx512(float* out, const int16_t* data, int32_t last_entry, uint64_t position, uint64_t delta,
                                int32_t frames, float left, float right, float left_step, float right_step,
                                double* end_gains) {
    constexpr double FRACTION_UNIT = 1.0 / 2147483648.0;
    const double gl = left * FRACTION_UNIT;
    const double gr = right * FRACTION_UNIT;
    const double step_left = left_step * FRACTION_UNIT;
    const double step_right = right_step * FRACTION_UNIT;
    if (!RampSumsExact(gl, gr, step_left, step_right, frames)) {
        MixRampPlain(out, data, last_entry, position, delta, frames, left, right, left_step, right_step, end_gains);
        return;
    }
    MixFrames<true>(
        out, data, last_entry, position, delta, frames, _mm512_setr_pd(gl, gr, gl, gr, gl, gr, gl, gr),
        _mm512_setr_pd(step_left, step_right, step_left, step_right, step_left, step_right, step_left, step_right));
    end_gains[0] = (gl + frames * step_left) * 2147483648.0;
    end_gains[1] = (gr + frames * step_right) * 2147483648.0;
}

}  // namespace vinto

#endif

