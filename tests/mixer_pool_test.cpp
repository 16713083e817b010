// The voice pool: reset state and the mixer's view of a freshly reset pool.
#include <string.h>

#include <vector>

#include <gtest/gtest.h>

#include "mixer/mixer.h"
#include "support/mix_reference.h"

namespace {

TEST(VoicePool, ResetLeavesEveryVoiceInactiveWithItsIndexAndStepOne) {
    reference::OwnedSample sample({1, 2, 3});
    memset(VoicePool, 0x5A, sizeof VoicePool);
    for (Voice& voice : VoicePool) voice.sample = &sample.sample;
    ResetVoicePool();
    for (int32_t i = 0; i < VOICE_COUNT; i++) {
        const Voice& v = VoicePool[i];
        SCOPED_TRACE(i);
        EXPECT_EQ(v.index, i);
        EXPECT_EQ(v.sample, nullptr);
        EXPECT_EQ(v.step_integer, 1u);
        EXPECT_EQ(v.step_fraction, 0u);
        EXPECT_EQ(v.volume | v.pan | v.left_gain | v.right_gain | v.direction, 0);
        EXPECT_EQ(v.position | v.position_fraction, 0u);
        EXPECT_EQ(v.planned_left_gain | v.planned_right_gain | v.current_left_gain | v.current_right_gain, 0);
        EXPECT_EQ(v.ramp_frames_left, 0);
        EXPECT_EQ(v.left_step, 0.0f);
        EXPECT_EQ(v.right_step, 0.0f);
    }
}

TEST(VoicePool, MixingAResetPoolAddsNothing) {
    ResetVoicePool();
    std::vector<float> buffer(2 * 300);
    for (size_t i = 0; i < buffer.size(); i++) buffer[i] = 0.25f * static_cast<float>(i) - 3.0f;
    const std::vector<float> before = buffer;
    MixVoices(buffer.data(), 300);
    EXPECT_EQ(memcmp(buffer.data(), before.data(), buffer.size() * sizeof(float)), 0);
}

}  // namespace
