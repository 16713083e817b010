// The later ticks: arpeggio, portamento, tone portamento, volume slides and
// multi retrigger, with their remembered parameters.
#include <gtest/gtest.h>

#include "tests/replay_harness.h"

using namespace replay_test;

namespace {

// One channel at speed 6 with the simple song's instrument (volume 64, panning 128).
xm::SongSpec EffectSong(uint16_t flags = MODULE_LINEAR_FREQUENCY) {
    xm::SongSpec song = ToneSong(1, 8, 6);
    song.flags = flags;
    return song;
}

std::vector<int32_t> PeriodTrace(Module& module, int ticks) {
    return Trace(module, ticks, [] { return channels[0].period; });
}

TEST(Arpeggio, OffsetsFollowTheTickAndRaiseThePitch) {
    xm::SongSpec song = EffectSong();
    Put(song, 0, 0, C(49, 1, 0, EFFECT_ARPEGGIO, 0x37));
    ModulePtr module = LoadAndStart(song);
    ASSERT_TRUE(module);
    std::vector<int32_t> offsets, hz;
    for (int tick = 0; tick < 6; tick++) {
        ModuleTick(module.get());
        offsets.push_back(channels[0].period_offset);
        const Voice& v = *channels[0].voice;
        hz.push_back(int32_t((uint64_t(v.step_integer) * 44100) + ((uint64_t(v.step_fraction) * 44100) >> 32) + 1));
        EXPECT_TRUE(channels[0].flags & CHANNEL_FREQ) << tick;
    }
    EXPECT_EQ(offsets, (std::vector<int32_t>{0, 192, 448, 0, 192, 448}));
    EXPECT_EQ(channels[0].period, 4608);  // the base period is untouched
    // 8363 Hz at the base, 9945 Hz three semitones and 12530 Hz seven semitones up.
    EXPECT_EQ(hz, (std::vector<int32_t>{8363, 9945, 12530, 8363, 9945, 12530}));
}

TEST(Arpeggio, AmigaSongsGetNoOffsetButTheFrequencyFlag) {
    xm::SongSpec song = EffectSong(0);
    Put(song, 0, 0, C(49, 1, 0, EFFECT_ARPEGGIO, 0x37));
    ModulePtr module = LoadAndStart(song);
    ASSERT_TRUE(module);
    for (int tick = 0; tick < 6; tick++) {
        ModuleTick(module.get());
        EXPECT_EQ(channels[0].period_offset, 0);
        EXPECT_EQ(channels[0].flags & CHANNEL_FREQ, CHANNEL_FREQ);
    }
}

TEST(Arpeggio, ZeroParameterRaisesNothing) {
    xm::SongSpec song = EffectSong();
    Put(song, 0, 0, C(49, 1, 0, EFFECT_ARPEGGIO, 0x00));
    ModulePtr module = LoadAndStart(song);
    ASSERT_TRUE(module);
    ModuleTick(module.get());
    std::vector<int32_t> flags = Trace(*module, 5, [] { return channels[0].flags; });
    EXPECT_EQ(flags, std::vector<int32_t>(5, 0));
}

TEST(Portamento, UpMovesByFourPerUnitRemembersAndStopsAt56) {
    xm::SongSpec song = EffectSong();
    Put(song, 0, 0, C(49, 1, 0, EFFECT_PORTA_UP, 0x14));
    Put(song, 1, 0, C(0, 0, 0, EFFECT_PORTA_UP, 0x00));
    Put(song, 2, 0, C(96, 1, 0, EFFECT_PORTA_UP, 0xFF));  // period 1600
    ModulePtr module = LoadAndStart(song);
    ASSERT_TRUE(module);
    EXPECT_EQ(PeriodTrace(*module, 12), (std::vector<int32_t>{4608, 4528, 4448, 4368, 4288, 4208,  //
                                                              4208, 4128, 4048, 3968, 3888, 3808}));
    EXPECT_EQ(PeriodTrace(*module, 4), (std::vector<int32_t>{1600, 580, 56, 56}));
    EXPECT_EQ(channels[0].voice->step_integer, 11u);  // 508852 Hz
    EXPECT_EQ(channels[0].voice->step_fraction, 2313244063u);
}

TEST(Portamento, DownHasNoUpperLimitAndAmigaPeriodsMoveTheSame) {
    for (uint16_t flags : {0, 1}) {
        xm::SongSpec song = EffectSong(flags);
        Put(song, 0, 0, C(49, 1, 0, EFFECT_PORTA_DOWN, 0x01));
        Put(song, 1, 0, C(0, 0, 0, EFFECT_PORTA_DOWN, 0xFF));
        Put(song, 2, 0, C(0, 0, 0, EFFECT_PORTA_DOWN, 0x00));
        ModulePtr module = LoadAndStart(song);
        ASSERT_TRUE(module);
        int32_t base = flags ? 4608 : 1712;
        EXPECT_EQ(PeriodTrace(*module, 6), (std::vector<int32_t>{base, base + 4, base + 8, base + 12, base + 16, base + 20}));
        RunTicks(*module, 12);
        EXPECT_EQ(channels[0].period, base + 20 + 10 * 1020);
        // Linear: far below 100 Hz, held there. Amiga: 14317056 / 11932 = 1199 Hz.
        EXPECT_EQ(channels[0].voice->step_fraction, flags ? 9739154u : 116772466u);
    }
}

TEST(Portamento, PeriodsSaturateInsteadOfOverflowing) {
    xm::SongSpec song = EffectSong();
    Put(song, 0, 0, C(49, 1, 0, EFFECT_PORTA_DOWN, 0xFF));
    Put(song, 1, 0, C(0, 0, 0, EFFECT_PORTA_UP, 0xFF));
    Put(song, 2, 0, C(0, 0, 0, EFFECT_TONE_PORTA, 0xFF));
    Put(song, 3, 0, C(0, 0, 0, EFFECT_ARPEGGIO, 0xFF));
    ModulePtr module = LoadAndStart(song);
    ASSERT_TRUE(module);
    Channel& ch = channels[0];
    ModuleTick(module.get());
    ch.period = INT32_MAX - 1000;
    RunTicks(*module, 5);
    EXPECT_EQ(ch.period, INT32_MAX);
    EXPECT_EQ(ch.voice->step_integer, 0u);
    EXPECT_EQ(ch.voice->step_fraction, 9739154u);

    ModuleTick(module.get());
    ch.period = INT32_MIN + 1000;
    ModuleTick(module.get());
    EXPECT_EQ(ch.period, PERIOD_MIN);
    RunTicks(*module, 4);

    ModuleTick(module.get());
    ch.tone_porta_target = INT32_MAX;
    ch.period = INT32_MAX - 5;
    ModuleTick(module.get());
    EXPECT_EQ(ch.period, INT32_MAX);
    ch.tone_porta_target = INT32_MIN;
    ch.period = INT32_MIN + 5;
    ModuleTick(module.get());
    EXPECT_EQ(ch.period, INT32_MIN);
    ch.period = INT32_MIN;  // arpeggio on the most negative period next
    RunTicks(*module, 2);

    ModuleTick(module.get());
    ch.period = INT32_MIN;
    RunTicks(*module, 5);
    EXPECT_EQ(ch.voice->step_integer, 48695u);  // the frequency is held at 2^31 - 1
    EXPECT_EQ(ch.voice->step_fraction, 3325629212u);
}

TEST(TonePortamento, ReachesItsTargetFromEitherSideAndStays) {
    xm::SongSpec song = EffectSong();
    Put(song, 0, 0, C(49, 1));
    Put(song, 1, 0, C(53, 0, 0, EFFECT_TONE_PORTA, 0x10));
    Put(song, 2, 0, C(0, 0, 0, EFFECT_TONE_PORTA, 0x00));
    Put(song, 3, 0, C(49, 0, 0, EFFECT_TONE_PORTA, 0x00));
    Put(song, 4, 0, C(61, 0, 0, EFFECT_TONE_PORTA, 0xFF));
    ModulePtr module = LoadAndStart(song);
    ASSERT_TRUE(module);
    RunTicks(*module, 6);
    uint32_t step_before = channels[0].voice->step_fraction;
    ModuleTick(module.get());
    EXPECT_EQ(channels[0].flags & (CHANNEL_FREQ | CHANNEL_TRIGGER), 0);
    EXPECT_EQ(channels[0].voice->step_fraction, step_before);
    EXPECT_EQ(channels[0].voice, &VoicePool[0]);
    EXPECT_EQ(channels[0].tone_porta_target, 4352);
    EXPECT_EQ(PeriodTrace(*module, 5), (std::vector<int32_t>{4544, 4480, 4416, 4352, 4352}));
    EXPECT_TRUE(channels[0].flags & CHANNEL_FREQ);  // also once the target is reached
    EXPECT_EQ(PeriodTrace(*module, 6), std::vector<int32_t>(6, 4352));
    EXPECT_EQ(PeriodTrace(*module, 6), (std::vector<int32_t>{4352, 4416, 4480, 4544, 4608, 4608}));
    EXPECT_EQ(PeriodTrace(*module, 2), (std::vector<int32_t>{4608, 3840}));  // one step overshoots
    EXPECT_EQ(channels[0].voice, &VoicePool[0]);  // never restarted
}

TEST(TonePortamento, VolumeColumnAndEffectStepTwiceWithOneSpeed) {
    struct Case {
        uint8_t param;
        std::vector<int32_t> periods;
    } cases[] = {{0x20, {4352, 4096, 3840, 3840, 3840}}, {0x00, {4480, 4352, 4224, 4096, 3968}}};
    for (const Case& c : cases) {
        xm::SongSpec song = EffectSong();
        Put(song, 0, 0, C(49, 1));
        Put(song, 1, 0, C(61, 0, 0xF1, EFFECT_TONE_PORTA, c.param));
        ModulePtr module = LoadAndStart(song);
        ASSERT_TRUE(module);
        RunTicks(*module, 7);
        EXPECT_EQ(channels[0].period, 4608);
        EXPECT_EQ(PeriodTrace(*module, 5), c.periods) << int(c.param);
    }
}

TEST(TonePortamento, VolumeColumnAloneSlidesToTheLastNote) {
    xm::SongSpec song = EffectSong();
    Put(song, 0, 0, C(49, 1));
    Put(song, 1, 0, C(61, 0, 0, EFFECT_TONE_PORTA_VOLUME_SLIDE));  // new note period, no target yet
    Put(song, 2, 0, C(0, 0, 0xF4));
    ModulePtr module = LoadAndStart(song);
    ASSERT_TRUE(module);
    RunTicks(*module, 12);
    EXPECT_EQ(channels[0].period, 4608);
    EXPECT_EQ(channels[0].tone_porta_target, 0);
    EXPECT_EQ(PeriodTrace(*module, 6), (std::vector<int32_t>{4608, 4352, 4096, 3840, 3840, 3840}));
    EXPECT_EQ(channels[0].tone_porta_target, 3840);
    EXPECT_EQ(channels[0].tone_porta_speed, 0x40);
}

TEST(VolumeSlide, RemembersAndPrefersTheHighNibble) {
    struct Case {
        uint8_t first, second;
        int32_t after_first, after_second;
    } cases[] = {
        {0x00, 0x00, 64, 64}, {0x0F, 0x00, 0, 0},   {0x02, 0x00, 54, 44}, {0x02, 0x04, 54, 34},
        {0x10, 0x00, 64, 64}, {0x1F, 0x00, 64, 64}, {0x01, 0x1F, 59, 64}, {0x0A, 0xF0, 14, 64},
    };
    for (const Case& c : cases) {
        xm::SongSpec song = EffectSong();
        Put(song, 0, 0, C(49, 1, 0, EFFECT_VOLUME_SLIDE, c.first));
        Put(song, 1, 0, C(0, 0, 0, EFFECT_VOLUME_SLIDE, c.second));
        ModulePtr module = LoadAndStart(song);
        ASSERT_TRUE(module);
        RunTicks(*module, 6);
        EXPECT_EQ(channels[0].volume, c.after_first) << std::hex << int(c.first) << " " << int(c.second);
        EXPECT_EQ(channels[0].flags, CHANNEL_VOLUME);  // flagged even when nothing moves
        RunTicks(*module, 6);
        EXPECT_EQ(channels[0].volume, c.after_second) << std::hex << int(c.first) << " " << int(c.second);
    }
}

TEST(VolumeSlide, UpFromTheBottomAndTogetherWithTheVolumeColumn) {
    xm::SongSpec song = EffectSong();
    Put(song, 0, 0, C(49, 1, 0x10, EFFECT_VOLUME_SLIDE, 0x30));
    Put(song, 1, 0, C(0, 0, 0x62, EFFECT_VOLUME_SLIDE, 0x01));
    ModulePtr module = LoadAndStart(song);
    ASSERT_TRUE(module);
    EXPECT_EQ(Trace(*module, 6, [] { return channels[0].volume; }), (std::vector<int32_t>{0, 3, 6, 9, 12, 15}));
    EXPECT_EQ(Trace(*module, 6, [] { return channels[0].volume; }), (std::vector<int32_t>{13, 10, 7, 4, 1, 0}));
}

TEST(MultiRetrigger, VolumeTable) {
    struct Case {
        int32_t volume;
        int32_t expected[16];
    } cases[] = {
        {64, {64, 63, 62, 60, 56, 48, 42, 32, 64, 64, 64, 64, 64, 64, 64, 64}},
        {50, {50, 49, 48, 46, 42, 34, 33, 25, 50, 51, 52, 54, 58, 64, 64, 64}},
        {40, {40, 39, 38, 36, 32, 24, 26, 20, 40, 41, 42, 44, 48, 56, 60, 64}},
        {3, {3, 2, 1, 0, 0, 0, 2, 1, 3, 4, 5, 7, 11, 19, 4, 6}},
        {0, {0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 2, 4, 8, 16, 0, 0}},
        {200, {200, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64}},
    };
    for (const Case& c : cases)
        for (uint8_t code = 0; code < 16; code++)
            EXPECT_EQ(RetriggerVolume(code, c.volume), c.expected[code]) << "volume " << c.volume << " code " << int(code);
}

TEST(MultiRetrigger, IntervalsRestartTheSampleOnTheirTicks) {
    struct Case {
        uint8_t param;
        std::vector<int32_t> volumes;   // ticks 1..5
        std::vector<int32_t> triggers;  // ticks 1..5
    } cases[] = {
        {0x31, {60, 56, 52, 48, 44}, {1, 1, 1, 1, 1}},
        {0x03, {64, 64, 64, 64, 64}, {0, 0, 1, 0, 0}},
        {0x72, {64, 32, 32, 16, 16}, {0, 1, 0, 1, 0}},
        {0x06, {64, 64, 64, 64, 64}, {0, 0, 0, 0, 0}},
        {0x9F, {64, 64, 64, 64, 64}, {0, 0, 0, 0, 0}},
        {0x80, {64, 64, 64, 64, 64}, {0, 0, 0, 0, 0}},
    };
    for (const Case& c : cases) {
        xm::SongSpec song = EffectSong();
        Put(song, 0, 0, C(49, 1, 0, EFFECT_MULTI_RETRIGGER, c.param));
        ModulePtr module = LoadAndStart(song);
        ASSERT_TRUE(module);
        ModuleTick(module.get());
        std::vector<int32_t> volumes, triggers;
        for (int tick = 1; tick < 6; tick++) {
            Voice* before = channels[0].voice;
            before->position = 500;
            ModuleTick(module.get());
            volumes.push_back(channels[0].volume);
            bool triggered = channels[0].flags & CHANNEL_TRIGGER;
            triggers.push_back(triggered);
            // A retrigger finds the voice sounding: the note moves to the twin slot.
            EXPECT_EQ(channels[0].voice != before, triggered);
            EXPECT_EQ(channels[0].voice->position, triggered ? 0u : 500u);
        }
        EXPECT_EQ(volumes, c.volumes) << std::hex << int(c.param);
        EXPECT_EQ(triggers, c.triggers) << std::hex << int(c.param);
    }
}

TEST(MultiRetrigger, ZeroParameterReusesAndCodeZeroLeavesTheVolumeUnflagged) {
    xm::SongSpec song = EffectSong();
    Put(song, 0, 0, C(49, 1, 0, EFFECT_MULTI_RETRIGGER, 0x82));
    Put(song, 1, 0, C(0, 0, 0, EFFECT_MULTI_RETRIGGER, 0x00));
    Put(song, 2, 0, C(0, 0, 0, EFFECT_MULTI_RETRIGGER, 0x02));
    ModulePtr module = LoadAndStart(song);
    ASSERT_TRUE(module);
    std::vector<int32_t> flags = Trace(*module, 18, [] { return channels[0].flags; });
    const int32_t T = CHANNEL_TRIGGER, V = CHANNEL_VOLUME, row = CHANNEL_FREQ | CHANNEL_VOLUME;
    std::vector<int32_t> expected = {row | T | CHANNEL_PAN, 0, T | V, 0, T | V, 0,  //
                                     row, 0, T | V, 0, T | V, 0,                    //
                                     row, 0, T, 0, T, 0};
    EXPECT_EQ(flags, expected);
}

}  // namespace
