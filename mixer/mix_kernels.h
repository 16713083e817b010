// The mixer's per-frame loops and the choice among their variants.
//
// Every variant gives the same bits: the interpolated value is formed exactly
// (it needs at most 48 bits), weighted in double precision with a gain rounded
// to single precision, added to the output value in double precision and
// rounded back to single precision, frame after frame. The variants differ
// only in how many frames they handle per step.
#pragma once

#include <stdint.h>
#include <string.h>

namespace vinto {

// A run of frames with fixed gains: frame k adds
//   value(position + k x delta) x gain
// to out[2k] (left) and out[2k + 1] (right), where value(p) is
// e0 x 2^31 + (fraction of p >> 1) x (e1 - e0) with e0, e1 the entries at and
// after the integer part of p (read as a signed 32-bit index), and gain is the
// side's gain factor times 2^-31. delta is the step, or its two's complement
// when moving backward; positions wrap at 2^64.
// last_entry is the highest index whose entry may be read (the loop end, where
// the guard entry lies): a kernel may read any entry from -1 up to it, even
// ones no frame needs.
using MixFixedKernel = void (*)(float* out, const int16_t* data, int32_t last_entry, uint64_t position, uint64_t delta,
                                int32_t frames, float left, float right);

// A ramp run: as above, but the gains of frame k are the start gains plus k
// steps, added up one step after the other in double precision (all scaled by
// 2^-31). end_gains receives the two gains after the last step, unscaled.
using MixRampKernel = void (*)(float* out, const int16_t* data, int32_t last_entry, uint64_t position, uint64_t delta,
                               int32_t frames, float left, float right, float left_step, float right_step,
                               double* end_gains);

// The variants, from the plain one-frame-at-a-time loop up. SSE2 exists on
// every x86 target the engine builds for; AVX2 (with FMA) and AVX-512 (F, BW,
// DQ, VL, IFMA: Ice Lake, Zen 4 and later) only in 64-bit builds for systems
// other than Windows, chosen when the processor has them.
enum MixVariant : int32_t {
    MIX_VARIANT_PLAIN = 0,
    MIX_VARIANT_SSE2 = 1,
    MIX_VARIANT_AVX2 = 2,
    MIX_VARIANT_AVX512 = 3,
    MIX_VARIANT_COUNT = 4
};

// True when this build has the variant and the processor can run it.
bool MixVariantSupported(int32_t variant);

// Makes MixVoices use the variant; false (changing nothing) when unsupported.
// Without a call MixVoices takes the fastest supported variant.
bool SelectMixVariant(int32_t variant);

// The variant MixVoices uses now.
int32_t SelectedMixVariant();

// The Windows program is kept small: it has only the SSE2 fixed-gain kernel,
// and its ramps run one frame at a time (they are a few per cent of the frames).
#if defined(_WIN32) && defined(__SSE2__)
#define VINTO_MIX_COMPACT 1
#endif

// The variants' kernels (those this build has).
void MixFixedPlain(float* out, const int16_t* data, int32_t last_entry, uint64_t position, uint64_t delta,
                   int32_t frames, float left, float right);
void MixRampPlain(float* out, const int16_t* data, int32_t last_entry, uint64_t position, uint64_t delta,
                  int32_t frames, float left, float right, float left_step, float right_step, double* end_gains);
#if defined(__SSE2__)
#define VINTO_MIX_SSE2 1
void MixFixedSse2(float* out, const int16_t* data, int32_t last_entry, uint64_t position, uint64_t delta,
                  int32_t frames, float left, float right);
#endif
#if defined(__SSE2__) && !VINTO_MIX_COMPACT
#define VINTO_MIX_SIMD_RAMPS 1
void MixRampSse2(float* out, const int16_t* data, int32_t last_entry, uint64_t position, uint64_t delta, int32_t frames,
                 float left, float right, float left_step, float right_step, double* end_gains);

// The exact count behind RampSumsExact (mix_sse2.cpp).
bool RampSumsExactByUnits(double left, double right, double left_step, double right_step, int32_t frames);

// True when no sum of such a ramp rounds (gains and steps as scaled doubles),
// so that gain k may be formed as start + k x step, in any order. A value of
// 24 significant bits (what the kernels take, scaled by 2^-31) is a whole
// multiple of 2^(e - 23), e its exponent, so all of them are multiples of
// 2^(e_min - 23); the sums stay below 2^(e_min + 29), 2^52 such units, when
// the gains lie within 2^27 of it and frames x step within 2^28. That test of
// the exponents alone settles every ramp the replay makes, once per ramp run;
// anything else is counted out exactly.
inline bool RampSumsExact(double left, double right, double left_step, double right_step, int32_t frames) {
    const double values[4] = {left, right, left_step, right_step};
    int32_t lowest = 2047, gain_top = -1, step_top = -1;  // exponent fields of the non-zero values
    for (int32_t i = 0; i < 4; i++) {
        uint64_t bits;
        memcpy(&bits, &values[i], sizeof bits);
        const uint64_t magnitude = bits & ~(uint64_t{1} << 63);
        if (magnitude == 0) continue;
        const int32_t exponent = static_cast<int32_t>(magnitude >> 52);
        // Subnormal, infinite, NaN or more than 24 significant bits: counted out.
        if (exponent == 0 || exponent == 2047 || (magnitude & ((uint64_t{1} << 29) - 1)) != 0)
            return RampSumsExactByUnits(left, right, left_step, right_step, frames);
        lowest = exponent < lowest ? exponent : lowest;
        int32_t& top = i < 2 ? gain_top : step_top;
        top = exponent > top ? exponent : top;
    }
    const int32_t room = lowest + 27 - step_top;  // frames may reach 2^room
    if ((gain_top >= 0 && gain_top - lowest > 27) || (step_top >= 0 && (room < 0 || frames > (int32_t{1} << room))))
        return RampSumsExactByUnits(left, right, left_step, right_step, frames);
    return true;
}
#endif
#if defined(__x86_64__) && !defined(_WIN32) && defined(__GNUC__)
#define VINTO_MIX_AVX2 1
void MixFixedAvx2(float* out, const int16_t* data, int32_t last_entry, uint64_t position, uint64_t delta,
                  int32_t frames, float left, float right);
void MixRampAvx2(float* out, const int16_t* data, int32_t last_entry, uint64_t position, uint64_t delta, int32_t frames,
                 float left, float right, float left_step, float right_step, double* end_gains);
#define VINTO_MIX_AVX512 1
void MixFixedAvx512(float* out, const int16_t* data, int32_t last_entry, uint64_t position, uint64_t delta,
                    int32_t frames, float left, float right);
// The same for output values that all stand at +0: they are written, not read.
void MixFixedAvx512Cleared(float* out, const int16_t* data, int32_t last_entry, uint64_t position, uint64_t delta,
                           int32_t frames, float left, float right);
void MixRampAvx512(float* out, const int16_t* data, int32_t last_entry, uint64_t position, uint64_t delta,
                   int32_t frames, float left, float right, float left_step, float right_step, double* end_gains);
#endif

}  // namespace vinto
