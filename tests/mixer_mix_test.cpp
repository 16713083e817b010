// The voice mixer on hand-built voices: the values the mixing rules pin down
// for loop ends, ramps and slot order, which the reference mixer could share
// a mistake about; and voices with nothing to read.
#include <string.h>

#include <vector>

#include <gtest/gtest.h>

#include "support/mix_reference.h"

namespace {

using reference::OwnedSample;

constexpr uint32_t HALF = 0x80000000u, QUARTER = 0x40000000u, ALMOST_ONE = 0xFFFFFFFFu;

class Mixer : public ::testing::Test {
protected:
    void SetUp() override { ResetVoicePool(), ramp_length = 128, inverse_ramp_length = 0.0078125f; }
    // A voice that has settled: applied gains at their targets, no ramp running.
    Voice& Place(int slot, Sample& sample, uint64_t position, uint64_t step, int32_t left_gain = 255,
                 int32_t right_gain = 0, int32_t direction = DIRECTION_FORWARD) {
        Voice& v = VoicePool[slot];
        v.sample = &sample;
        v.position = uint32_t(position >> 32), v.position_fraction = uint32_t(position);
        v.step_integer = uint32_t(step >> 32), v.step_fraction = uint32_t(step);
        v.direction = direction;
        v.left_gain = v.planned_left_gain = left_gain, v.current_left_gain = left_gain * 256;
        v.right_gain = v.planned_right_gain = right_gain, v.current_right_gain = right_gain * 256;
        return v;
    }
    // Mixes frames into a fresh zero buffer and returns the left values.
    static std::vector<float> MixLeft(int32_t frames) {
        std::vector<float> buffer(2 * size_t(frames), 0.0f), left;
        MixVoices(buffer.data(), frames);
        for (int32_t k = 0; k < frames; k++) left.push_back(buffer[2 * k]);
        return left;
    }
};

std::vector<int16_t> Slope(int count) {  // entry k holds 16 x k
    std::vector<int16_t> values;
    for (int k = 0; k < count; k++) values.push_back(int16_t(16 * k));
    return values;
}

// Neither the empty sample nor a position outside the storage is read; no frames, no change.
TEST_F(Mixer, VoicesWithNothingToReadStopAndNoFramesChangeNothing) {
    OwnedSample none(std::vector<int16_t>{}), ten(Slope(10), LOOP_FORWARD, 0, 10);
    const struct { Sample* sample; uint32_t position; } cases[] = {
        {&EmptySample, 0}, {&none.sample, 0}, {&ten.sample, 11}, {&ten.sample, 0xFFFFFFFEu}};
    for (const auto& c : cases) {
        ResetVoicePool();
        Voice& v = Place(5, *c.sample, uint64_t(c.position) << 32, 1ull << 32 | HALF, 100, 100);
        v.current_left_gain = 0;
        EXPECT_EQ(MixLeft(64), std::vector<float>(64, 0.0f)) << c.position;
        EXPECT_EQ(v.sample, nullptr) << c.position;
    }
    Place(0, ten, 5ull << 32, 1ull << 32, 200, 30, DIRECTION_BACKWARD).current_left_gain = 0;  // a ramp would start
    Voice before = VoicePool[0];
    float buffer[2] = {1, 2};
    for (int32_t frames : {0, -1, INT32_MIN}) MixVoices(buffer, frames);
    EXPECT_TRUE(buffer[0] == 1 && buffer[1] == 2 && VoicePool[0].ramp_frames_left == before.ramp_frames_left &&
                VoicePool[0].position == before.position && VoicePool[0].planned_left_gain == before.planned_left_gain);
}

TEST_F(Mixer, LoopsWrapAndReflect) {
    const struct {
        const char* name;
        uint8_t mode;
        uint32_t loop_start, loop_length;
        uint64_t position, step;  // 32.32
        int32_t direction;
        std::vector<float> outputs;  // left value per frame (16 x position at gain 1)
        uint64_t end_position;
        int32_t end_direction;
    } cases[] = {
        // Boundary after 1 frame at 31.0, wrapped to 11.0.
        {"forward 29.5 step 1.5", LOOP_FORWARD, 10, 20, 29ull << 32 | HALF, 1ull << 32 | HALF, DIRECTION_FORWARD,
         {312, 176, 200}, 14ull << 32, DIRECTION_FORWARD},
        // 9.25 -> 3.25, 10.5 -> 4.5 (guard = entry 2), 11.75 -> 2.75, 10.0 -> 4.0.
        {"forward step above loop", LOOP_FORWARD, 2, 3, 2ull << 32, 7ull << 32 | QUARTER, DIRECTION_FORWARD,
         {32, 52, 48, 44}, 4ull << 32, DIRECTION_FORWARD},
        // At 30.0 the reflection gives 30 - 2^-32; guard = entry 29.
        {"ping-pong end", LOOP_BIDI, 10, 20, 28ull << 32, 1ull << 32, DIRECTION_FORWARD, {448, 464, 464, 464},
         27ull << 32 | ALMOST_ONE, DIRECTION_BACKWARD},
        // At 0.0 moving backward the reflection lands on -2^-32: position -1, the zero entry in front.
        {"ping-pong start 0", LOOP_BIDI, 0, 4, 1ull << 32, 1ull << 32, DIRECTION_BACKWARD, {16, 0, 16},
         1ull << 32 | ALMOST_ONE, DIRECTION_FORWARD},
        // 21.0 -> 7 - 2^-32 -> 13.0 forward; 22.0 -> 6 - 2^-32 -> 14.0 -> 14 - 2^-32 backward;
        // 5 - 2^-32 -> 15.0 -> 13 - 2^-32 backward.
        {"ping-pong step above loop", LOOP_BIDI, 10, 4, 12ull << 32, 9ull << 32, DIRECTION_FORWARD, {192, 208, 208},
         12ull << 32 | ALMOST_ONE, DIRECTION_BACKWARD},
        // 105.25 on a loop 5..6 folds back to 5.25 after 100 reflections.
        {"ping-pong step far above loop", LOOP_BIDI, 5, 1, 5ull << 32, 100ull << 32 | QUARTER, DIRECTION_FORWARD, {80},
         5ull << 32 | QUARTER, DIRECTION_FORWARD},
        {"step 0 holds", LOOP_BIDI, 2, 4, 4ull << 32 | HALF, 0, DIRECTION_BACKWARD, {72, 72, 72}, 4ull << 32 | HALF,
         DIRECTION_BACKWARD},
    };
    for (const auto& c : cases) {
        ResetVoicePool();
        OwnedSample sample(Slope(int(c.loop_start + c.loop_length)), c.mode, c.loop_start, c.loop_length);
        Voice& v = Place(7, sample, c.position, c.step, 255, 0, c.direction);
        EXPECT_EQ(MixLeft(int32_t(c.outputs.size())), c.outputs) << c.name;
        EXPECT_EQ((std::vector<uint64_t>{uint64_t(v.position) << 32 | v.position_fraction, uint64_t(v.direction),
                                         v.sample == &sample.sample}),
                  (std::vector<uint64_t>{c.end_position, uint64_t(c.end_direction), 1})) << c.name;
    }
}

// A constant 10000 on a long loop: a fresh note at gain 255 weighs frame k by
// k/128 (255 x GAIN_UNIT / 128 rounds to exactly 1/128). Stopped after 100
// frames, 51000 is stored and the next call goes on from float(51000/256 x
// GAIN_UNIT), 2^-24 above 100/128.
TEST_F(Mixer, RampsInByKOver128AndContinuesFromTheStoredGain) {
    OwnedSample sample(std::vector<int16_t>(4000, 10000), LOOP_FORWARD, 0, 4000);
    Voice& v = Place(0, sample, 0, 1ull << 32);
    v.current_left_gain = 0;
    std::vector<float> left = MixLeft(100);
    for (int k = 0; k < 100; k++) ASSERT_EQ(left[k], 78.125f * k) << k;
    EXPECT_TRUE(v.current_left_gain == 51000 && v.ramp_frames_left == 28 && v.left_step == 0.0078125f);
    left = MixLeft(40);
    for (int j = 0; j < 40; j++)
        ASSERT_EQ(left[j], j < 28 ? float(10000.0 * (0.78125 + 0x1p-24 + j / 128.0)) : 10000.0f) << j;
    EXPECT_TRUE(v.current_left_gain == 65280 && v.ramp_frames_left == 0);
}

// Buffer value 2^-13: slot 0 adds 2048 (the tie rounds to even, 2048), slot 1
// then adds -2048 and leaves 0. In the other order, or with the voices summed
// before the store, 2^-13 would remain. Slot 64 lies beyond the mixed ones.
TEST_F(Mixer, VoicesAreAddedInSlotOrderEachStoredInSinglePrecision) {
    OwnedSample up(std::vector<int16_t>(16, 2048), LOOP_FORWARD, 0, 16), down(std::vector<int16_t>(16, -2048), LOOP_FORWARD, 0, 16);
    Place(0, up, 0, 1ull << 32, 255, 255), Place(1, down, 0, 1ull << 32, 0, 255), Place(64, up, 0, 1ull << 32, 255, 255);
    std::vector<float> buffer(2 * 16, 0x1p-13f), expected;
    MixVoices(buffer.data(), 16);
    for (int k = 0; k < 16; k++) expected.insert(expected.end(), {2048.0f, 0.0f});
    EXPECT_EQ(buffer, expected);
    EXPECT_EQ(VoicePool[64].position, 0u);
}

}  // namespace
