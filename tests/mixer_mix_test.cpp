// The voice mixer on voices the replay engine never creates: nothing to read
// (the empty sample, a position outside the storage) stops a voice without
// reading; and frame counts below one change nothing. Everything else the
// random comparison with the reference mixer and the corpus digests pin.
#include <string.h>

#include <vector>

#include <gtest/gtest.h>

#include "support/mix_reference.h"

namespace {

// A voice that has settled at the gains, on its way forward at the step.
Voice& Place(int slot, Sample& sample, uint64_t position, uint64_t step, int32_t left_gain, int32_t right_gain) {
    Voice& v = VoicePool[slot];
    v.sample = &sample, v.direction = DIRECTION_FORWARD;
    v.position = uint32_t(position >> 32), v.position_fraction = uint32_t(position);
    v.step_integer = uint32_t(step >> 32), v.step_fraction = uint32_t(step);
    v.left_gain = v.planned_left_gain = left_gain, v.current_left_gain = left_gain * 256;
    v.right_gain = v.planned_right_gain = right_gain, v.current_right_gain = right_gain * 256;
    return v;
}

TEST(Mixer, VoicesWithNothingToReadStopAndNoFramesChangeNothing) {
    reference::OwnedSample none(std::vector<int16_t>{}), ten(std::vector<int16_t>(10, 1000), LOOP_FORWARD, 0, 10);
    const struct { Sample* sample; uint32_t position; } cases[] = {
        {&EmptySample, 0}, {&none.sample, 0}, {&ten.sample, 11}, {&ten.sample, 0xFFFFFFFEu}};
    for (const auto& c : cases) {
        ResetVoicePool();
        Voice& v = Place(5, *c.sample, uint64_t(c.position) << 32, 3ull << 31, 100, 100);
        v.current_left_gain = 0;  // a ramp would start
        std::vector<float> out(128, 0.0f);
        MixVoices(out.data(), 64);
        EXPECT_TRUE(out == std::vector<float>(128, 0.0f) && v.sample == nullptr) << c.position;
    }
    Place(0, ten, 5ull << 32, 1ull << 32, 200, 30).current_left_gain = 0;  // a ramp would start
    const Voice before = VoicePool[0];
    float buffer[2] = {1, 2};
    for (int32_t frames : {0, -1, INT32_MIN}) MixVoices(buffer, frames);
    EXPECT_TRUE(buffer[0] == 1 && buffer[1] == 2 && VoicePool[0].ramp_frames_left == before.ramp_frames_left &&
                VoicePool[0].position == before.position && VoicePool[0].planned_left_gain == before.planned_left_gain);
}

}  // namespace
