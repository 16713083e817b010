// The channel-to-voice update: frequency and step, volume and gain roundings,
// panning, and the hand-off of a sounding voice to its twin slot.
#include <gtest/gtest.h>
#include <string.h>

#include "tests/replay_harness.h"

using namespace replay_test;

namespace {

struct VoiceUpdate : testing::Test {
    Module module = {};
    Channel channel = {};
    Sample sample = {};
    void SetUp() override {
        ResetVoicePool();
        module.flags = MODULE_LINEAR_FREQUENCY;
        module.global_volume = 64;
        channel.voice = &VoicePool[3];
    }
    Voice& Apply(uint8_t flags) {
        channel.flags = flags;
        ApplyChannelToVoice(channel, &sample, module);
        return *channel.voice;
    }
};

uint64_t Fnv(uint64_t hash, int32_t value) {
    for (int k = 0; k < 4; k++) {
        hash ^= (uint32_t(value) >> (8 * k)) & 0xFF;
        hash *= 1099511628211ull;
    }
    return hash;
}

TEST_F(VoiceUpdate, FrequencyBecomesA32Dot32Step) {
    struct Case {
        uint16_t flags;
        int32_t period, offset;
        uint32_t step_integer, step_fraction;
    } cases[] = {
        {1, 4608, 0, 0, 814485521},   {1, 3840, 0, 0, 1628971042},   {1, 4672, 0, 0, 768711493},
        {1, 9999, 0, 0, 9739154},     {1, 1600, 0, 2, 3710325829u},  {1, 56, 0, 11, 2313244063u},
        {1, 4800, 192, 0, 814485521}, {1, 20000, 5000, 0, 9739154}, {0, 428, 0, 0, 3257844694u},
        {0, 1712, 0, 0, 814388129},   {0, -428, 0, 0, 9739154},     {0, 1, 0, 324, 2790852218u},
    };
    for (const Case& c : cases) {
        module.flags = c.flags;
        channel.period = c.period;
        channel.period_offset = c.offset;
        Voice& v = Apply(CHANNEL_FREQ);
        EXPECT_EQ(v.step_integer, c.step_integer) << c.period << " " << c.offset;
        EXPECT_EQ(v.step_fraction, c.step_fraction) << c.period << " " << c.offset;
        EXPECT_EQ(channel.flags, CHANNEL_FREQ);
    }
}

TEST_F(VoiceUpdate, ZeroPeriodSumDropsTheFrequencyChange) {
    for (int32_t period : {0, 100, -7}) {
        ResetVoicePool();
        channel.period = period;
        channel.period_offset = -period;
        Voice& v = Apply(CHANNEL_FREQ | CHANNEL_VOLUME);
        EXPECT_EQ(channel.flags, CHANNEL_VOLUME);
        EXPECT_EQ(v.step_integer, 1u);
        EXPECT_EQ(v.step_fraction, 0u);
    }
}

TEST(Frequency, LinearOverTheWholeRange) {
    // Octaves are exact powers of two.
    int32_t hz = 8363;
    for (int32_t octave = 0; octave < 8; octave++, hz *= 2) EXPECT_EQ(LinearFrequency(4608 - 768 * octave, 0), hz);
    // Never rising with the period, never negative, never past the 32-bit range.
    int32_t previous = INT32_MAX;
    for (int64_t period = -200000; period <= 200000; period += 7) {
        int32_t f = LinearFrequency(int32_t(period), 0);
        ASSERT_LE(f, previous) << period;
        ASSERT_GE(f, 0);
        previous = f;
    }
    const int32_t extremes[] = {INT32_MIN, INT32_MIN + 1, -1, 0, 1, INT32_MAX - 1, INT32_MAX};
    for (int32_t period : extremes)
        for (int32_t offset : extremes) EXPECT_GE(LinearFrequency(period, offset), 0) << period << " " << offset;
    EXPECT_EQ(LinearFrequency(INT32_MIN, 0), INT32_MAX);
    EXPECT_EQ(LinearFrequency(INT32_MAX, INT32_MIN), 0);
    EXPECT_EQ(LinearFrequency(4608, 768), LinearFrequency(3840, 0));  // the offset counts against the period
    // Every value the notes, finetunes, slides and arpeggio can reach, as one
    // fingerprint: another C library's pow must give the very same integers.
    uint64_t hash = 1469598103934665603ull;
    for (int32_t period = -1024; period <= 16384; period++) hash = Fnv(hash, LinearFrequency(period, 0));
    EXPECT_EQ(hash, 0xe65557cca9605413ull);
}

TEST(Frequency, AmigaPeriodsOfEveryNoteAndFinetune) {
    uint64_t hash = 1469598103934665603ull;
    for (int32_t note = 0; note <= MAX_TRANSPOSED_NOTE; note++)
        for (int32_t finetune = -128; finetune < 128; finetune++) {
            int32_t period = AmigaNotePeriod(note, int8_t(finetune));
            ASSERT_GE(period, 27);
            ASSERT_LE(period, 29021);
            hash = Fnv(hash, period);
        }
    EXPECT_EQ(hash, 0x6c407fd2a5d37575ull);
    EXPECT_EQ(AmigaFrequency(428), 33451);
    EXPECT_EQ(AmigaFrequency(-1), -14317056);
    EXPECT_EQ(AmigaFrequency(0), 0);
    EXPECT_EQ(AmigaFrequency(int64_t(INT32_MIN) * 2), 0);
}

TEST_F(VoiceUpdate, VolumeRoundings) {
    struct Case {
        int32_t volume, envelope, fade, global, expected;
    } cases[] = {
        {64, 64, 65536, 64, 127}, {64, 64, 65535, 64, 127}, {1, 64, 65536, 64, 1},
        {17, 51, 63137, 64, 26},  // the fade product rounded to single precision
        {32, 64, 65536, 64, 63},  {64, 32, 32768, 64, 31},  {64, 64, 65536, 0, 0},
        {0, 64, 65536, 64, 0},    {64, 64, 0, 64, 0},       {200, 64, 65536, 64, 398},
    };
    for (const Case& c : cases) {
        channel.volume = c.volume;
        channel.volume_env.value = c.envelope;
        channel.fade_volume = c.fade;
        module.global_volume = c.global;
        EXPECT_EQ(Apply(CHANNEL_VOLUME).volume, c.expected)
            << c.volume << " " << c.envelope << " " << c.fade << " " << c.global;
    }
}

TEST_F(VoiceUpdate, GainsSplitTheVolumeByTheVoicePanning) {
    struct Case {
        int32_t pan, left, right;
    } cases[] = {{255, 127, 0}, {0, 0, 127}, {128, 63, 63}, {64, 31, 95}, {1, 0, 126}};
    channel.volume = 64;
    channel.volume_env.value = 64;
    channel.fade_volume = 65536;
    for (const Case& c : cases) {
        channel.voice->pan = c.pan;
        Voice& v = Apply(CHANNEL_VOLUME);
        EXPECT_EQ(v.left_gain, c.left) << c.pan;
        EXPECT_EQ(v.right_gain, c.right) << c.pan;
    }
}

TEST_F(VoiceUpdate, PanningFollowsTheEnvelopeWithinTheRange) {
    struct Case {
        int32_t pan, envelope, expected;
    } cases[] = {
        {128, 64, 255}, {128, 0, 0},     {128, 32, 128}, {0, 64, 0},    {255, 0, 255},   {100, 0, 4},
        {200, 48, 216}, {160, 40, 184},  {300, 32, 255}, {-40, 0, 0},   {-40, 64, 0},    {400, 0, 255},
        {INT32_MAX, 0, 255}, {INT32_MIN, 64, 0},
    };
    channel.voice->volume = 100;
    for (const Case& c : cases) {
        channel.pan = c.pan;
        channel.pan_env.value = c.envelope;
        Voice& v = Apply(CHANNEL_PAN);
        EXPECT_EQ(v.pan, c.expected) << c.pan << " " << c.envelope;
        EXPECT_EQ(v.left_gain, 100 * c.expected / 255);
        EXPECT_EQ(v.right_gain, (255 - c.expected) * 100 / 255);
    }
    channel.pan = 128;
    channel.pan_env.value = 32;
    Voice& v = Apply(CHANNEL_PAN);
    EXPECT_EQ(v.left_gain, 50);
    EXPECT_EQ(v.right_gain, 49);
}

TEST_F(VoiceUpdate, VolumeAndPanningInOneCallUseBothNewValues) {
    channel.volume = 64;
    channel.volume_env.value = 64;
    channel.fade_volume = 65536;
    channel.pan = 255;
    channel.pan_env.value = 32;
    Voice& v = Apply(CHANNEL_VOLUME | CHANNEL_PAN);
    EXPECT_EQ(v.volume, 127);
    EXPECT_EQ(v.pan, 255);
    EXPECT_EQ(v.left_gain, 127);
    EXPECT_EQ(v.right_gain, 0);
}

TEST_F(VoiceUpdate, NoteStartHandsASoundingVoiceToTheTwinAndBack) {
    Sample other = {};
    Voice twin_before = VoicePool[35];
    Voice& first = Apply(CHANNEL_TRIGGER);  // inactive voice: starts in place
    EXPECT_EQ(&first, &VoicePool[3]);
    EXPECT_EQ(first.sample, &sample);
    EXPECT_EQ(0, memcmp(&twin_before, &VoicePool[35], sizeof(Voice)));

    // Sounding with some settings and a running ramp.
    channel.volume = 64;
    channel.volume_env.value = 64;
    channel.fade_volume = 65536;
    channel.pan = 255;
    channel.period = 3840;
    Apply(CHANNEL_VOLUME | CHANNEL_PAN | CHANNEL_FREQ);
    VoicePool[3].position = 777;
    VoicePool[3].position_fraction = 5;
    VoicePool[3].direction = DIRECTION_BACKWARD;
    VoicePool[3].current_left_gain = 1000;
    VoicePool[3].ramp_frames_left = 40;
    Voice old = VoicePool[3];

    ApplyChannelToVoice(channel, &other, module);  // flags still as the last call left them: no trigger
    EXPECT_EQ(channel.voice, &VoicePool[3]);
    channel.flags = CHANNEL_TRIGGER;
    ApplyChannelToVoice(channel, &other, module);
    EXPECT_EQ(channel.voice, &VoicePool[35]);
    const Voice& ghost = VoicePool[3];
    EXPECT_EQ(ghost.index, 3);
    EXPECT_EQ(ghost.sample, &sample);
    EXPECT_EQ(ghost.position, 777u);
    EXPECT_EQ(ghost.position_fraction, 5u);
    EXPECT_EQ(ghost.direction, DIRECTION_BACKWARD);
    EXPECT_EQ(ghost.current_left_gain, 1000);
    EXPECT_EQ(ghost.ramp_frames_left, 40);
    EXPECT_EQ(ghost.volume, 0);
    EXPECT_EQ(ghost.left_gain, 0);
    EXPECT_EQ(ghost.right_gain, 0);
    EXPECT_EQ(ghost.pan, old.pan);
    const Voice& fresh = VoicePool[35];
    EXPECT_EQ(fresh.index, 35);
    EXPECT_EQ(fresh.sample, &other);
    EXPECT_EQ(fresh.position, 0u);
    EXPECT_EQ(fresh.position_fraction, 0u);
    EXPECT_EQ(fresh.direction, DIRECTION_FORWARD);
    EXPECT_EQ(fresh.current_left_gain, 0);
    EXPECT_EQ(fresh.current_right_gain, 0);
    EXPECT_EQ(fresh.ramp_frames_left, 0);
    // The copy carries the old settings over.
    EXPECT_EQ(fresh.volume, old.volume);
    EXPECT_EQ(fresh.left_gain, old.left_gain);
    EXPECT_EQ(fresh.pan, old.pan);
    EXPECT_EQ(fresh.step_fraction, old.step_fraction);

    VoicePool[35].position = 12;
    channel.flags = CHANNEL_TRIGGER;
    ApplyChannelToVoice(channel, &sample, module);  // and back, over the ghost
    EXPECT_EQ(channel.voice, &VoicePool[3]);
    EXPECT_EQ(VoicePool[3].index, 3);
    EXPECT_EQ(VoicePool[3].sample, &sample);
    EXPECT_EQ(VoicePool[3].volume, old.volume);
    EXPECT_EQ(VoicePool[35].position, 12u);
    EXPECT_EQ(VoicePool[35].volume, 0);
}

TEST(VoiceSlots, ThirtyTwoChannelsUseOnlyTheirOwnTwoSlots) {
    xm::SongSpec song = ToneSong(32, 4, 1);
    for (int row = 0; row < 3; row++)
        for (int ch = 0; ch < 32; ch++) Put(song, row, ch, C(uint8_t(40 + ch), 1));
    ModulePtr module = LoadAndStart(song);
    ASSERT_TRUE(module);
    RunTicks(*module, 2);
    for (int ch = 0; ch < 32; ch++) {
        EXPECT_EQ(channels[ch].voice, &VoicePool[ch + 32]);
        EXPECT_EQ(VoicePool[ch].volume, 0);
        EXPECT_EQ(VoicePool[ch + 32].index, ch + 32);
    }
    ModuleTick(module.get());
    for (int ch = 0; ch < 32; ch++) EXPECT_EQ(channels[ch].voice, &VoicePool[ch]);
    for (int slot = 64; slot < VOICE_COUNT; slot++) {
        EXPECT_EQ(VoicePool[slot].index, slot);
        EXPECT_EQ(VoicePool[slot].sample, nullptr);
        EXPECT_EQ(VoicePool[slot].step_integer, 1u);
    }
}

}  // namespace
