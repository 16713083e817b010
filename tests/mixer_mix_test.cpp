// The voice mixer on hand-built voices: runs and their ends, loops, ramps,
// ghosts, slot order, and the values the mixing rules pin down.
#include <string.h>

#include <vector>

#include <gtest/gtest.h>

#include "mixer/mixer.h"
#include "support/mix_reference.h"

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
        ramp_length = 128;
        inverse_ramp_length = 0.0078125f;
    }
};

TEST_F(Mixer, FrameCountsBelowOneChangeNothing) {
    OwnedSample sample(Slope(64, 100), LOOP_BIDI, 4, 20);
    Voice& v = Place(0, sample, 10, HALF, 1, QUARTER, 200, 30, DIRECTION_BACKWARD);
    v.current_left_gain = 0;  // a ramp would start
    for (int32_t frames : {0, -1, -1000, INT32_MIN}) {
        SCOPED_TRACE(frames);
        float buffer[8] = {1, 2, 3, 4, 5, 6, 7, 8};
        unsigned char pool_before[sizeof VoicePool];
        memcpy(pool_before, VoicePool, sizeof VoicePool);
        MixVoices(buffer, frames);
        const float expected[8] = {1, 2, 3, 4, 5, 6, 7, 8};
        EXPECT_EQ(memcmp(buffer, expected, sizeof buffer), 0);
        EXPECT_EQ(memcmp(pool_before, VoicePool, sizeof VoicePool), 0);
    }
}

// Gain 255 without a ramp weighs by exactly 1.0: 255 x GAIN_UNIT rounds to 1.0f.
TEST_F(Mixer, SampleWithoutLoopAddsExactlyItsLengthAtStepOneAndStops) {
    for (int length : {1, 2, 100, 1000}) {
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
            EXPECT_EQ(v.position, 0u);
            EXPECT_EQ(v.position_fraction, 0u);
        }
    }
}

// Entries 0 and 2 with fraction 0x80000001: t is 0.5 (the low bit is not used),
// so s is exactly 1 and 2^24 + 1 rounds to even, 2^24. With the full fraction
// s would lie above 1 and the sum would round up to 2^24 + 2.
TEST_F(Mixer, InterpolationUsesTheTop31BitsOfTheFraction) {
    OwnedSample sample({0, 2, 2, 2}, LOOP_FORWARD, 0, 4);
    Place(0, sample, 0, HALF | 1, 1, 0);
    float buffer[2] = {16777216.0f, 0.0f};
    MixVoices(buffer, 1);
    EXPECT_EQ(buffer[0], 16777216.0f);
}

TEST_F(Mixer, VoiceWithoutSampleDataStopsWithoutReadingAnything) {
    OwnedSample no_frames(std::vector<int16_t>{});
    for (Sample* sample : {&EmptySample, &no_frames.sample}) {
        ResetVoicePool();
        Voice& v = Place(5, *sample, 0, 0, 1, HALF, 100, 100);
        v.current_left_gain = 0;
        const std::vector<float> left = MixLeft(64);
        for (float value : left) EXPECT_EQ(value, 0.0f);
        EXPECT_EQ(v.sample, nullptr);
        EXPECT_EQ(v.position, 0u);
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
        // Boundary after B = 1 frame at 31.0, wrapped to 11.0.
        {"forward 29.5 step 1.5", LOOP_FORWARD, 10, 20, 29, HALF, 1, HALF, DIRECTION_FORWARD, {312}, 11, 0,
         DIRECTION_FORWARD},
        {"forward, next frames", LOOP_FORWARD, 10, 20, 29, HALF, 1, HALF, DIRECTION_FORWARD, {312, 176, 200}, 14, 0,
         DIRECTION_FORWARD},
        // 9.25 -> 3.25, 10.5 -> 4.5 (guard = entry 2), 11.75 -> 2.75, 10.0 -> 4.0.
        {"forward step above loop", LOOP_FORWARD, 2, 3, 2, 0, 7, QUARTER, DIRECTION_FORWARD, {32, 52, 48, 44}, 4, 0,
         DIRECTION_FORWARD},
        {"forward loop of one entry", LOOP_FORWARD, 3, 1, 0, 0, 1, 0, DIRECTION_FORWARD, {0, 16, 32, 48, 48, 48}, 3,
         0, DIRECTION_FORWARD},
        // At 30.0 the reflection gives 30 - 2^-32; guard = entry 29.
        {"ping-pong end", LOOP_BIDI, 10, 20, 28, 0, 1, 0, DIRECTION_FORWARD, {448, 464}, 29, ALMOST_ONE,
         DIRECTION_BACKWARD},
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
        // 2 - 2^-32 -> 18.0 = end + loop length -> 10 - 2^-32 -> 10.0 forward.
        {"ping-pong back to end + length", LOOP_BIDI, 10, 4, 12, 0, 10, 1, DIRECTION_BACKWARD, {192}, 10, 0,
         DIRECTION_FORWARD},
        // 105.25 on a loop 5..6 folds back to 5.25 after 100 reflections.
        {"ping-pong step far above loop", LOOP_BIDI, 5, 1, 5, 0, 100, QUARTER, DIRECTION_FORWARD, {80}, 5, QUARTER,
         DIRECTION_FORWARD},
        // Every direction other than 1 moves backward.
        {"direction 0 is backward", LOOP_BIDI, 10, 20, 20, 0, 1, 0, 0, {320, 304}, 18, 0, 0},
    };
    for (const LoopCase& c : cases) {
        SCOPED_TRACE(c.name);
        ResetVoicePool();
        OwnedSample sample(Slope(static_cast<int>(c.loop_start + c.loop_length), 16), c.mode, c.loop_start,
                           c.loop_length);
        Voice& v = Place(7, sample, c.position, c.fraction, c.step_integer, c.step_fraction, 255, 0, c.direction);
        const std::vector<float> left = MixLeft(static_cast<int32_t>(c.outputs.size()));
        EXPECT_EQ(left, c.outputs);
        EXPECT_EQ(v.position, c.end_position);
        EXPECT_EQ(v.position_fraction, c.end_fraction);
        EXPECT_EQ(v.direction, c.end_direction);
        EXPECT_EQ(v.sample, &sample.sample);
    }
}

// Without a ramp the call lengths change nothing: runs only split.
TEST_F(Mixer, CallBoundariesWithoutRampChangeNoValue) {
    const std::vector<int16_t> values = {-30000, 12345, 777, -2, 31000, -18000, 5, 20000, -7777, 1};
    for (uint8_t mode : {LOOP_NONE, LOOP_FORWARD, LOOP_BIDI}) {
        SCOPED_TRACE(static_cast<int>(mode));
        OwnedSample sample(values, mode, 3, 6);
        ResetVoicePool();
        Place(0, sample, 1, 123456789, 0, 0x9E3779B9u, 90, 201);
        std::vector<float> whole(2 * 1000, 0.0f);
        MixVoices(whole.data(), 1000);
        const Voice after_whole = VoicePool[0];

        ResetVoicePool();
        Place(0, sample, 1, 123456789, 0, 0x9E3779B9u, 90, 201);
        std::vector<float> pieces(2 * 1000, 0.0f);
        int32_t done = 0;
        for (int32_t call : {1, 7, 300, 2, 690}) {
            MixVoices(pieces.data() + 2 * done, call);
            done += call;
        }
        EXPECT_EQ(memcmp(whole.data(), pieces.data(), whole.size() * sizeof(float)), 0);
        EXPECT_EQ(VoicePool[0].position, after_whole.position);
        EXPECT_EQ(VoicePool[0].position_fraction, after_whole.position_fraction);
        EXPECT_EQ(VoicePool[0].direction, after_whole.direction);
        EXPECT_EQ(VoicePool[0].sample, after_whole.sample);
    }
}

// Step 0 never moves the position; only the boundary count uses 24932236:
// one entry without loop lasts ceil(2^32 / 24932236) = 173 frames.
TEST_F(Mixer, ZeroStepHoldsThePosition) {
    OwnedSample single({500});
    Voice& v = Place(0, single, 0, 0, 0, 0);
    std::vector<float> left = MixLeft(200);
    for (int k = 0; k < 200; k++) ASSERT_EQ(left[k], k < 173 ? 500.0f : 0.0f) << k;
    EXPECT_EQ(v.sample, nullptr);

    for (uint8_t mode : {LOOP_FORWARD, LOOP_BIDI}) {
        OwnedSample looped(Slope(8, 16), mode, 2, 4);
        Voice& w = Place(1, looped, 4, HALF, 0, 0, 255, 0, DIRECTION_BACKWARD);
        left = MixLeft(1000);
        for (float value : left) ASSERT_EQ(value, 72.0f);
        EXPECT_EQ(w.position, 4u);
        EXPECT_EQ(w.position_fraction, HALF);
        EXPECT_EQ(w.sample, &looped.sample);
        w.sample = nullptr;
    }
}

// A state the replay engine never creates (a position far behind the end)
// ends the voice instead of reading beyond the sample's storage.
TEST_F(Mixer, PositionOutsideTheSampleEndsTheVoice) {
    OwnedSample sample(Slope(10, 16), LOOP_FORWARD, 0, 10);
    for (uint32_t position : {11u, 5000u, 0x80000000u, 0xFFFFFFFEu}) {
        Voice& v = Place(2, sample, position, 0, 1, 0);
        for (float value : MixLeft(20)) EXPECT_EQ(value, 0.0f);
        EXPECT_EQ(v.sample, nullptr) << position;
    }
}

// A constant sample of 10000 on a long loop: a fresh note at gain 255 ramps
// with steps of 255 x GAIN_UNIT / 128, which rounds to exactly 1/128.
TEST_F(Mixer, FreshNoteRampsInOverRampLength) {
    OwnedSample sample(std::vector<int16_t>(4000, 10000), LOOP_FORWARD, 0, 4000);
    Voice& v = Place(0, sample, 0, 0, 1, 0, 255, 0);
    v.current_left_gain = 0;
    const std::vector<float> left = MixLeft(300);
    for (int k = 0; k < 300; k++) ASSERT_EQ(left[k], k < 128 ? 78.125f * k : 10000.0f) << k;
    EXPECT_EQ(v.current_left_gain, 65280);
    EXPECT_EQ(v.current_right_gain, 0);
    EXPECT_EQ(v.ramp_frames_left, 0);
    EXPECT_EQ(v.left_step, 0.0f);
    EXPECT_EQ(v.planned_left_gain, 255);
    MixLeft(10);
    EXPECT_EQ(v.ramp_frames_left, 0);  // no new ramp while the target stays
}

// The ramp stops 100 frames in at the call end with 100/128 x 65280 = 51000
// stored; the next call starts from float(51000/256 x GAIN_UNIT), which lies
// 2^-24 above 100/128.
TEST_F(Mixer, RampContinuesIntoTheNextCallFromItsRoundedGain) {
    OwnedSample sample(std::vector<int16_t>(4000, 10000), LOOP_FORWARD, 0, 4000);
    Voice& v = Place(0, sample, 0, 0, 1, 0, 255, 0);
    v.current_left_gain = 0;
    MixLeft(100);
    EXPECT_EQ(v.current_left_gain, 51000);
    EXPECT_EQ(v.ramp_frames_left, 28);
    EXPECT_EQ(v.left_step, 0.0078125f);
    const std::vector<float> left = MixLeft(40);
    for (int j = 0; j < 40; j++) {
        const float expected = j < 28 ? static_cast<float>(10000.0 * (0.78125 + 0x1p-24 + j / 128.0)) : 10000.0f;
        ASSERT_EQ(left[j], expected) << j;
    }
    EXPECT_EQ(left[0], 7812.5f + 0x1p-11f);
    EXPECT_EQ(v.current_left_gain, 65280);
    EXPECT_EQ(v.ramp_frames_left, 0);
}

// A loop of 50 entries splits the ramp after frame 49; frame 50 is weighted
// with float(25500/256 x GAIN_UNIT) = 0.390625 + 2^-25.
TEST_F(Mixer, RampSplitAtLoopEndRestartsFromTheRoundedGain) {
    OwnedSample sample(std::vector<int16_t>(50, 10000), LOOP_FORWARD, 0, 50);
    Voice& v = Place(0, sample, 0, 0, 1, 0, 255, 0);
    v.current_left_gain = 0;
    const std::vector<float> left = MixLeft(200);
    EXPECT_EQ(left[49], 3828.125f);
    EXPECT_EQ(left[50], 3906.25f + 0x1p-12f);
    EXPECT_EQ(left[127], static_cast<float>(10000.0 * (127 / 128.0 + 0x1p-24)));
    EXPECT_EQ(left[128], 10000.0f);
    EXPECT_EQ(v.current_left_gain, 65280);
}

// Retargeting halfway (applied 127.5) plans from the integer part 127: the
// steps are -127 x GAIN_UNIT / 128 from 0.5, so the last ramp frame still
// weighs 0.5 - 127 x 127/255/128 (about 0.00585, not 1/256), and then 0.
TEST_F(Mixer, RetargetMidRampPlansFromTheIntegerPartAndEndsOnTheTarget) {
    OwnedSample sample(std::vector<int16_t>(4000, 10000), LOOP_FORWARD, 0, 4000);
    Voice& v = Place(0, sample, 0, 0, 1, 0, 255, 0);
    v.current_left_gain = 0;
    MixLeft(64);
    EXPECT_EQ(v.current_left_gain, 32640);
    v.left_gain = 0;
    EXPECT_EQ(MixLeft(1)[0], 5000.0f);
    EXPECT_EQ(v.planned_left_gain, 0);
    EXPECT_EQ(v.left_step, -0.0038909316062927246f);
    EXPECT_EQ(v.ramp_frames_left, 127);
    const std::vector<float> left = MixLeft(129);
    EXPECT_NEAR(left[126], 58.5169, 1e-2);
    EXPECT_EQ(left[127], 0.0f);
    EXPECT_EQ(v.current_left_gain, 0);
    EXPECT_EQ(v.ramp_frames_left, 0);
}

TEST_F(Mixer, GhostFadesToSilenceAndStaysMixedAtZeroGain) {
    OwnedSample looped(std::vector<int16_t>(40, -10000), LOOP_BIDI, 8, 32);
    Voice& ghost = Place(32, looped, 0, 0, 1, HALF, 0, 0);
    ghost.current_left_gain = ghost.current_right_gain = 100 * 256;
    std::vector<float> buffer(2 * 400, 0.0f);
    MixVoices(buffer.data(), 400);
    EXPECT_EQ(buffer[0], static_cast<float>(-10000.0 * static_cast<float>(100 * GAIN_UNIT)));
    for (int k = 1; k < 128; k++) {
        ASSERT_GT(buffer[2 * k], buffer[2 * k - 2]) << k;
        ASSERT_EQ(buffer[2 * k], buffer[2 * k + 1]) << k;
    }
    EXPECT_LT(buffer[2 * 127], 0.0f);
    for (int k = 128; k < 400; k++) ASSERT_EQ(buffer[2 * k], 0.0f) << k;
    EXPECT_EQ(ghost.current_left_gain, 0);
    EXPECT_EQ(ghost.sample, &looped.sample);
    const uint32_t position = ghost.position;
    MixVoices(buffer.data(), 400);
    EXPECT_EQ(ghost.sample, &looped.sample);  // a looping ghost plays on, silent
    EXPECT_NE(ghost.position, position);
    for (int k = 128; k < 400; k++) ASSERT_EQ(buffer[2 * k], 0.0f) << k;

    OwnedSample single_shot(std::vector<int16_t>(300, -10000));
    Voice& ending = Place(33, single_shot, 0, 0, 1, 0, 0, 0);
    ending.current_left_gain = 255 * 256;
    ghost.sample = nullptr;
    MixVoices(buffer.data(), 400);
    EXPECT_EQ(ending.sample, nullptr);  // a ghost without loop ends with its sample
}

// Buffer value 2^-13: slot 0 adds 2048 (the sum ties and rounds to even,
// 2048), slot 1 then adds -2048 and leaves 0. In the other order, or with the
// two voices summed before the store, 2^-13 would remain.
TEST_F(Mixer, VoicesAreAddedInSlotOrderEachStoredInSinglePrecision) {
    OwnedSample up(std::vector<int16_t>(16, 2048), LOOP_FORWARD, 0, 16);
    OwnedSample down(std::vector<int16_t>(16, -2048), LOOP_FORWARD, 0, 16);
    Place(0, up, 0, 0, 1, 0, 255, 255);
    Place(1, down, 0, 0, 1, 0, 0, 255);
    std::vector<float> buffer(2 * 16, 0x1p-13f);
    MixVoices(buffer.data(), 16);
    for (int k = 0; k < 16; k++) {
        ASSERT_EQ(buffer[2 * k], 2048.0f) << k;
        ASSERT_EQ(buffer[2 * k + 1], 0.0f) << k;
    }

    ResetVoicePool();
    Place(63, up, 0, 0, 1, 0, 255, 255);  // the last mixed slot
    Place(64, up, 0, 0, 1, 0, 255, 255);  // beyond: never mixed
    std::vector<float> single(2 * 16, 0.0f);
    MixVoices(single.data(), 16);
    for (float value : single) ASSERT_EQ(value, 2048.0f);
    EXPECT_EQ(VoicePool[64].position, 0u);
}

}  // namespace
