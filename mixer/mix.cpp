// The floating-point voice mixer.
//
// Each voice is mixed in runs: stretches of frames without a loop or sample
// end, ramp end or call end inside them, so the per-frame loops need no tests.
// Every output value is defined to the bit: the sample value is interpolated
// exactly in double precision, weighted in double precision and stored back
// in single precision, in slot order.
#include <math.h>
#include <stddef.h>
#include <string.h>

#include "mixer/mix_kernels.h"
#include "mixer/mixer.h"
#include "mixer/voice_runs.h"

#if VINTO_MIX_SSE2
#include <emmintrin.h>
#endif

namespace vinto {

int32_t ramp_length = 128;
float inverse_ramp_length = 0.0078125f;

namespace {

constexpr double FRACTION_UNIT = 1.0 / 2147483648.0;  // 2^-31

MixFixedKernel mix_fixed = nullptr;  // chosen on first use
MixRampKernel mix_ramp = nullptr;
// For output values known to stand at +0 (the first voice to reach them in a
// block): writes them without reading them. Null where the variant has none.
MixFixedKernel mix_fixed_cleared = nullptr;
int32_t selected_variant = 0;

int32_t FastestVariant() {
    int32_t variant = MIX_VARIANT_COUNT - 1;
    while (!MixVariantSupported(variant)) variant--;
    return variant;
}

// The interpolated value e0 + t x (e1 - e0) of the entries around position,
// times 2^31: e0 x 2^31 + (fraction >> 1) x (e1 - e0). The value needs at
// most 48 bits, so it and its conversion are exact, and weighing it with a
// gain times 2^-31 (also exact) rounds exactly as weighing the value itself
// with the gain. One conversion per frame instead of three.
inline double ScaledValue(const int16_t* data, uint64_t position) {
    const ptrdiff_t index = static_cast<int32_t>(static_cast<uint32_t>(position >> 32));
    const int64_t e0 = data[index];
    const int64_t fraction = static_cast<uint32_t>(position) >> 1;
    return static_cast<double>(e0 * 2147483648 + fraction * (data[index + 1] - e0));
}

// The kernels stay out of line and take the gains already rounded to single
// precision as float arguments: GCC 12 drops a rounding to single precision
// that is followed by a widening back to double when its SLP vectoriser
// handles two of them as a pair, and no such pair then exists within one
// function. (The build also keeps that vectoriser off.)
#if defined(__GNUC__)
#define MIX_KERNEL __attribute__((noinline))
#else
#define MIX_KERNEL
#endif

}  // namespace

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

#if VINTO_MIX_SSE2
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
        float* o = out + 2 * k;
        const __m128 values = _mm_loadu_ps(o);
        const __m128d sum0 = _mm_add_pd(_mm_cvtps_pd(values), _mm_mul_pd(_mm_set1_pd(s0), gains));
        const __m128d sum1 =
            _mm_add_pd(_mm_cvtps_pd(_mm_movehl_ps(values, values)), _mm_mul_pd(_mm_set1_pd(s1), gains));
        _mm_storeu_ps(o, _mm_movelh_ps(_mm_cvtpd_ps(sum0), _mm_cvtpd_ps(sum1)));
    }
    if (k < frames) {
        __m64* o = reinterpret_cast<__m64*>(out + 2 * k);
        const __m128 values = _mm_loadl_pi(_mm_setzero_ps(), o);
        const __m128d sum =
            _mm_add_pd(_mm_cvtps_pd(values), _mm_mul_pd(_mm_set1_pd(ScaledValue(data, position)), gains));
        _mm_storel_pi(o, _mm_cvtpd_ps(sum));
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
        float* o = out + 2 * k;
        const __m128 values = _mm_loadu_ps(o);
        const __m128d sum0 = _mm_add_pd(_mm_cvtps_pd(values), _mm_mul_pd(_mm_set1_pd(s0), gains0));
        const __m128d sum1 =
            _mm_add_pd(_mm_cvtps_pd(_mm_movehl_ps(values, values)), _mm_mul_pd(_mm_set1_pd(s1), gains1));
        _mm_storeu_ps(o, _mm_movelh_ps(_mm_cvtpd_ps(sum0), _mm_cvtpd_ps(sum1)));
    }
    if (k < frames) {
        __m64* o = reinterpret_cast<__m64*>(out + 2 * k);
        const __m128d gains = _mm_add_pd(start, _mm_mul_pd(_mm_set1_pd(k), steps));
        const __m128 values = _mm_loadl_pi(_mm_setzero_ps(), o);
        const __m128d sum =
            _mm_add_pd(_mm_cvtps_pd(values), _mm_mul_pd(_mm_set1_pd(ScaledValue(data, position)), gains));
        _mm_storel_pi(o, _mm_cvtpd_ps(sum));
    }
    end_gains[0] = (gl + frames * step_left) * 2147483648.0;
    end_gains[1] = (gr + frames * step_right) * 2147483648.0;
}
#endif

// Position after a ping-pong run that ended at a loop boundary: reflected at
// the boundary, and again while it lies outside the loop. Two reflections in a
// row move a position by twice the loop length, so whole back-and-forth trips
// of a step far larger than the loop are taken at once.
uint64_t ReflectPosition(Voice& voice, uint64_t position, int64_t loop_start, int64_t loop_end) {
    const int64_t start = static_cast<int64_t>(ToFixed(loop_start));
    const int64_t end = static_cast<int64_t>(ToFixed(loop_end));
    const uint64_t span = ToFixed(loop_end - loop_start);
    const uint64_t trip = 2 * span;
    int64_t p = static_cast<int64_t>(position);
    bool forward = voice.direction == DIRECTION_FORWARD;
    // The run reaches the boundary unless the step is 0, which never moves.
    if (forward) {
        if (p < end) return position;
        p = static_cast<int64_t>(2 * static_cast<uint64_t>(end) - 1 - static_cast<uint64_t>(p));
        forward = false;
    } else {
        if (p > start) return position;
        p = static_cast<int64_t>(2 * static_cast<uint64_t>(start) - 1 - static_cast<uint64_t>(p));
        forward = true;
    }
    if (forward) {
        // From end + span on, a reflection at the end lands before the start.
        if (p >= end && static_cast<uint64_t>(p - end) >= span) {
            const uint64_t trips = (static_cast<uint64_t>(p - end) - span) / trip + 1;
            p = static_cast<int64_t>(static_cast<uint64_t>(p) - trips * trip);
        }
        if (p >= end) {
            p = static_cast<int64_t>(2 * static_cast<uint64_t>(end) - 1 - static_cast<uint64_t>(p));
            forward = false;
        }
    } else {
        // Below start - span, a reflection at the start lands at or after the end.
        const uint64_t below = static_cast<uint64_t>(start) - static_cast<uint64_t>(p);  // start - p
        if (p < start && below > span) {
            const uint64_t excess = below - span;
            const uint64_t trips = excess / trip + (excess % trip != 0);
            p = static_cast<int64_t>(static_cast<uint64_t>(p) + trips * trip);
        }
        if (p < start) {
            p = static_cast<int64_t>(2 * static_cast<uint64_t>(start) - 1 - static_cast<uint64_t>(p));
            forward = true;
        }
    }
    voice.direction = forward ? DIRECTION_FORWARD : DIRECTION_BACKWARD;
    return static_cast<uint64_t>(p);
}

#if defined(__SIZEOF_INT128__)
namespace {

// JumpVoiceWithoutRamp in Wide, a signed type that holds every value the
// jump forms: twice the loop's length plus the frames' travel, in 32.32.
template <typename Wide>
bool JumpVoiceIn(Voice& voice, int32_t frames) {
    // A ramp towards the targets still running, or one the first run would plan.
    if (voice.ramp_frames_left > 0 && voice.planned_left_gain == voice.left_gain &&
        voice.planned_right_gain == voice.right_gain)
        return false;
    if ((voice.current_left_gain >> 8) != voice.left_gain || (voice.current_right_gain >> 8) != voice.right_gain)
        return false;
    const Sample& sample = *voice.sample;
    const uint64_t step = ToFixed(voice.step_integer) | voice.step_fraction;
    if (step == 0) return false;
    const bool forward = voice.direction == DIRECTION_FORWARD;
    const bool looping = sample.loop_mode == LOOP_FORWARD && sample.loop_length > 0;
    const bool ping_pong = sample.loop_mode == LOOP_BIDI && sample.loop_length > 0;
    const int64_t loop_start = sample.loop_start;
    const int64_t loop_end = loop_start + static_cast<int64_t>(sample.loop_length);
    const int64_t whole = static_cast<int32_t>(voice.position);
    if (whole < -1 || whole > loop_end || (!forward && !ping_pong)) return false;
    const uint64_t position = ToFixed(voice.position) | voice.position_fraction;
    const Wide travel = static_cast<Wide>(step) * static_cast<uint32_t>(frames);

    uint64_t moved;  // the position the runs leave
    int32_t direction = voice.direction;
    bool stop = false;
    if (ping_pong) {
        // Unfolded, the ping-pong motion always advances: t runs from the
        // loop start forward (t = u, the distance past the start) and then
        // back (t = 2L - 1 - u) over a period of 2L, L the loop's length. A
        // turn at the end maps u >= L to 2L - 1 - u, one at the start maps
        // u <= 0 to -1 - u; both keep t moving on, so t's remainder tells
        // where and which way the voice stands.
        const Wide length = static_cast<Wide>(ToFixed(sample.loop_length));
        const Wide u = static_cast<Wide>(static_cast<int64_t>(position)) - static_cast<Wide>(ToFixed(loop_start));
        if (!forward && (u < 0 || u > length - 1)) return false;
        const Wide t = (forward ? u : 2 * length - 1 - u) + travel;
        Wide moved_u;
        if (forward && t < length) {
            moved_u = t;
        } else if (!forward && t < 2 * length - 1) {
            moved_u = 2 * length - 1 - t;
        } else {
            const Wide phase = (t + 1) % (2 * length);
            bool now_forward = phase < length + 1;
            moved_u = now_forward ? phase - 1 : 2 * length - phase;
            // Exactly at the loop start the label depends on how it was
            // reached: a run moving backward onto it turns (-1, forward), but
            // a turn at the end landing on it stays (0, backward). The last
            // frame came from the same backward stretch only if the step is
            // shorter than the loop.
            if (phase == 0 && static_cast<Wide>(step) >= length) {
                moved_u = 0;
                now_forward = false;
            }
            direction = now_forward ? DIRECTION_FORWARD : DIRECTION_BACKWARD;
        }
        moved = ToFixed(loop_start) + static_cast<uint64_t>(static_cast<int64_t>(moved_u));
    } else {
        if (whole < 0) return false;
        const Wide end = static_cast<Wide>(position) + travel;
        const uint64_t loop_end_fixed = ToFixed(loop_end);
        if (end < static_cast<Wide>(loop_end_fixed)) {
            moved = static_cast<uint64_t>(end);
        } else if (looping) {
            // Each wrap takes whole loop lengths off the integer part until
            // the position lies inside the loop again: the remainder of the
            // distance past the loop start.
            const uint64_t start_fixed = ToFixed(loop_start);
            const Wide span = static_cast<Wide>(ToFixed(sample.loop_length));
            moved = start_fixed + static_cast<uint64_t>((end - static_cast<Wide>(start_fixed)) % span);
        } else {
            stop = true;
            moved = 0;
        }
    }

    // What every run's ramp planning leaves: no ramp, steps 0.
    voice.planned_left_gain = voice.left_gain;
    voice.planned_right_gain = voice.right_gain;
    voice.left_step = 0.0f;
    voice.right_step = 0.0f;
    voice.ramp_frames_left = 0;
    if (stop) {
        StopVoice(voice);
    } else {
        voice.position = static_cast<uint32_t>(moved >> 32);
        voice.position_fraction = static_cast<uint32_t>(moved);
        voice.direction = direction;
    }
    return true;
}

}  // namespace
#endif

// A voice without a ramp in this call: its runs would only move its position
// (and, when silent, add zeros), so it moves straight to where they would
// leave it. In 64 bits where they suffice (loops below 2^29 entries, steps
// below 2^8 entries, calls below 2^20 frames: all the replay makes). A
// released voice without a ramp is silent for good: it ends instead.
#if defined(__GNUC__)
__attribute__((noinline))
#endif
bool JumpVoiceWithoutRamp(Voice& voice, int32_t frames) {
    if (voice.released && voice.ramp_frames_left == 0 && voice.left_gain == 0 && voice.right_gain == 0 &&
        (voice.current_left_gain >> 8) == 0 && (voice.current_right_gain >> 8) == 0) {
        StopVoice(voice);
        return true;
    }
#if defined(__SIZEOF_INT128__)
    const Sample& sample = *voice.sample;
    if (uint64_t(sample.loop_start) + sample.loop_length < (uint64_t(1) << 29) && voice.step_integer < (1u << 8) &&
        frames < (1 << 20))
        return JumpVoiceIn<int64_t>(voice, frames);
    return JumpVoiceIn<__int128>(voice, frames);
#else
    (void)voice;
    (void)frames;
    return false;
#endif
}

namespace {

// With clean_from, the output values from frame *clean_from on are known to
// stand at +0 (untouched in this call); a fixed-gain run starting there may
// write them without reading them, and every run that adds moves it on.
// Inlined into each loop over the voices, as one piece with it.
#if defined(__GNUC__)
__attribute__((always_inline))
#endif
inline void MixVoice(Voice& voice, float* out, int32_t frames, int32_t* clean_from) {
    const int16_t* data = voice.sample->data;
    const VoiceWalk walk = StartWalk(voice);
    // Where the guard entry lies: a run never reads past it.
    const int32_t last_entry = static_cast<int32_t>(walk.loop_end);
    uint64_t position = WalkPosition(voice);
    int32_t left = frames;
    for (;;) {
        VoiceRun run;
        if (!PlanRun(voice, walk, position, left, run)) return;
        if (run.ramp > 0) {
            double end_gains[2];
            mix_ramp(out, data, last_entry, position, run.delta, run.frames, RampStartGain(voice.current_left_gain),
                     RampStartGain(voice.current_right_gain), voice.left_step, voice.right_step, end_gains);
            FinishRampRun(voice, end_gains, run);
        } else if (run.frames > 0 && (voice.left_gain != 0 || voice.right_gain != 0)) {
            const float gl = static_cast<float>(voice.left_gain * static_cast<double>(GAIN_UNIT));
            const float gr = static_cast<float>(voice.right_gain * static_cast<double>(GAIN_UNIT));
            const bool cleared = clean_from && frames - left >= *clean_from && mix_fixed_cleared;
            const int16_t* source = data;
            int32_t last = last_entry;
            uint64_t from = position;
#if VINTO_LOOP_REPEATS
            if (run.repeated) {  // the same entries, counted from the loop start
                source = walk.repeats;
                last = static_cast<int32_t>(walk.repeat_end - walk.loop_start);
                from = position - ToFixed(walk.loop_start);
            }
#endif
            (cleared ? mix_fixed_cleared : mix_fixed)(out, source, last, from, run.delta, run.frames, gl, gr);
        }
        if (clean_from && run.frames > 0 && (run.ramp > 0 || voice.left_gain != 0 || voice.right_gain != 0) &&
            frames - left + run.frames > *clean_from)
            *clean_from = frames - left + run.frames;
        // A run at zero gain (a ghost that has faded out) only moves on: each
        // of its frames would add a zero, which leaves every value as it is
        // (a zero of either sign added to a zero gives +0, and the buffer
        // starts at +0, so it never holds a -0).
        position += run.delta * static_cast<uint64_t>(run.frames);
        out += 2 * static_cast<ptrdiff_t>(run.frames);
        left -= run.frames;
        if (run.at_boundary && !CrossBoundary(voice, walk, position)) return;
        if (left == 0) break;
    }
    StoreWalkPosition(voice, walk, position);
}

}  // namespace

void MixVoices(float* out, int32_t frames) {
    if (frames < 1) return;
    if (!mix_fixed) SelectMixVariant(FastestVariant());
    for (int32_t i = 0; i < MIXED_VOICE_COUNT; i++) {
        Voice& voice = VoicePool[i];
        if (voice.sample && !SkipSilentVoice(voice, frames)) MixVoice(voice, out, frames, nullptr);
    }
}

namespace {

// MixVoicesCleared's loop; with muted 0 (a constant) the advance drops out,
// so a program that never mutes does not link it.
#if defined(__GNUC__)
__attribute__((always_inline))
#endif
inline void MixAllCleared(float* out, int32_t frames, uint64_t muted) {
    if (frames < 1) return;
    if (!mix_fixed) SelectMixVariant(FastestVariant());
    int32_t clean_from = 0;
    for (int32_t i = 0; i < MIXED_VOICE_COUNT; i++) {
        Voice& voice = VoicePool[i];
        if (!voice.sample) continue;
        if (muted >> i & 1) {
            AdvanceVoice(voice, frames);
        } else if (!SkipSilentVoice(voice, frames)) {
            MixVoice(voice, out, frames, &clean_from);
        }
    }
}

}  // namespace

void MixVoicesCleared(float* out, int32_t frames) { MixAllCleared(out, frames, 0); }

void MixVoicesClearedMuted(float* out, int32_t frames, uint64_t muted) { MixAllCleared(out, frames, muted); }

bool MixVariantSupported(int32_t variant) {
    switch (variant) {
#if !VINTO_MIX_COMPACT
        case MIX_VARIANT_PLAIN:
            return true;
#endif
#if VINTO_MIX_SSE2
        case MIX_VARIANT_SSE2:
            return true;
#endif
#if VINTO_MIX_AVX2
        case MIX_VARIANT_AVX2:
            __builtin_cpu_init();
            return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
#endif
#if VINTO_MIX_AVX512
        case MIX_VARIANT_AVX512:
            __builtin_cpu_init();
            return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
                   __builtin_cpu_supports("avx512dq") && __builtin_cpu_supports("avx512vl") &&
                   __builtin_cpu_supports("avx512ifma");
#endif
        default:
            return false;
    }
}

bool SelectMixVariant(int32_t variant) {
    if (!MixVariantSupported(variant)) return false;
#if VINTO_MIX_COMPACT
    MixFixedKernel fixed = MixFixedSse2;
#else
    MixFixedKernel fixed = MixFixedPlain;
#endif
    MixRampKernel ramp = MixRampPlain;
#if VINTO_MIX_SIMD_RAMPS
    if (variant == MIX_VARIANT_SSE2) {
        fixed = MixFixedSse2;
        ramp = MixRampSse2;
    }
#endif
#if VINTO_MIX_AVX2
    if (variant == MIX_VARIANT_AVX2) {
        fixed = MixFixedAvx2;
        ramp = MixRampAvx2;
    }
#endif
#if VINTO_MIX_AVX512
    if (variant == MIX_VARIANT_AVX512) {
        fixed = MixFixedAvx512;
        ramp = MixRampAvx512;
    }
#endif
    mix_fixed = fixed;
    mix_ramp = ramp;
    mix_fixed_cleared = nullptr;
#if VINTO_MIX_AVX512
    if (variant == MIX_VARIANT_AVX512) mix_fixed_cleared = MixFixedAvx512Cleared;
#endif
    selected_variant = variant;
    return true;
}

int32_t SelectedMixVariant() {
    if (!mix_fixed) SelectMixVariant(FastestVariant());
    return selected_variant;
}

}  // namespace vinto
