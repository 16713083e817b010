// Short forward loops stored repeated (Sample.repeats): a run of fixed gains
// reads the repeats and passes many loop ends at once. Every kernel variant
// must still give the plain reference mixer's bits and voice states (which
// never look at the repeats), and AdvanceVoices the states the mixer leaves.
#include <string.h>

#include <memory>
#include <random>
#include <tuple>
#include <vector>
#include <gtest/gtest.h>

#include "mixer/mix_kernels.h"
#include "mixer/mixer.h"
#include "support/mix_reference.h"

namespace {

// A forward loop with its repeats laid out as the loader stores them.
struct RepeatedLoop {
    reference::OwnedSample owned;
    std::vector<int16_t> repeats;  // one entry in front, then copies x length + 1 entries
    RepeatedLoop(const std::vector<int16_t>& values, uint32_t start, uint32_t length, uint32_t copies)
        : owned(values, LOOP_FORWARD, start, length), repeats(size_t(copies) * length + 2) {
        for (size_t j = 0; j + 1 < repeats.size(); j++) repeats[j + 1] = values[start + j % length];
        owned.sample.repeats = repeats.data() + 1;
        owned.sample.repeat_entries = copies * length;
    }
};

auto State(const Voice& v) {
    return std::make_tuple(v.sample, v.position, v.position_fraction, v.direction, v.planned_left_gain,
                           v.planned_right_gain, v.current_left_gain, v.current_right_gain, v.ramp_frames_left,
                           v.left_step, v.right_step);
}

TEST(MixerRepeats, RunsThroughLoopRepeatsGiveTheReferenceBitsAndStates) {
    std::mt19937_64 rng(18);
    auto range = [&](int64_t lo, int64_t hi) { return std::uniform_int_distribution<int64_t>(lo, hi)(rng); };
    const int32_t previous = SelectedMixVariant();
    for (int32_t variant = 0; variant < MIX_VARIANT_COUNT && !HasFailure(); variant++) {
        if (!SelectMixVariant(variant)) continue;
        for (int round = 0; round < 150 && !HasFailure(); round++) {
            std::vector<std::unique_ptr<RepeatedLoop>> loops;
            for (int k = 0; k < 4; k++) {
                std::vector<int16_t> values(size_t(range(1, 400)));
                for (int16_t& value : values) value = int16_t(range(-32768, 32767));
                const uint32_t start = uint32_t(range(0, int64_t(values.size()) - 1));
                const uint32_t length = uint32_t(range(1, int64_t(values.size()) - start));
                loops.push_back(std::make_unique<RepeatedLoop>(values, start, length, uint32_t(range(1, 60))));
            }
            ResetVoicePool();
            for (int slot = 0; slot < MIXED_VOICE_COUNT; slot += int(range(1, 3))) {
                Voice& v = VoicePool[slot];
                const Sample& s = *(v.sample = &loops[size_t(range(0, 3))]->owned.sample);
                v.direction = DIRECTION_FORWARD;
                v.position = uint32_t(range(0, s.loop_start + s.loop_length - 1));
                v.position_fraction = uint32_t(rng());
                v.step_integer = uint32_t(range(0, 3) ? range(0, 3) : range(0, 2 * s.loop_length));
                v.step_fraction = uint32_t(rng());
                v.left_gain = int32_t(range(0, 255));
                v.right_gain = int32_t(range(0, 255));
                // Mostly settled gains (runs through the repeats); else a ramp runs first.
                v.current_left_gain = range(0, 3) ? v.left_gain * 256 : int32_t(range(0, 65280));
                v.current_right_gain = range(0, 3) ? v.right_gain * 256 : int32_t(range(0, 65280));
            }
            for (int call = 0; call < 4; call++) {
                const int32_t frames = int32_t(range(1, range(0, 1) ? 64 : 3000));
                Voice before[MIXED_VOICE_COUNT], expected[MIXED_VOICE_COUNT];
                memcpy(before, VoicePool, sizeof before);
                memcpy(expected, VoicePool, sizeof expected);
                std::vector<float> out(2 * size_t(frames)), reference_out(out.size());
                MixVoicesCleared(out.data(), frames);
                reference::MixVoices(expected, MIXED_VOICE_COUNT, reference_out.data(), frames, ramp_length,
                                     inverse_ramp_length);
                ASSERT_EQ(memcmp(out.data(), reference_out.data(), out.size() * sizeof(float)), 0)
                    << "variant " << variant << ", round " << round << ", call " << call;
                for (int slot = 0; slot < MIXED_VOICE_COUNT; slot++)
                    ASSERT_EQ(State(VoicePool[slot]), State(expected[slot])) << "mixed, slot " << slot;
                memcpy(VoicePool, before, sizeof before);
                AdvanceVoices(frames);
                for (int slot = 0; slot < MIXED_VOICE_COUNT; slot++)
                    ASSERT_EQ(State(VoicePool[slot]), State(expected[slot])) << "advanced, slot " << slot;
            }
        }
    }
    SelectMixVariant(previous);
}

}  // namespace
