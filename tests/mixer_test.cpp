// The voice mixer against the plain one-frame-at-a-time mixer, bit for bit, for every kernel variant, over many
// random voice states: every loop mode, short loops stored repeated, positions anywhere a voice can be, steps tiny to
// far beyond the loop, ramps running, planned or retargeted, silent voices that may skip their runs, ramp settings,
// call lengths, calls cut in two and muted slots; and AdvanceVoices (a seek and muted channels rely on it) leaving
// each voice as the mixer does. Also the 16-bit conversion variants and the ramp-sum shortcut.
#include <gtest/gtest.h>
#include <math.h>
#include <string.h>

#include <limits>
#include <memory>
#include <random>
#include <vector>

#include "mixer/mix_kernels.h"
#include "output/convert_variants.h"
#include "output/output.h"
#include "support/mix_reference.h"

namespace {

using reference::OwnedSample;

struct Rng {
    std::mt19937_64 engine{20240611};
    int64_t Range(int64_t lo, int64_t hi) { return std::uniform_int_distribution<int64_t>(lo, hi)(engine); }
    uint32_t Bits() { return uint32_t(engine()); }
    bool Chance(int percent) { return Range(0, 99) < percent; }
};

std::vector<std::unique_ptr<OwnedSample>> MakeSamples(Rng& rng) {
    std::vector<std::unique_ptr<OwnedSample>> samples;
    for (int length : {1, 2, 3, 5, 17, 64, 300, 2000, 1, 4, 9, 700, 70000}) {  // 70000: indices beyond 16 bits
        std::vector<int16_t> values{std::vector<int16_t>(size_t(length))};
        const int64_t amplitude = rng.Chance(50) ? 32767 : rng.Range(1, 300);
        for (int16_t& value : values) value = int16_t(rng.Range(-amplitude - (amplitude == 32767), amplitude));
        const uint8_t modes[] = {LOOP_NONE, LOOP_FORWARD, LOOP_BIDI}, mode = modes[rng.Range(0, 2)];
        const uint32_t start = uint32_t(rng.Range(0, length - 1)), span = uint32_t(rng.Range(1, length - start));
        samples.push_back(std::make_unique<OwnedSample>(values, mode, start, span));
        if (mode == LOOP_FORWARD && rng.Chance(60)) {  // stored repeated, as the loader keeps short loops
            std::vector<int16_t>& r = samples.back()->repeats;
            const uint32_t copies = uint32_t(rng.Range(1, 60));
            r.resize(size_t(copies) * span + 2);  // one entry in front, then the repeats and their guard
            for (size_t j = 0; j + 1 < r.size(); j++) r[j + 1] = values[start + j % span];
            samples.back()->sample.repeats = r.data() + 1, samples.back()->sample.repeat_entries = copies * span;
        }
    }
    samples.push_back(std::make_unique<OwnedSample>(std::vector<int16_t>{}));
    return samples;
}

void RandomVoice(Rng& rng, Voice& v, Sample* sample) {
    const int32_t index = v.index;
    v = Voice{}, v.index = index;
    v.sample = sample;
    const int64_t loop_start = sample->loop_start, loop_end = loop_start + sample->loop_length;
    v.direction = DIRECTION_FORWARD;
    if (sample->loop_mode == LOOP_BIDI && rng.Chance(50)) v.direction = rng.Chance(80) ? DIRECTION_BACKWARD : 0;
    if (loop_end > 0) {
        v.position = uint32_t(rng.Range(v.direction == DIRECTION_FORWARD ? 0 : loop_start, loop_end - 1));
        v.position_fraction = rng.Chance(20) ? 0 : rng.Bits();
        if (sample->loop_mode == LOOP_BIDI && v.direction == DIRECTION_FORWARD && loop_start == 0 && rng.Chance(20))
            v.position = v.position_fraction = 0xFFFFFFFFu;  // just reflected at loop start 0
    }
    if (rng.Chance(2))  // outside the entries it may read (the replay never does this): it stops without reading
        v.position = rng.Chance(50) ? uint32_t(loop_end + 1 + rng.Range(0, 9)) : 0xFFFFFFFEu;
    const uint32_t integers[] = {0, 1, uint32_t(rng.Range(0, 3)), uint32_t(rng.Range(1, 3 * (loop_end + 2))),
                                 uint32_t(rng.Range(0, 2000)), 0, uint32_t(sample->loop_length * rng.Range(1, 3))};
    const int kind = int(rng.Range(0, 6));
    v.step_integer = integers[kind];
    v.step_fraction = kind == 0 ? rng.Bits() >> rng.Range(0, 24) : kind == 1 ? (rng.Chance(50) ? 0 : rng.Bits() >> 20)
                      : kind >= 5 ? (rng.Chance(30) ? 0 : rng.Bits()) : rng.Bits();
    if (kind == 6) v.step_fraction = 0, v.position_fraction = 0;  // whole loop lengths: exact landings on the ends
    const int32_t gain_limit = rng.Chance(90) ? 255 : 4000;
    v.left_gain = int32_t(rng.Range(0, gain_limit));
    v.right_gain = int32_t(rng.Range(0, gain_limit));
    if (rng.Chance(15)) v.left_gain = v.right_gain = 0;  // a ghost, or a note at volume 0
    v.volume = 64;
    if (v.left_gain == 0 && v.right_gain == 0 && rng.Chance(60)) {
        // Faded out (applied gains below one unit): whole runs may be skipped.
        v.current_left_gain = int32_t(rng.Chance(10) ? rng.Range(256, 511) : rng.Range(0, 255));
        v.current_right_gain = int32_t(rng.Range(0, 255));
        return;
    }
    const int ramp = int(rng.Range(0, 3));  // settled; fresh note or retargeted; a ramp under way
    v.current_left_gain = ramp ? int32_t(rng.Range(0, 65280)) : v.left_gain * 256;
    v.current_right_gain = ramp ? int32_t(rng.Range(0, 65280)) : v.right_gain * 256;
    v.planned_left_gain = ramp == 0 || rng.Chance(75) ? v.left_gain : int32_t(rng.Range(0, 255));
    v.planned_right_gain = ramp == 0 || rng.Chance(75) ? v.right_gain : int32_t(rng.Range(0, 255));
    if (ramp < 2) return;
    v.ramp_frames_left = int32_t(rng.Range(1, 128));
    v.left_step = float(rng.Range(-255, 255) * double(GAIN_UNIT) / 128);
    v.right_step = float(rng.Range(-255, 255) * double(GAIN_UNIT) / 128);
}

// What the mixer may change of a voice, float steps by their bits.
std::vector<int64_t> State(const Voice& v) {
    uint32_t left_step, right_step;
    memcpy(&left_step, &v.left_step, 4), memcpy(&right_step, &v.right_step, 4);
    return {int64_t(intptr_t(v.sample)), v.position, v.position_fraction, v.direction, v.planned_left_gain,
            v.planned_right_gain, v.current_left_gain, v.current_right_gain, v.ramp_frames_left, left_step, right_step,
            v.step_integer, v.step_fraction};
}

void MixRandomStates() {
    Rng rng;
    for (int round = 0; round < 150; round++) {
        const std::vector<std::unique_ptr<OwnedSample>> samples = MakeSamples(rng);
        ResetVoicePool();
        for (int slot = 0; slot < MIXED_VOICE_COUNT; slot++)
            if (rng.Chance(60))
                RandomVoice(rng, VoicePool[slot], rng.Chance(3) ? &EmptySample : &samples[rng.Range(0, samples.size() - 1)]->sample);
        static const int32_t lengths[] = {128, 128, 128, 1, 7, 64, 300};
        ramp_length = lengths[rng.Range(0, 6)];
        inverse_ramp_length = float(1.0 / ramp_length);
        Voice expected_pool[MIXED_VOICE_COUNT], advanced[MIXED_VOICE_COUNT];
        memcpy(expected_pool, VoicePool, sizeof expected_pool);
        for (int call = 0; call < 6; call++) {
            SCOPED_TRACE(testing::Message() << "round " << round << ", call " << call);
            const int32_t frames = int32_t(rng.Chance(30) ? rng.Range(1, 8) : rng.Range(1, rng.Chance(3) ? 6000 : 1200));
            const int32_t split = rng.Chance(30) ? int32_t(rng.Range(0, frames - 1)) : 0;  // two calls
            const bool cleared = rng.Chance(25);  // the block renderer's slices stand at +0
            const uint64_t muted = cleared && rng.Chance(40) ? uint64_t(rng.Bits()) << 32 | rng.Bits() : 0;
            std::vector<float> out(2 * size_t(frames), 0.0f), scratch(out);
            for (float& value : out) value = cleared ? 0.0f : float(rng.Range(-100000, 100000)) / 64;
            std::vector<float> expected = out;
            memcpy(advanced, VoicePool, sizeof advanced);
            for (const auto& [at, count] : {std::pair{0, split ? split : frames}, std::pair{split, split ? frames - split : 0}}) {
                if (count == 0) continue;
                float* o = out.data() + 2 * at;
                muted ? MixVoicesClearedMuted(o, count, muted) : cleared ? MixVoicesCleared(o, count) : MixVoices(o, count);
                for (int slot = 0; slot < MIXED_VOICE_COUNT; slot++)  // voice by voice, as the reference mixes them
                    reference::MixVoices(&expected_pool[slot], 1, (muted >> slot & 1 ? scratch.data() : expected.data()) + 2 * at,
                                         count, ramp_length, inverse_ramp_length);
            }
            ASSERT_EQ(memcmp(out.data(), expected.data(), out.size() * sizeof(float)), 0) << split << " " << cleared << " " << muted;
            std::swap_ranges(VoicePool, VoicePool + MIXED_VOICE_COUNT, advanced);
            AdvanceVoices(frames, split);
            for (int slot = 0; slot < MIXED_VOICE_COUNT; slot++) {
                ASSERT_EQ(State(advanced[slot]), State(expected_pool[slot])) << "mixed, slot " << slot;
                ASSERT_EQ(State(VoicePool[slot]), State(expected_pool[slot])) << "advanced, slot " << slot;
            }
            // Between calls the replay engine retargets gains and changes steps.
            for (int slot = 0; slot < MIXED_VOICE_COUNT; slot++) {
                if (!rng.Chance(15)) continue;
                Voice& v = VoicePool[slot];
                if (rng.Chance(70)) {
                    v.left_gain = int32_t(rng.Range(0, 255));
                    v.right_gain = rng.Chance(50) ? v.left_gain : int32_t(rng.Range(0, 255));
                } else {
                    v.step_integer = uint32_t(rng.Range(0, 5)), v.step_fraction = rng.Bits();
                }
                expected_pool[slot] = v;
            }
        }
    }
}

// Every kernel variant this build and processor can run, in turn.
TEST(MixerAgainstReference, RandomVoiceStatesGiveIdenticalBitsAndStates) {
    const int32_t previous = SelectedMixVariant();  // the plain variant always runs
    for (int32_t variant = 0; variant < MIX_VARIANT_COUNT && !HasFailure(); variant++) {
        if (!MixVariantSupported(variant)) continue;
        ASSERT_TRUE(SelectMixVariant(variant));
        SCOPED_TRACE(testing::Message() << "variant " << variant);
        MixRandomStates();
    }
    SelectMixVariant(previous);
    ramp_length = 128, inverse_ramp_length = 0.0078125f;  // as the other tests expect
}

// Each 16-bit conversion variant: nearest integer, halves to even, clipped to
// -32768..32767, NaN at the lower bound; at lengths that end in partial steps.
TEST(ConvertVariants, EachGivesTheRuleForAnyValueAndLength) {
    const float inf = std::numeric_limits<float>::infinity(), nan = std::numeric_limits<float>::quiet_NaN();
    std::vector<float> values = {0.0f, -0.0f, 0.5f, 1.5f, 2.5f, -0.5f, -2.5f, 32766.5f, 32767.4f, 32767.5f, 32768.0f,
                                 -32767.5f, -32768.5f, 1e30f, -1e30f, 1e-30f, 8388608.5f, inf, -inf, nan, -nan};
    std::mt19937 rng(5);
    while (values.size() < 4001) {
        const float value = std::uniform_real_distribution<float>(-50000.0f, 50000.0f)(rng);
        values.push_back(rng() % 4 == 0 ? floorf(value) + 0.5f : value);  // every fourth a tie
    }
    std::vector<int16_t> expected;
    for (float value : values)
        expected.push_back(!(value > -32768.0f) ? -32768 : value > 32767.0f ? 32767 : int16_t(nearbyintf(value)));
    for (int32_t variant = 0; variant < CONVERT_VARIANT_COUNT; variant++) {
        if (SelectConvertVariant(variant) != variant) continue;  // not in this build or processor
        for (int32_t frames : {1, 2, 3, 5, 7, 8, 9, 15, 16, 17, 2000}) {
            std::vector<int16_t> out(2 * size_t(frames) + 1, 0x5555);
            ConvertToPcm16(out.data(), values.data(), frames);
            ASSERT_EQ(memcmp(out.data(), expected.data(), 2 * frames * sizeof(int16_t)), 0) << variant << "/" << frames;
            EXPECT_EQ(out[2 * frames], 0x5555) << "wrote past the end";
        }
    }
    SelectConvertVariant(CONVERT_VARIANT_COUNT);
}

// RampSumsExact lets kernels form start + k x step instead of k additions:
// it must refuse wherever the step-by-step sums would round differently.
TEST(RampSums, ClaimedOnlyWhereTheSumsAreExact) {
    const double tiny = ldexp(1.0, -54) + ldexp(1.0, -56);  // below half a unit of 1.0, four times above
    const struct { double left, right, left_step, right_step; int32_t frames; bool exact; } cases[] = {
        {1.0, 0.5, 1.0 / 128, -1.0 / 256, 128, true},
        {0.75, 0.25, 0.0, 0.0, 1000000, true},                              // steps of zero never round
        {1.0, 0.0, tiny, 0.0, 128, false},                                  // 1 + tiny rounds back to 1
        {1.0 + ldexp(1.0, -30), 0.0, ldexp(1.0, -29), 0.0, 1 << 22, true},  // long, but 31 bits suffice
        {ldexp(1.0, 52), 0.0, 0.5, 0.0, 4, false},                          // 2^52 + 0.5 rounds
        {NAN, 0.0, 0.0, 0.0, 4, false},
        {ldexp(1.0, -1070), 0.0, 0.0, 0.0, 4, false},  // subnormal: no unit to count in
    };
    for (const auto& c : cases)
        EXPECT_EQ(RampSumsExact(c.left, c.right, c.left_step, c.right_step, c.frames), c.exact) << c.left << " " << c.frames;
}

}  // namespace
