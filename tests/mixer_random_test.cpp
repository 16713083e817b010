// MixVoices against the plain one-frame-at-a-time mixer, bit for bit, over
// many random voice states: every loop mode, positions anywhere a voice can
// be, steps from tiny to far beyond the loop, ramps running, planned or
// retargeted, gains, ramp settings and call lengths.
#include <string.h>

#include <memory>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "mixer/mix_kernels.h"
#include "mixer/mixer.h"
#include "support/mix_reference.h"

namespace {

using reference::OwnedSample;

struct Rng {
    std::mt19937_64 engine;
    explicit Rng(uint64_t seed) : engine(seed) {}
    // Uniform in lo..hi inclusive.
    int64_t Range(int64_t lo, int64_t hi) { return std::uniform_int_distribution<int64_t>(lo, hi)(engine); }
    uint32_t Bits() { return static_cast<uint32_t>(engine()); }
    bool Chance(int percent) { return Range(0, 99) < percent; }
};

std::vector<std::unique_ptr<OwnedSample>> MakeSamples(Rng& rng) {
    std::vector<std::unique_ptr<OwnedSample>> samples;
    // (70000: indices beyond 16 bits.)
    const int lengths[] = {1, 2, 3, 5, 17, 64, 300, 2000, 1, 4, 9, 700, 70000};
    for (int length : lengths) {
        std::vector<int16_t> values(static_cast<size_t>(length));
        const int64_t amplitude = rng.Chance(50) ? 32767 : rng.Range(1, 300);
        for (int16_t& value : values) value = static_cast<int16_t>(rng.Range(-amplitude - (amplitude == 32767), amplitude));
        const uint8_t modes[] = {LOOP_NONE, LOOP_FORWARD, LOOP_BIDI};
        const uint8_t mode = modes[rng.Range(0, 2)];
        const uint32_t start = static_cast<uint32_t>(rng.Range(0, length - 1));
        const uint32_t span = static_cast<uint32_t>(rng.Range(1, length - start));
        samples.push_back(std::make_unique<OwnedSample>(values, mode, start, span));
    }
    samples.push_back(std::make_unique<OwnedSample>(std::vector<int16_t>{}));
    return samples;
}

void RandomVoice(Rng& rng, Voice& v, Sample* sample) {
    const int32_t index = v.index;
    v = Voice{};
    v.index = index;
    v.sample = sample;
    const int64_t loop_start = sample->loop_start;
    const int64_t loop_end = loop_start + sample->loop_length;
    v.direction = DIRECTION_FORWARD;
    if (sample->loop_mode == LOOP_BIDI && rng.Chance(50)) v.direction = rng.Chance(80) ? DIRECTION_BACKWARD : 0;
    if (loop_end > 0) {
        const bool forward = v.direction == DIRECTION_FORWARD;
        v.position = static_cast<uint32_t>(rng.Range(forward ? 0 : loop_start, loop_end - 1));
        v.position_fraction = rng.Chance(20) ? 0 : rng.Bits();
        if (sample->loop_mode == LOOP_BIDI && forward && loop_start == 0 && rng.Chance(20))
            v.position = v.position_fraction = 0xFFFFFFFFu;  // just reflected at loop start 0
    }
    switch (rng.Range(0, 5)) {
        case 0: v.step_integer = 0; v.step_fraction = rng.Bits() >> rng.Range(0, 24); break;
        case 1: v.step_integer = 1; v.step_fraction = rng.Chance(50) ? 0 : rng.Bits() >> 20; break;
        case 2: v.step_integer = static_cast<uint32_t>(rng.Range(0, 3)); v.step_fraction = rng.Bits(); break;
        case 3: v.step_integer = static_cast<uint32_t>(rng.Range(1, 3 * (loop_end + 2))); v.step_fraction = rng.Bits(); break;
        case 4: v.step_integer = static_cast<uint32_t>(rng.Range(0, 2000)); v.step_fraction = rng.Bits(); break;
        default: v.step_integer = 0; v.step_fraction = rng.Chance(30) ? 0 : rng.Bits(); break;
    }
    const int32_t gain_limit = rng.Chance(90) ? 255 : 4000;
    v.left_gain = static_cast<int32_t>(rng.Range(0, gain_limit));
    v.right_gain = static_cast<int32_t>(rng.Range(0, gain_limit));
    if (rng.Chance(15)) v.left_gain = v.right_gain = 0;  // a ghost, or a note at volume 0
    switch (rng.Range(0, 3)) {
        case 0:  // settled
            v.current_left_gain = v.left_gain * 256;
            v.current_right_gain = v.right_gain * 256;
            v.planned_left_gain = v.left_gain;
            v.planned_right_gain = v.right_gain;
            break;
        case 1:  // fresh note or retargeted voice
            v.current_left_gain = static_cast<int32_t>(rng.Range(0, 65280));
            v.current_right_gain = static_cast<int32_t>(rng.Range(0, 65280));
            break;
        default:  // a ramp under way, for the current targets or for old ones
            v.current_left_gain = static_cast<int32_t>(rng.Range(0, 65280));
            v.current_right_gain = static_cast<int32_t>(rng.Range(0, 65280));
            v.ramp_frames_left = static_cast<int32_t>(rng.Range(1, 128));
            v.planned_left_gain = rng.Chance(75) ? v.left_gain : static_cast<int32_t>(rng.Range(0, 255));
            v.planned_right_gain = rng.Chance(75) ? v.right_gain : static_cast<int32_t>(rng.Range(0, 255));
            v.left_step = static_cast<float>(rng.Range(-255, 255) * static_cast<double>(GAIN_UNIT) / 128);
            v.right_step = static_cast<float>(rng.Range(-255, 255) * static_cast<double>(GAIN_UNIT) / 128);
            break;
    }
    v.volume = 64;
    v.pan = 128;
}

void ExpectSameVoice(const Voice& a, const Voice& b, int slot) {
    SCOPED_TRACE(slot);
    EXPECT_EQ(a.sample, b.sample);
    EXPECT_EQ(a.position, b.position);
    EXPECT_EQ(a.position_fraction, b.position_fraction);
    EXPECT_EQ(a.direction, b.direction);
    EXPECT_EQ(a.planned_left_gain, b.planned_left_gain);
    EXPECT_EQ(a.planned_right_gain, b.planned_right_gain);
    EXPECT_EQ(a.current_left_gain, b.current_left_gain);
    EXPECT_EQ(a.current_right_gain, b.current_right_gain);
    EXPECT_EQ(memcmp(&a.left_step, &b.left_step, sizeof(float)), 0);
    EXPECT_EQ(memcmp(&a.right_step, &b.right_step, sizeof(float)), 0);
    EXPECT_EQ(a.ramp_frames_left, b.ramp_frames_left);
    EXPECT_EQ(a.step_integer, b.step_integer);
    EXPECT_EQ(a.step_fraction, b.step_fraction);
}

// Every kernel variant this build and processor can run, in turn.
class MixerAgainstReference : public ::testing::TestWithParam<int32_t> {
protected:
    void SetUp() override {
        if (!MixVariantSupported(GetParam())) GTEST_SKIP() << "variant " << GetParam() << " not supported here";
        previous_ = SelectedMixVariant();
        ASSERT_TRUE(SelectMixVariant(GetParam()));
    }
    void TearDown() override {
        if (previous_ >= 0) SelectMixVariant(previous_);
    }
    int32_t previous_ = -1;
};

INSTANTIATE_TEST_SUITE_P(Variants, MixerAgainstReference,
                         ::testing::Range(int32_t(0), int32_t(MIX_VARIANT_COUNT)));

TEST_P(MixerAgainstReference, RandomVoiceStatesGiveIdenticalBitsAndStates) {
    EXPECT_EQ(SelectedMixVariant(), GetParam());
    Rng rng(20240611);
    int32_t frames_mixed = 0;
    for (int round = 0; round < 150; round++) {
        const std::vector<std::unique_ptr<OwnedSample>> samples = MakeSamples(rng);
        ResetVoicePool();
        for (int slot = 0; slot < MIXED_VOICE_COUNT; slot++) {
            if (!rng.Chance(60)) continue;
            Sample* sample = rng.Chance(3) ? &EmptySample : &samples[rng.Range(0, samples.size() - 1)]->sample;
            RandomVoice(rng, VoicePool[slot], sample);
        }
        static const int32_t lengths[] = {128, 128, 128, 1, 7, 64, 300};
        ramp_length = lengths[rng.Range(0, 6)];
        inverse_ramp_length = static_cast<float>(1.0 / ramp_length);

        Voice expected_pool[MIXED_VOICE_COUNT];
        memcpy(expected_pool, VoicePool, sizeof expected_pool);
        for (int call = 0; call < 6; call++) {
            const int32_t frames = static_cast<int32_t>(rng.Chance(30) ? rng.Range(1, 8) : rng.Range(1, 1200));
            std::vector<float> out(2 * static_cast<size_t>(frames));
            for (float& value : out) value = static_cast<float>(rng.Range(-100000, 100000)) / 64;
            std::vector<float> expected = out;
            MixVoices(out.data(), frames);
            reference::MixVoices(expected_pool, MIXED_VOICE_COUNT, expected.data(), frames, ramp_length,
                                 inverse_ramp_length);
            frames_mixed += frames;
            ASSERT_EQ(memcmp(out.data(), expected.data(), out.size() * sizeof(float)), 0)
                << "round " << round << ", call " << call;
            for (int slot = 0; slot < MIXED_VOICE_COUNT; slot++) ExpectSameVoice(VoicePool[slot], expected_pool[slot], slot);
            if (HasFailure()) return;
            // Between calls the replay engine retargets gains and changes steps.
            for (int slot = 0; slot < MIXED_VOICE_COUNT; slot++) {
                if (!rng.Chance(15)) continue;
                Voice& v = VoicePool[slot];
                if (rng.Chance(70)) {
                    v.left_gain = static_cast<int32_t>(rng.Range(0, 255));
                    v.right_gain = rng.Chance(50) ? v.left_gain : static_cast<int32_t>(rng.Range(0, 255));
                } else {
                    v.step_integer = static_cast<uint32_t>(rng.Range(0, 5));
                    v.step_fraction = rng.Bits();
                }
                expected_pool[slot] = v;
            }
        }
    }
    ramp_length = 128;
    inverse_ramp_length = 0.0078125f;
    EXPECT_GT(frames_mixed, 100000);
}

}  // namespace
