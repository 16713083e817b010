// MixVoices on 32 voices playing looping samples at assorted pitches, with
// and without volume ramps, against the plain one-frame-at-a-time mixer.
// Reported: time per voice-frame (one voice adding one stereo frame).
#include <string.h>

#include <memory>
#include <vector>

#include <benchmark/benchmark.h>

#include "mixer/mix_kernels.h"
#include "mixer/mixer.h"
#include "support/mix_reference.h"

using namespace vinto;

namespace {

constexpr int VOICES = 32;
constexpr int32_t CALL_FRAMES = 882;  // one tick at 125 BPM and 44100 Hz

struct Setup {
    std::vector<std::unique_ptr<reference::OwnedSample>> samples;
    std::vector<float> buffer = std::vector<float>(2 * CALL_FRAMES);

    Setup() {
        // Half the samples come from 8-bit data (multiples of 256), half from
        // 16-bit data; forward and ping-pong loops of assorted lengths.
        uint32_t seed = 12345;
        for (int i = 0; i < 8; i++) {
            const int length = 3000 + 1700 * i;
            std::vector<int16_t> values(static_cast<size_t>(length));
            for (int k = 0; k < length; k++) {
                seed = seed * 1664525u + 1013904223u;
                const int16_t v = static_cast<int16_t>(seed >> 16);
                values[k] = i % 2 == 0 ? static_cast<int16_t>((v >> 8) * 256) : v;
            }
            const uint8_t mode = i % 4 < 2 ? LOOP_FORWARD : LOOP_BIDI;
            const uint32_t start = static_cast<uint32_t>(length / 3);
            samples.push_back(std::make_unique<reference::OwnedSample>(values, mode, start,
                                                                       static_cast<uint32_t>(length) - start));
        }
        ResetVoicePool();
        ramp_length = 128;
        inverse_ramp_length = 0.0078125f;
        // Steps from about a fifth to about three times the sample rate.
        const uint32_t steps[][2] = {{0, 814485521}, {0, 1628971042}, {1, 0},          {0, 3257844694u},
                                     {1, 1234567890}, {2, 99999999},   {0, 2000000000}, {1, 3000000000u},
                                     {0, 407242760}, {3, 12345678},   {0, 2873000000u}, {1, 700000000}};
        for (int i = 0; i < VOICES; i++) {
            Voice& v = VoicePool[i];
            v.sample = &samples[i % samples.size()]->sample;
            v.step_integer = steps[i % 12][0];
            v.step_fraction = steps[i % 12][1];
            v.direction = DIRECTION_FORWARD;
            v.position = static_cast<uint32_t>(37 * i);
            v.left_gain = v.planned_left_gain = 40 + 5 * i;
            v.right_gain = v.planned_right_gain = 200 - 5 * i;
            v.current_left_gain = v.left_gain * 256;
            v.current_right_gain = v.right_gain * 256;
        }
    }
};

// With ramps: every call retargets the gains, so each call starts a ramp.
void Retarget(int64_t call) {
    for (int i = 0; i < VOICES; i++) {
        VoicePool[i].left_gain = call % 2 ? 40 + 5 * i : 120;
        VoicePool[i].right_gain = call % 2 ? 200 - 5 * i : 60 + i;
    }
}

template <bool RAMPS, bool REFERENCE>
void BM_MixVoices(benchmark::State& state) {
    Setup setup;
    const int32_t frames = static_cast<int32_t>(state.range(0));
    int64_t call = 0;
    for (auto _ : state) {
        if (RAMPS) Retarget(call++);
        memset(setup.buffer.data(), 0, sizeof(float) * 2 * frames);
        if (REFERENCE)
            reference::MixVoices(VoicePool, MIXED_VOICE_COUNT, setup.buffer.data(), frames, ramp_length,
                                 inverse_ramp_length);
        else
            MixVoices(setup.buffer.data(), frames);
        benchmark::DoNotOptimize(setup.buffer.data());
        benchmark::ClobberMemory();
    }
    state.counters["voice_frame"] = benchmark::Counter(static_cast<double>(state.iterations()) * frames * VOICES,
                                                       benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

// Without ramps: calls of one tick. With ramps: calls of one ramp, so every
// frame is a ramp frame, and calls of one tick (a ramp, then fixed gains).
BENCHMARK_TEMPLATE(BM_MixVoices, false, false)->Name("MixVoices/no_ramp")->Arg(CALL_FRAMES)->Arg(64)->Arg(8);
BENCHMARK_TEMPLATE(BM_MixVoices, false, true)->Name("Reference/no_ramp")->Arg(CALL_FRAMES);
BENCHMARK_TEMPLATE(BM_MixVoices, true, false)->Name("MixVoices/ramp")->Arg(128)->Arg(CALL_FRAMES);
BENCHMARK_TEMPLATE(BM_MixVoices, true, true)->Name("Reference/ramp")->Arg(128)->Arg(CALL_FRAMES);

// Each kernel variant the processor supports, without ramps.
void BM_MixVariant(benchmark::State& state) {
    const int32_t variant = static_cast<int32_t>(state.range(1));
    if (!SelectMixVariant(variant)) {
        state.SkipWithError("variant not supported here");
        return;
    }
    Setup setup;
    const int32_t frames = static_cast<int32_t>(state.range(0));
    for (auto _ : state) {
        memset(setup.buffer.data(), 0, sizeof(float) * 2 * frames);
        MixVoices(setup.buffer.data(), frames);
        benchmark::DoNotOptimize(setup.buffer.data());
        benchmark::ClobberMemory();
    }
    state.counters["voice_frame"] = benchmark::Counter(static_cast<double>(state.iterations()) * frames * VOICES,
                                                       benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    SelectMixVariant(MIX_VARIANT_COUNT - 1) || SelectMixVariant(MIX_VARIANT_SSE2) ||
        SelectMixVariant(MIX_VARIANT_PLAIN);
}
BENCHMARK(BM_MixVariant)
    ->Name("Variant/no_ramp")
    ->ArgNames({"frames", "variant"})
    ->Args({CALL_FRAMES, MIX_VARIANT_PLAIN})
    ->Args({CALL_FRAMES, MIX_VARIANT_SSE2})
    ->Args({CALL_FRAMES, MIX_VARIANT_AVX2})
    ->Args({CALL_FRAMES, MIX_VARIANT_AVX512});

}  // namespace
