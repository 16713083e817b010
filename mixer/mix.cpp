// The floating-point voice mixer: each voice in turn, run by run, through the
// kernel variant chosen for the processor.
//
// Each voice is mixed in runs: stretches of frames without a loop or sample
// end, ramp end or call end inside them, so the per-frame loops need no tests.
// Every output value is defined to the bit: the sample value is interpolated
// exactly in double precision, weighted in double precision and stored back
// in single precision, in slot order. The kernels live in mix_plain.cpp,
// mix_sse2.cpp, mix_avx2.cpp and mix_avx512.cpp; what the mixer and the voice
// advance share in voice_runs.h and voice_runs.cpp.
#include <stddef.h>

#include "mixer/mix_kernels.h"
#include "mixer/mixer.h"
#include "mixer/voice_runs.h"

namespace vinto {

int32_t ramp_length = 128;
float inverse_ramp_length = 0.0078125f;

namespace {

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
