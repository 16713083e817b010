// The block renderer mixes each slice into values that all stand at +0, with
// MixVoicesCleared: the first voice to reach a value writes it without reading
// it. Held against MixVoices on the same zeroed buffer, bit for bit, for every
// kernel variant: voices that stop, start silent, ramp, loop either way, and
// slices of every length, so that the first writer changes within a call.
#include <gtest/gtest.h>
#include <string.h>

#include <memory>
#include <random>
#include <vector>

#include "mixer/mix_kernels.h"
#include "mixer/mixer.h"
#include "support/mix_reference.h"

namespace {

using reference::OwnedSample;

TEST(ClearedMix, GivesTheValuesAndVoicesOfAddingIntoZeros) {
    std::mt19937_64 rng(4242);
    auto range = [&rng](int64_t lo, int64_t hi) { return std::uniform_int_distribution<int64_t>(lo, hi)(rng); };
    std::vector<std::unique_ptr<OwnedSample>> samples;
    for (int i = 0; i < 18; i++) {
        const int length = static_cast<int>(range(1, i < 9 ? 60 : 3000));
        std::vector<int16_t> values(static_cast<size_t>(length));
        for (int16_t& v : values) v = static_cast<int16_t>(range(-32768, 32767));
        const uint8_t mode = i % 3 == 0 ? LOOP_NONE : i % 3 == 1 ? LOOP_FORWARD : LOOP_BIDI;
        const uint32_t start = static_cast<uint32_t>(range(0, length - 1));
        samples.push_back(
            std::make_unique<OwnedSample>(values, mode, start, static_cast<uint32_t>(range(1, length - start))));
    }
    const int32_t previous = SelectedMixVariant();
    int variants = 0;
    for (int32_t variant = 0; variant < MIX_VARIANT_COUNT; variant++) {
        if (!SelectMixVariant(variant)) continue;
        variants++;
        SCOPED_TRACE(variant);
        for (int round = 0; round < 300; round++) {
            ResetVoicePool();
            for (int slot = 0; slot < MIXED_VOICE_COUNT; slot += 1 + static_cast<int>(range(0, 4))) {
                Voice& v = VoicePool[slot];
                v.sample = &samples[static_cast<size_t>(range(0, samples.size() - 1))]->sample;
                const int64_t end = v.sample->loop_start + v.sample->loop_length;
                v.position = static_cast<uint32_t>(range(0, end - 1));
                v.position_fraction = static_cast<uint32_t>(rng());
                v.direction = v.sample->loop_mode == LOOP_BIDI && range(0, 1) ? DIRECTION_BACKWARD : DIRECTION_FORWARD;
                v.step_integer = static_cast<uint32_t>(range(0, 3));
                v.step_fraction = static_cast<uint32_t>(rng());
                // Silent, settled, or ramping from somewhere else.
                v.left_gain = range(0, 3) ? static_cast<int32_t>(range(0, 255)) : 0;
                v.right_gain = v.left_gain ? static_cast<int32_t>(range(0, 255)) : 0;
                const bool settled = range(0, 1);
                v.current_left_gain = settled ? v.left_gain * 256 : static_cast<int32_t>(range(0, 65280));
                v.current_right_gain = settled ? v.right_gain * 256 : static_cast<int32_t>(range(0, 65280));
                v.planned_left_gain = v.left_gain;
                v.planned_right_gain = v.right_gain;
            }
            Voice expected[MIXED_VOICE_COUNT];
            memcpy(expected, VoicePool, sizeof expected);
            for (int call = 0; call < 4; call++) {
                const int32_t frames = static_cast<int32_t>(range(0, 2) ? range(1, 900) : range(1, 20));
                std::vector<float> cleared(2 * static_cast<size_t>(frames), 0.0f), added = cleared;
                MixVoicesCleared(cleared.data(), frames);
                Voice mixed[MIXED_VOICE_COUNT];
                memcpy(mixed, VoicePool, sizeof mixed);
                memcpy(VoicePool, expected, sizeof expected);
                MixVoices(added.data(), frames);
                ASSERT_EQ(memcmp(cleared.data(), added.data(), cleared.size() * sizeof(float)), 0)
                    << "round " << round << ", call " << call;
                ASSERT_EQ(memcmp(mixed, VoicePool, sizeof mixed), 0) << "round " << round << ", call " << call;
                memcpy(expected, VoicePool, sizeof expected);
            }
        }
    }
    EXPECT_GE(variants, 1);
    SelectMixVariant(previous);
}

}  // namespace
