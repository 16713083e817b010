// AdvanceVoices must leave every voice exactly as MixVoices leaves it (a seek
// and a muted channel rely on it), also for a call cut in two: random voices
// on every loop kind, ramps running, planned, retargeted or ending inside a
// call, silent and audible, tiny to huge steps, calls of 1 to 6000 frames.
#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <tuple>
#include <vector>

#include "mixer/mixer.h"
#include "support/mix_reference.h"

namespace {

auto State(const Voice& v) {
    return std::make_tuple(v.sample, v.position, v.position_fraction, v.direction, v.planned_left_gain,
                           v.planned_right_gain, v.current_left_gain, v.current_right_gain, v.ramp_frames_left,
                           v.left_step, v.right_step);
}

TEST(AdvanceVoices, LeavesTheStateMixVoicesLeaves) {
    std::mt19937_64 rng(16);
    auto range = [&](int64_t lo, int64_t hi) { return std::uniform_int_distribution<int64_t>(lo, hi)(rng); };
    int64_t ramps = 0, stopped = 0;
    for (int round = 0; round < 400; round++) {
        std::vector<std::unique_ptr<reference::OwnedSample>> samples;
        for (int length : {1, 3, 40, 700, 5000}) {
            std::vector<int16_t> values(length);
            for (int16_t& value : values) value = int16_t(range(-32768, 32767));
            const uint32_t start = uint32_t(range(0, length - 1));
            const uint8_t mode = uint8_t(1 << range(0, 2));  // LOOP_NONE, LOOP_FORWARD, LOOP_BIDI
            samples.push_back(std::make_unique<reference::OwnedSample>(values, mode, start,
                                                                       uint32_t(range(1, length - start))));
        }
        ResetVoicePool();
        // Other ramp lengths than 128 leave applied gains between whole units, where a cut call rounds.
        ramp_length = std::vector<int>{128, 7, 300}[range(0, 2)];
        inverse_ramp_length = float(1.0 / ramp_length);
        for (int slot = 0; slot < MIXED_VOICE_COUNT; slot += int(range(1, 4))) {
            Voice& v = VoicePool[slot];
            const Sample& s = *(v.sample = &samples[range(0, 4)]->sample);
            v.direction = s.loop_mode == LOOP_BIDI && range(0, 1) ? DIRECTION_BACKWARD : DIRECTION_FORWARD;
            v.position = uint32_t(range(v.direction == DIRECTION_FORWARD ? 0 : s.loop_start, s.loop_start + s.loop_length - 1));
            v.position_fraction = uint32_t(rng());
            v.step_integer = uint32_t(range(0, 2) == 0 ? range(0, 3000) : range(0, 2));
            v.step_fraction = uint32_t(rng());
            v.left_gain = int32_t(range(0, 3) ? range(0, 255) : 0);
            v.right_gain = int32_t(range(0, 255) * (v.left_gain != 0));
            v.current_left_gain = int32_t(range(0, 2) ? v.left_gain * 256 : range(0, 65280));
            v.current_right_gain = int32_t(range(0, 2) ? v.right_gain * 256 : range(0, 65280));
        }
        for (int call = 0; call < 8; call++) {
            const int32_t frames = int32_t(range(1, std::vector<int>{200, 1200, 6000}[range(0, 2)]));  // ramps end inside or not
            const int32_t split = int32_t(range(0, 1) ? 0 : range(1, frames));  // two mixing calls
            Voice mixed[MIXED_VOICE_COUNT];
            std::copy(VoicePool, VoicePool + MIXED_VOICE_COUNT, mixed);
            std::vector<float> out(2 * size_t(frames));
            MixVoices(out.data(), split ? split : frames);
            if (split) MixVoices(out.data(), frames - split);
            std::swap_ranges(VoicePool, VoicePool + MIXED_VOICE_COUNT, mixed);
            AdvanceVoices(frames, split);
            for (int slot = 0; slot < MIXED_VOICE_COUNT; slot++) {
                ASSERT_EQ(State(VoicePool[slot]), State(mixed[slot])) << "round " << round << " call " << call
                                                                      << " slot " << slot;
                ramps += mixed[slot].ramp_frames_left > 0;
                stopped += mixed[slot].sample == nullptr;
            }
            // Between calls the replay retargets gains: ramps start, end inside calls, or are replanned.
            for (int slot = 0; slot < MIXED_VOICE_COUNT; slot++)
                if (range(0, 4) == 0) VoicePool[slot].left_gain = int32_t(range(0, 255));
        }
    }
    ramp_length = 128, inverse_ramp_length = 0.0078125f;
    EXPECT_GT(ramps, 1000);  // the cases are met
    EXPECT_GT(stopped, 1000);
}

}  // namespace
