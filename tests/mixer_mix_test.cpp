// The voice mixer on hand-built voices: the exact values the mixing rules pin
// down for runs and their ends, loops, ramps and slot order.
#include <string.h>

#include <vector>

#include <gtest/gtest.h>

#include "mixer/mixer.h"
#include "support/mix_reference.h"

using namespace vinto;

namespace {

using reference::OwnedSample;

constexpr uint32_t HALF = 0x80000000u;
constexpr uint32_t QUARTER = 0x40000000u;
constexpr uint32_t ALMOST_ONE = 0xFFFFFFFFu;

// A voice that has settled: applied gains at their targets, no ramp running.
Voice& Place(int slot, Sample& sample, uint32_t position, uint32_t fraction, uint32_t step_integer,
             uint32_t step_fraction, int32_t left_gain = 255, int32_t right_gain = 0,
             int32_t direction = DIRECTION_FORWARD) {
    Voice& v = VoicePool[slot];
    v.sample = &sample;
    v.position = position;
    v.position_fraction = fraction;
    v.step_integer = step_integer;
    v.step_fraction = step_fraction;
    v.direction = direction;
    v.left_gain = v.planned_left_gain = left_gain;
    v.right_gain = v.planned_right_gain = right_gain;
    v.current_left_gain = left_gain * 256;
    v.current_right_gain = right_gain * 256;
    return v;
}

// Mixes frames into a fresh zero buffer and returns the left values.
std::vector<float> MixLeft(int32_t frames) {
    std::vector<float> buffer(2 * static_cast<size_t>(frames), 0.0f);
    MixVoices(buffer.data(), frames);
    std::vector<float> left(static_cast<size_t>(frames));
    for (int32_t k = 0; k < frames; k++) left[k] = buffer[2 * k];
    return left;
}

std::vector<int16_t> Slope(int count, int16_t per_entry) {
    std::vector<int16_t> values(static_cast<size_t>(count));
    for (int i = 0; i < count; i++) values[i] = static_cast<int16_t>(i * per_entry);
    return values;
}

class Mixer : public ::testing::Test {
protected:
    void SetUp() override {
        ResetVoicePool();
        ramp_length = 128, inverse_ramp_length = 0.0078125f;
    }
};

TEST_F(Mixer, FrameCountsBelowOneChangeNothing) {
    OwnedSample sample(Slope(64, 100), LOOP_BIDI, 4, 20);
    Place(0, sample, 10, HALF, 1, QUARTER, 200, 30, DIRECTION_BACKWARD).current_left_gain = 0;  // a ramp would start
    for (int32_t frames : {0, -1, INT32_MIN}) {
        float buffer[4] = {1, 2, 3, 4};
        const float expected[4] = {1, 2, 3, 4};
        unsigned char pool_before[sizeof VoicePool];
        memcpy(pool_before, VoicePool, sizeof VoicePool);
        MixVoices(buffer, frames);
        EXPECT_EQ(memcmp(buffer, expected, sizeof buffer), 0) << frames;
        EXPECT_EQ(memcmp(pool_before, VoicePool, sizeof VoicePool), 0) << frames;
    }
}

// Gain 255 without a ramp weighs by exactly 1.0; lengths and call sizes vary.
TEST_F(Mixer, SampleWithoutLoopAddsExactlyItsLengthAtStepOneAndStops) {
    for (int length : {1, 2, 1000}) {
        for (int32_t call : {length + 50, 7}) {
            SCOPED_TRACE(testing::Message() << "length " << length << ", calls of " << call);
            std::vector<int16_t> values(static_cast<size_t>(length));
            for (int i = 0; i < length; i++) values[i] = static_cast<int16_t>((i * 37) % 2000 - 1000);
            OwnedSample sample(values);
            Voice& v = Place(3, sample, 0, 0, 1, 0);
            std::vector<float> left;
            while (static_cast<int>(left.size()) < length + 50) {
                const std::vector<float> part = MixLeft(call);
                left.insert(left.end(), part.begin(), part.end());
            }
            for (int k = 0; k < static_cast<int>(left.size()); k++)
                ASSERT_EQ(left[k], k < length ? values[k] : 0.0f) << "frame " << k;
            EXPECT_EQ(v.sample, nullptr);
            EXPECT_EQ(v.position | v.position_fraction, 0u);
        }
    }
}

// Neither the empty sample nor a position beyond the storage is read.
TEST_F(Mixer, VoicesWithNothingToReadStop) {
    OwnedSample no_frames(std::vector<int16_t>{}), ten(Slope(10, 16), LOOP_FORWARD, 0, 10);
    const struct { Sample* sample; uint32_t position; } cases[] = {{&EmptySample, 0}, {&no_frames.sample, 0}, {&ten.sample, 11}, {&ten.sample, 0xFFFFFFFEu}};
    for (const auto& c : cases) {
        ResetVoicePool();
        Voice& v = Place(5, *c.sample, c.position, 0, 1, HALF, 100, 100);
        v.current_left_gain = 0;
        for (float value : MixLeft(64)) ASSERT_EQ(value, 0.0f) << c.position;
        EXPECT_EQ(v.sample, nullptr) << c.position;
    }
}

struct LoopCase {
    const char* name;
    uint8_t mode;
    uint32_t loop_start, loop_length;
    uint32_t position, fraction, step_integer, step_fraction;
    int32_t direction;
    std::vector<float> outputs;  // left value per frame; entries are 16 x index
    uint32_t end_position, end_fraction;
    int32_t end_direction;
};

TEST_F(Mixer, LoopsWrapAndReflect) {
    const LoopCase cases[] = {
        // Boundary after 1 frame at 31.0, wrapped to 11.0.
        {"forward 29.5 step 1.5", LOOP_FORWARD, 10, 20, 29, HALF, 1, HALF, DIRECTION_FORWARD, {312, 176, 200}, 14, 0,
         DIRECTION_FORWARD},
        // 9.25 -> 3.25, 10.5 -> 4.5 (guard = entry 2), 11.75 -> 2.75, 10.0 -> 4.0.
        {"forward step above loop", LOOP_FORWARD, 2, 3, 2, 0, 7, QUARTER, DIRECTION_FORWARD, {32, 52, 48, 44}, 4, 0,
         DIRECTION_FORWARD},
        // At 30.0 the reflection gives 30 - 2^-32; guard = entry 29.
        {"ping-pong end, next frames", LOOP_BIDI, 10, 20, 28, 0, 1, 0, DIRECTION_FORWARD, {448, 464, 464, 464}, 27,
         ALMOST_ONE, DIRECTION_BACKWARD},
        // At 0.0 moving backward the reflection lands on -2^-32, position -1.
        {"ping-pong start 0", LOOP_BIDI, 0, 4, 1, 0, 1, 0, DIRECTION_BACKWARD, {16}, ALMOST_ONE, ALMOST_ONE,
         DIRECTION_FORWARD},
        {"ping-pong start 0, next frames", LOOP_BIDI, 0, 4, 1, 0, 1, 0, DIRECTION_BACKWARD, {16, 0, 16}, 1,
         ALMOST_ONE, DIRECTION_FORWARD},
        // 21.0 -> 7 - 2^-32 -> 13.0 forward; 22.0 -> 6 - 2^-32 -> 14.0 -> 14 - 2^-32 backward;
        // 5 - 2^-32 -> 15.0 -> 13 - 2^-32 backward.
        {"ping-pong step above loop", LOOP_BIDI, 10, 4, 12, 0, 9, 0, DIRECTION_FORWARD, {192, 208, 208}, 12,
         ALMOST_ONE, DIRECTION_BACKWARD},
        // 105.25 on a loop 5..6 folds back to 5.25 after 100 reflections.
        {"ping-pong step far above loop", LOOP_BIDI, 5, 1, 5, 0, 100, QUARTER, DIRECTION_FORWARD, {80}, 5, QUARTER,
         DIRECTION_FORWARD},
        {"direction 0 is backward", LOOP_BIDI, 10, 20, 20, 0, 1, 0, 0, {320, 304}, 18, 0, 0},
        {"step 0 holds", LOOP_BIDI, 2, 4, 4, HALF, 0, 0, DIRECTION_BACKWARD, {72, 72, 72}, 4, HALF,
         DIRECTION_BACKWARD},
    };
    for (const LoopCase& c : cases) {
        SCOPED_TRACE(c.name);
        ResetVoicePool();
        OwnedSample sample(Slope(static_cast<int>(c.loop_start + c.loop_length), 16), c.mode, c.loop_start,
                           c.loop_length);
        Voice& v = Place(7, sample, c.position, c.fraction, c.step_integer, c.step_fraction, 255, 0, c.direction);
        EXPECT_EQ(MixLeft(static_cast<int32_t>(c.outputs.size())), c.outputs);
        EXPECT_EQ(v.position, c.end_position);
        EXPECT_EQ(v.position_fraction, c.end_fraction);
        EXPECT_EQ(v.direction, c.end_direction);
        EXPECT_EQ(v.sample, &sample.sample);
    }
}

// A constant 10000 on a long loop: a fresh note at gain 255 weighs frame k by
// k/128 (255 x GAIN_UNIT / 128 rounds to exactly 1/128). Stopped after 100
// frames, 51000 is stored and the next call goes on from float(51000/256 x
// GAIN_UNIT), 2^-24 above 100/128.
TEST_F(Mixer, RampsInByKOver128AndContinuesFromTheStoredGain) {
    OwnedSample sample(std::vector<int16_t>(4000, 10000), LOOP_FORWARD, 0, 4000);
    Voice& v = Place(0, sample, 0, 0, 1, 0, 255, 0);
    v.current_left_gain = 0;
    std::vector<float> left = MixLeft(100);
    for (int k = 0; k < 100; k++) ASSERT_EQ(left[k], 78.125f * k) << k;
    EXPECT_EQ(v.current_left_gain, 51000);
    EXPECT_EQ(v.ramp_frames_left, 28);
    EXPECT_EQ(v.left_step, 0.0078125f);
    left = MixLeft(40);
    for (int j = 0; j < 40; j++) {
        const float expected = j < 28 ? static_cast<float>(10000.0 * (0.78125 + 0x1p-24 + j / 128.0)) : 10000.0f;
        ASSERT_EQ(left[j], expected) << j;
    }
    EXPECT_EQ(v.current_left_gain, 65280);
    EXPECT_EQ(v.ramp_frames_left, 0);
}

// Buffer value 2^-13: slot 0 adds 2048 (the tie rounds to even, 2048), slot 1
// then adds -2048 and leaves 0. In the other order, or with the voices summed
// before the store, 2^-13 would remain. Slot 64 lies beyond the mixed ones.
TEST_F(Mixer, VoicesAreAddedInSlotOrderEachStoredInSinglePrecision) {
    OwnedSample up(std::vector<int16_t>(16, 2048), LOOP_FORWARD, 0, 16);
    OwnedSample down(std::vector<int16_t>(16, -2048), LOOP_FORWARD, 0, 16);
    Place(0, up, 0, 0, 1, 0, 255, 255);
    Place(1, down, 0, 0, 1, 0, 0, 255);
    Place(64, up, 0, 0, 1, 0, 255, 255);
    std::vector<float> buffer(2 * 16, 0x1p-13f);
    MixVoices(buffer.data(), 16);
    for (int k = 0; k < 16; k++) {
        ASSERT_EQ(buffer[2 * k], 2048.0f) << k;
        ASSERT_EQ(buffer[2 * k + 1], 0.0f) << k;
    }
    EXPECT_EQ(VoicePool[64].position, 0u);
}

}  // namespace
