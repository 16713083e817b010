// The channel-to-voice update (step, volume and gain roundings, panning, the
// twin slot), and $VINTO_CORPUS songs staying in range (skipped without it).
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>

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
    Voice& Apply(uint8_t flags, Sample* to_play = nullptr) {
        channel.flags = flags;
        ApplyChannelToVoice(channel, to_play ? to_play : &sample, module);
        return *channel.voice;
    }
};

TEST_F(VoiceUpdate, FrequencyBecomesA32Dot32Step) {
    struct Case {
        uint16_t flags;
        int32_t period, offset;
        uint32_t step_integer, step_fraction;
    } cases[] = {
        {1, 4608, 0, 0, 814485521},   {1, 3840, 0, 0, 1628971042},  {1, 4672, 0, 0, 768711493},
        {1, 9999, 0, 0, 9739154},     {1, 1600, 0, 2, 3710325829u}, {1, 56, 0, 11, 2313244063u},
        {1, 4800, 192, 0, 814485521}, {1, 20000, 5000, 0, 9739154}, {0, 428, 0, 0, 3257844694u},
        {0, 1712, 0, 0, 814388129},   {0, -428, 0, 0, 9739154},     {0, 1, 0, 324, 2790852218u},
        {1, INT32_MIN, 0, 48695, 3325629212u},  // 2^31 - 1 Hz
        {1, INT32_MIN, INT32_MAX, 48695, 3325629212u}, {1, INT32_MAX, INT32_MIN, 0, 9739154},
        {1, 100, -100, 1, 0},  {0, 428, -428, 1, 0},  // a period sum of 0 changes no frequency
    };
    for (const Case& c : cases) {
        ResetVoicePool();
        module.flags = c.flags;
        channel.period = c.period;
        channel.period_offset = c.offset;
        Voice& v = Apply(CHANNEL_FREQ);
        EXPECT_EQ(v.step_integer, c.step_integer) << c.flags << " " << c.period << " " << c.offset;
        EXPECT_EQ(v.step_fraction, c.step_fraction) << c.flags << " " << c.period << " " << c.offset;
    }
    for (int32_t octave = 0, hz = 8363; octave < 8; octave++, hz *= 2)
        EXPECT_EQ(LinearFrequency(4608 - 768 * octave, 0), hz);  // octaves are exact
}

TEST_F(VoiceUpdate, VolumeRoundingsAndGains) {
    struct Case {
        int32_t volume, envelope, fade, global, pan, expected, left, right;
    } cases[] = {
        {64, 64, 65536, 64, 128, 127, 63, 63},   {64, 64, 65535, 64, 255, 127, 127, 0},
        {1, 64, 65536, 64, 0, 1, 0, 1},          {32, 64, 65536, 64, 1, 63, 0, 62},
        {17, 51, 63137, 64, 64, 26, 6, 19},  // the fade product rounded to single precision
        {64, 32, 32768, 64, 128, 31, 15, 15},    {64, 64, 65536, 0, 128, 0, 0, 0},
        {64, 64, 0, 64, 128, 0, 0, 0},           {200, 64, 65536, 64, 128, 398, 199, 198},
    };
    for (const Case& c : cases) {
        channel.volume = c.volume;
        channel.volume_env.value = c.envelope;
        channel.fade_volume = c.fade;
        module.global_volume = c.global;
        channel.voice->pan = c.pan;
        Voice& v = Apply(CHANNEL_VOLUME);
        EXPECT_EQ((Values{v.volume, v.left_gain, v.right_gain}), (Values{c.expected, c.left, c.right}))
            << c.volume << " " << c.envelope << " " << c.fade << " " << c.global << " " << c.pan;
    }
}

TEST_F(VoiceUpdate, PanningFollowsTheEnvelopeWithinTheRange) {
    struct Case {
        int32_t pan, envelope, expected;
    } cases[] = {
        {128, 64, 255}, {128, 0, 0},    {128, 32, 128}, {0, 64, 0},   {255, 0, 255},       {100, 0, 4},
        {200, 48, 216}, {160, 40, 184}, {300, 32, 255}, {-40, 64, 0}, {INT32_MAX, 0, 255}, {INT32_MIN, 64, 0},
    };
    channel.voice->volume = 100;
    for (const Case& c : cases) {
        channel.pan = c.pan;
        channel.pan_env.value = c.envelope;
        Voice& v = Apply(CHANNEL_PAN);
        EXPECT_EQ((Values{v.pan, v.left_gain, v.right_gain}),
                  (Values{c.expected, 100 * c.expected / 255, 100 * (255 - c.expected) / 255}))
            << c.pan << " " << c.envelope;
    }
}

TEST_F(VoiceUpdate, NoteStartHandsASoundingVoiceToTheTwinAndBack) {
    Sample other = {};
    const Voice& ghost = VoicePool[3];
    const Voice& fresh = VoicePool[35];
    Apply(CHANNEL_TRIGGER);  // an inactive voice starts in place
    EXPECT_EQ(channel.voice, &ghost);
    channel.volume = channel.volume_env.value = 64;
    channel.fade_volume = 65536;
    channel.period = 3840;
    Apply(CHANNEL_VOLUME | CHANNEL_FREQ);
    VoicePool[3].position = 777;
    VoicePool[3].direction = DIRECTION_BACKWARD;
    VoicePool[3].current_left_gain = 1000;
    VoicePool[3].ramp_frames_left = 40;
    Apply(CHANNEL_TRIGGER, &other);
    EXPECT_EQ(channel.voice, &fresh);
    // The old voice plays on where it was, silent; the new one starts over with the settings.
    EXPECT_EQ((Values{ghost.index, int32_t(ghost.position), ghost.direction, ghost.current_left_gain,
                      ghost.ramp_frames_left, ghost.volume, ghost.left_gain, ghost.right_gain}),
              (Values{3, 777, DIRECTION_BACKWARD, 1000, 40, 0, 0, 0}));
    EXPECT_EQ((Values{fresh.index, int32_t(fresh.position), fresh.direction, fresh.current_left_gain,
                      fresh.ramp_frames_left, fresh.volume, fresh.right_gain, int32_t(fresh.step_fraction)}),
              (Values{35, 0, DIRECTION_FORWARD, 0, 0, 127, 127, 1628971042}));
    EXPECT_EQ(ghost.sample, &sample);
    EXPECT_EQ(fresh.sample, &other);
    Apply(CHANNEL_TRIGGER);  // and back, over the ghost
    EXPECT_EQ(channel.voice, &ghost);
    EXPECT_EQ((Values{ghost.index, ghost.volume, fresh.volume}), (Values{3, 127, 0}));
}

// Channel i keeps to its two voice slots and its values to their ranges.
void ExpectChannelInRange(int i) {
    const Channel& ch = channels[i];
    const Voice& voice = *ch.voice;
    const Voice& twin = VoicePool[voice.index < 32 ? voice.index + 32 : voice.index - 32];
    EXPECT_TRUE(&voice == &VoicePool[i] || &voice == &VoicePool[i + 32]) << voice.index;
    EXPECT_EQ(twin.volume + twin.left_gain + twin.right_gain, 0);
    EXPECT_TRUE(ch.volume >= 0 && ch.volume <= 64) << ch.volume;
    EXPECT_TRUE(ch.fade_volume >= 0 && ch.fade_volume <= FADE_FULL) << ch.fade_volume;
    EXPECT_TRUE(ch.volume_env.value >= 0 && ch.volume_env.value <= 64) << ch.volume_env.value;
    EXPECT_TRUE(voice.pan >= 0 && voice.pan <= 255) << voice.pan;
    EXPECT_TRUE(voice.volume >= 0 && voice.volume <= 127) << voice.volume;
    EXPECT_LE(voice.left_gain + voice.right_gain, voice.volume);
}

TEST(ReplayCorpus, EverySongStaysInRange) {
    const char* dir = getenv("VINTO_CORPUS");
    if (!dir || !*dir) GTEST_SKIP() << "VINTO_CORPUS not set";
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        if (entry.path().extension() != ".xm") continue;
        SCOPED_TRACE(entry.path());
        std::ifstream file(entry.path(), std::ios::binary);
        ModulePtr module(xm::Load(std::vector<uint8_t>(std::istreambuf_iterator<char>(file), {})), FreeModule);
        ASSERT_TRUE(module && ResetPlayback(module.get())) << GetLoadError();
        for (int tick = 0; tick < 6000 && !testing::Test::HasFailure(); tick++) {  // two minutes at 125 bpm
            ModuleTick(module.get());
            ASSERT_TRUE(module->order >= 0 && module->order < module->song_length) << tick;
            for (int i = 0; i < module->channel_count; i++) ExpectChannelInRange(i);
        }
    }
}

}  // namespace
