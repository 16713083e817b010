// Voices that are silent for a whole call (ghosts that have faded out, notes
// at volume 0) skip the per-run work: their state jumps to where the runs
// would leave it. Held against the plain mixer over many such states: steps
// from tiny to many loop lengths, positions before, inside and at the end of
// the loop, calls of every length, samples with and without loop, and the
// states next to them that must not be skipped (a ramp still running, an
// applied gain of one unit, ping-pong loops, moving backward, a zero step).
#include <gtest/gtest.h>
#include <string.h>

#include <memory>
#include <random>
#include <vector>

#include "mixer/mixer.h"
#include "support/mix_reference.h"

namespace {

using reference::OwnedSample;

TEST(SilentVoices, MoveOnExactlyAsTheRunsWould) {
    std::mt19937_64 rng(99);
    auto range = [&rng](int64_t lo, int64_t hi) { return std::uniform_int_distribution<int64_t>(lo, hi)(rng); };
    std::vector<std::unique_ptr<OwnedSample>> samples;
    for (int i = 0; i < 24; i++) {
        const int length = static_cast<int>(range(1, i < 12 ? 40 : 5000));
        std::vector<int16_t> values(static_cast<size_t>(length));
        for (int16_t& v : values) v = static_cast<int16_t>(range(-30000, 30000));
        const uint8_t mode = i % 3 == 0 ? LOOP_NONE : i % 3 == 1 ? LOOP_FORWARD : LOOP_BIDI;
        const uint32_t start = static_cast<uint32_t>(range(0, length - 1));
        samples.push_back(
            std::make_unique<OwnedSample>(values, mode, start, static_cast<uint32_t>(range(1, length - start))));
    }
    int stopped = 0, wrapped = 0;
    for (int round = 0; round < 1500; round++) {
        ResetVoicePool();
        for (int slot = 0; slot < MIXED_VOICE_COUNT; slot += 1 + static_cast<int>(range(0, 3))) {
            Voice& v = VoicePool[slot];
            Sample* sample = &samples[static_cast<size_t>(range(0, samples.size() - 1))]->sample;
            v.sample = sample;
            const int64_t end = sample->loop_start + sample->loop_length;
            v.position = static_cast<uint32_t>(range(0, end));
            v.position_fraction = static_cast<uint32_t>(rng());
            v.direction = DIRECTION_FORWARD;
            switch (range(0, 3)) {
                case 0:
                    v.step_integer = 0;
                    v.step_fraction = static_cast<uint32_t>(rng()) >> range(0, 20);
                    break;
                case 1:
                    v.step_integer = static_cast<uint32_t>(range(0, 4));
                    v.step_fraction = static_cast<uint32_t>(rng());
                    break;
                case 2:
                    v.step_integer = static_cast<uint32_t>(range(1, 3 * (end + 1)));
                    break;
                default:
                    v.step_integer = static_cast<uint32_t>(range(0, 3000));
                    v.step_fraction = static_cast<uint32_t>(rng());
                    break;
            }
            // (The plain mixer wraps and reflects one loop length at a time:
            // steps of up to 40 loop lengths keep it quick.)
            if (v.step_integer > 40 * sample->loop_length) v.step_integer = 40 * sample->loop_length;
            if (sample->loop_mode == LOOP_BIDI) {
                if (v.step_integer > 4) v.step_integer = 4;
                // Whole positions and steps land exactly on the loop's ends,
                // where a turn's outcome depends on how the end was reached;
                // and a ping-pong voice may be on its way back.
                if (range(0, 1)) {
                    v.position_fraction = 0;
                    v.step_fraction = 0;
                    v.step_integer = static_cast<uint32_t>(range(1, 3 * sample->loop_length));
                    if (v.step_integer > 12) v.step_integer = 12;
                    v.position = static_cast<uint32_t>(range(sample->loop_start, end - 1));
                }
                if (range(0, 1)) v.direction = DIRECTION_BACKWARD;
            }
            // Silent: targets 0, applied gains below one unit, no ramp ...
            v.current_left_gain = static_cast<int32_t>(range(0, 255));
            v.current_right_gain = static_cast<int32_t>(range(0, 255));
            v.planned_left_gain = static_cast<int32_t>(range(0, 1)) * 90;
            v.planned_right_gain = static_cast<int32_t>(range(0, 1)) * 40;
            v.ramp_frames_left = range(0, 1) ? 0 : static_cast<int32_t>(range(1, 128));
            v.left_step = range(0, 1) ? 0.0f : 0.001f;
            // ... or one thing off, so that it must be mixed after all.
            switch (range(0, 9)) {
                case 0:
                    v.current_left_gain = 256;
                    break;
                case 1:
                    v.right_gain = 1;
                    break;
                case 2:  // (only where the plain mixer turns it quickly)
                    if (sample->loop_mode == LOOP_BIDI) v.direction = DIRECTION_BACKWARD;
                    break;
                case 3:
                    v.step_integer = v.step_fraction = 0;
                    break;
                default:
                    break;
            }
        }
        Voice expected[MIXED_VOICE_COUNT];
        memcpy(expected, VoicePool, sizeof expected);
        uint32_t initial[MIXED_VOICE_COUNT];
        for (int slot = 0; slot < MIXED_VOICE_COUNT; slot++) initial[slot] = VoicePool[slot].position;
        const int32_t frames = static_cast<int32_t>(range(0, 3) ? range(1, 900) : range(1, 20000));
        std::vector<float> out(2 * static_cast<size_t>(frames), 1.0f), reference_out = out;
        MixVoices(out.data(), frames);
        reference::MixVoices(expected, MIXED_VOICE_COUNT, reference_out.data(), frames, ramp_length,
                             inverse_ramp_length);
        ASSERT_EQ(memcmp(out.data(), reference_out.data(), out.size() * sizeof(float)), 0) << "round " << round;
        for (int slot = 0; slot < MIXED_VOICE_COUNT; slot++) {
            const Voice& a = VoicePool[slot];
            const Voice& b = expected[slot];
            ASSERT_TRUE(a.sample == b.sample && a.position == b.position &&
                        a.position_fraction == b.position_fraction && a.direction == b.direction &&
                        a.planned_left_gain == b.planned_left_gain && a.planned_right_gain == b.planned_right_gain &&
                        a.current_left_gain == b.current_left_gain && a.current_right_gain == b.current_right_gain &&
                        a.ramp_frames_left == b.ramp_frames_left &&
                        memcmp(&a.left_step, &b.left_step, sizeof(float)) == 0 &&
                        memcmp(&a.right_step, &b.right_step, sizeof(float)) == 0)
                << "round " << round << ", slot " << slot;
            stopped += b.sample == nullptr;
            wrapped += b.sample && b.sample->loop_mode == LOOP_FORWARD && b.position < initial[slot];
        }
    }
    // Both outcomes of a silent run's end occurred many times.
    EXPECT_GT(stopped, 1000);
    EXPECT_GT(wrapped, 1000);
}

}  // namespace
