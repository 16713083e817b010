// Conversion of the float mix to signed 16-bit values, and the master volume
// applied on the way.
#include <string.h>

#include "output/convert_variants.h"
#include "output/output.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if VINTO_CONVERT_AVX512
#if defined(__GNUC__) && !defined(__clang__)
// GCC 12's AVX-512 intrinsics warn about their own undefined placeholder
// operands (its bug 105593).
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#pragma GCC diagnostic ignored "-Wuninitialized"
#endif
#include <immintrin.h>
#endif

namespace vinto {

namespace {

// Adding 1.5 x 2^23 puts every value of -32768..32767 into the binade where
// one unit is the float spacing, so the addition itself rounds to the nearest
// integer with halves to even, and the integer is the difference of the bit
// patterns. Exact, branch-free, and easy for the compiler to vectorise.
constexpr float ROUNDING_BIAS = 12582912.0f;
constexpr int32_t ROUNDING_BIAS_BITS = 0x4B400000;

constexpr int32_t SCALED_PIECE = 512;  // values scaled at a time on the stack

}  // namespace

namespace {

#if defined(__SSE2__)
// Eight values per step, the same rule: clipped first (maxps gives its second
// operand, the lower bound, for a NaN), then rounded in the default rounding
// mode, halves to even, and packed. Returns the values converted (a multiple
// of eight).
int32_t ConvertToPcm16Sse2(int16_t* out, float* in, int32_t count, bool clear) {
    const __m128 lowest = _mm_set1_ps(-32768.0f);
    const __m128 highest = _mm_set1_ps(32767.0f);
    int32_t i = 0;
    for (; i + 8 <= count; i += 8) {
        const __m128 a = _mm_min_ps(_mm_max_ps(_mm_loadu_ps(in + i), lowest), highest);
        const __m128 b = _mm_min_ps(_mm_max_ps(_mm_loadu_ps(in + i + 4), lowest), highest);
        if (clear) {
            _mm_storeu_ps(in + i, _mm_setzero_ps());
            _mm_storeu_ps(in + i + 4, _mm_setzero_ps());
        }
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), _mm_packs_epi32(_mm_cvtps_epi32(a), _mm_cvtps_epi32(b)));
    }
    return i;
}
#endif

#if VINTO_CONVERT_AVX512
// Sixteen values per step, as above (vmaxps also gives its second operand for
// a NaN), narrowed with saturation (the values are already in range).
__attribute__((target("avx512f"))) int32_t ConvertToPcm16Avx512(int16_t* out, float* in, int32_t count,
                                                                 bool clear) {
    const __m512 highest = _mm512_set1_ps(32767.0f);
    int32_t i = 0;
    for (; i + 16 <= count; i += 16) {
        // Only the upper bound needs clipping first: minps gives its second
        // operand for a NaN, which converts, like every value below -2^31,
        // to the integer -2^31, and the narrowing saturates the rest.
        const __m512 a = _mm512_min_ps(highest, _mm512_loadu_ps(in + i));
        if (clear) _mm512_storeu_ps(in + i, _mm512_setzero_ps());
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + i), _mm512_cvtsepi32_epi16(_mm512_cvtps_epi32(a)));
    }
    return i;
}
#endif

int32_t ConvertToPcm16Plain(int16_t*, float*, int32_t, bool) { return 0; }

// Returns the values converted; with clear, sets them to +0 in the source.
using ConvertKernel = int32_t (*)(int16_t* out, float* in, int32_t count, bool clear);
ConvertKernel convert_kernel = nullptr;  // chosen on first use

ConvertKernel FastestConvertKernel(int32_t variant) {
#if VINTO_CONVERT_AVX512
    __builtin_cpu_init();
    if (variant >= CONVERT_VARIANT_AVX512 && __builtin_cpu_supports("avx512f")) return ConvertToPcm16Avx512;
#endif
#if defined(__SSE2__)
    if (variant >= CONVERT_VARIANT_SSE2) return ConvertToPcm16Sse2;
#endif
    (void)variant;
    return ConvertToPcm16Plain;
}

}  // namespace

int32_t SelectConvertVariant(int32_t variant) {
    const ConvertKernel kernel = FastestConvertKernel(variant);
    convert_kernel = kernel;
#if VINTO_CONVERT_AVX512
    if (kernel == ConvertToPcm16Avx512) return CONVERT_VARIANT_AVX512;
#endif
#if defined(__SSE2__)
    if (kernel == ConvertToPcm16Sse2) return CONVERT_VARIANT_SSE2;
#endif
    return CONVERT_VARIANT_PLAIN;
}

namespace {

// ConvertToPcm16, and with clear the converted floats are set to +0 on the way.
// One small copy: the loop below only finishes what a kernel left (under eight
// values in blocks), not worth the compiler's vectorised versions.
#if defined(__GNUC__) && !defined(__clang__)
__attribute__((noinline, optimize("no-tree-vectorize")))
#endif
void ConvertAndMaybeClear(int16_t* out, float* in, int32_t frames, bool clear) {
    int32_t count = frames * 2;
    if (!convert_kernel) SelectConvertVariant(CONVERT_VARIANT_COUNT);
    int32_t i = convert_kernel(out, in, count, clear);
    for (; i < count; i++) {
        float value = in[i];
        if (clear) in[i] = 0.0f;
        // Clipping before rounding gives the same result as after, since both
        // bounds are integers; a NaN ends up at the lower bound.
        value = value > -32768.0f ? value : -32768.0f;
        value = value < 32767.0f ? value : 32767.0f;
        float biased = value + ROUNDING_BIAS;
        int32_t bits;
        memcpy(&bits, &biased, sizeof(bits));
        out[i] = int16_t(bits - ROUNDING_BIAS_BITS);
    }
}

}  // namespace

void ConvertToPcm16(int16_t* out, const float* in, int32_t frames) {
    if (frames < 1 || !out || !in) return;
    // Without clear nothing is written to in.
    ConvertAndMaybeClear(out, const_cast<float*>(in), frames, false);
}

// The values times the gain, a piece at a time, then converted as any others.
void ConvertScaled(int16_t* out, float* in, int32_t frames, bool clear, float gain) {
    float scaled[SCALED_PIECE];
    const int32_t count = frames * 2;
    for (int32_t i = 0; i < count; i += SCALED_PIECE) {
        const int32_t piece = count - i < SCALED_PIECE ? count - i : SCALED_PIECE;
        for (int32_t k = 0; k < piece; k++) {
            scaled[k] = in[i + k] * gain;
            if (clear) in[i + k] = 0.0f;
        }
        ConvertAndMaybeClear(out + i, scaled, piece / 2, false);
    }
}

void ConvertBlock(int16_t* out, float* in, int32_t frames, bool clear, const Module& module) {
    if (module.volume_scaled && control_hooks.convert_scaled) {
        control_hooks.convert_scaled(out, in, frames, clear, module.master_volume);
    } else {
        ConvertAndMaybeClear(out, in, frames, clear);  // full volume: the values as mixed
    }
}

}  // namespace vinto
