// Volume and panning envelopes, sustain, loops, and the fade-out.
#include <gtest/gtest.h>

#include "tests/replay_harness.h"

using namespace replay_test;

namespace {

using Points = std::vector<std::pair<uint16_t, uint16_t>>;

// One channel at speed 1 (every tick a row tick), a note on row 0 and a
// key-off on row `release` (none when negative).
ModulePtr EnvelopeSong(const xm::EnvelopeSpec& volume, int release = -1, uint16_t fadeout = 0,
                       const xm::EnvelopeSpec& pan = xm::EnvelopeSpec()) {
    xm::SongSpec song = ToneSong(1, 256, 1);
    song.instruments[0].volume_envelope = volume;
    song.instruments[0].pan_envelope = pan;
    song.instruments[0].fadeout = fadeout;
    Put(song, 0, 0, C(49, 1));
    if (release >= 0) Put(song, release, 0, C(97));
    return LoadAndStart(song);
}

xm::EnvelopeSpec Envelope(const Points& points, uint8_t type, uint8_t sustain = 0, uint8_t loop_start = 0,
                          uint8_t loop_end = 0) {
    xm::EnvelopeSpec e;
    e.points = points;
    e.type = type;
    e.sustain = sustain;
    e.loop_start = loop_start;
    e.loop_end = loop_end;
    return e;
}

std::vector<int32_t> VolumeValues(Module& module, int ticks) {
    return Trace(module, ticks, [] { return channels[0].volume_env.value; });
}

TEST(Envelope, StraightSegmentTruncatesAndFinishes) {
    ModulePtr module = EnvelopeSong(Envelope({{0, 64}, {10, 0}}, ENVELOPE_ON));
    ASSERT_TRUE(module);
    EXPECT_EQ(VolumeValues(*module, 10), (std::vector<int32_t>{64, 57, 51, 44, 38, 32, 25, 19, 12, 6}));
    EXPECT_EQ(channels[0].volume_env.finished, 0);
    ModuleTick(module.get());
    EXPECT_EQ(channels[0].volume_env.value, 0);
    EXPECT_EQ(channels[0].volume_env.finished, 1);
    EXPECT_EQ(channels[0].voice->volume, 0);
    EXPECT_EQ(VolumeValues(*module, 20), std::vector<int32_t>(20, 0));
}

TEST(Envelope, SustainHoldsUntilReleaseThenRunsOn) {
    ModulePtr module = EnvelopeSong(Envelope({{0, 0}, {4, 64}, {8, 32}}, ENVELOPE_ON | ENVELOPE_SUSTAIN, 1), 12);
    ASSERT_TRUE(module);
    EXPECT_EQ(VolumeValues(*module, 12), (std::vector<int32_t>{0, 16, 32, 48, 64, 64, 64, 64, 64, 64, 64, 64}));
    EXPECT_EQ(VolumeValues(*module, 6), (std::vector<int32_t>{64, 56, 48, 40, 32, 32}));
    EXPECT_EQ(channels[0].volume_env.finished, 1);
    EXPECT_EQ(channels[0].voice->volume, 63);  // the envelope, not the released-note silence
}

TEST(Envelope, LoopRepeatsForeverAlsoAfterRelease) {
    ModulePtr module = EnvelopeSong(Envelope({{0, 64}, {4, 32}, {8, 64}}, ENVELOPE_ON | ENVELOPE_LOOP, 0, 0, 2), 20);
    ASSERT_TRUE(module);
    std::vector<int32_t> cycle = {64, 56, 48, 40, 32, 40, 48, 56};
    for (int round = 0; round < 6; round++) EXPECT_EQ(VolumeValues(*module, 8), cycle) << round;
    EXPECT_EQ(channels[0].volume_env.finished, 0);
    EXPECT_EQ(channels[0].key_off, 1);
}

TEST(Envelope, SustainOnTheLoopEndDoesNotHold) {
    ModulePtr module = EnvelopeSong(
        Envelope({{0, 0}, {4, 64}, {8, 32}}, ENVELOPE_ON | ENVELOPE_SUSTAIN | ENVELOPE_LOOP, 2, 1, 2));
    ASSERT_TRUE(module);
    EXPECT_EQ(VolumeValues(*module, 16),
              (std::vector<int32_t>{0, 16, 32, 48, 64, 56, 48, 40, 64, 56, 48, 40, 64, 56, 48, 40}));
}

TEST(Envelope, SegmentsWithoutForwardTimeHoldTheirValue) {
    struct Case {
        Points points;
        std::vector<int32_t> start;
        int32_t held;
    } cases[] = {
        {{{0, 64}, {4, 32}, {4, 0}, {8, 64}}, {64, 56, 48, 40, 32}, 32},   // equal ticks
        {{{0, 64}, {4, 32}, {2, 0}, {9, 64}}, {64, 56, 48, 40, 32}, 32},   // tick going back
        {{{0, 0}, {2, 64}, {0, 0}}, {0, 32, 64}, 64},                      // back to the start
    };
    for (const Case& c : cases) {
        ModulePtr module = EnvelopeSong(Envelope(c.points, ENVELOPE_ON));
        ASSERT_TRUE(module);
        EXPECT_EQ(VolumeValues(*module, int(c.start.size())), c.start);
        std::vector<int32_t> rest = VolumeValues(*module, 240);
        EXPECT_EQ(rest, std::vector<int32_t>(240, c.held));
        EXPECT_EQ(channels[0].volume_env.finished, 0);
        EXPECT_EQ(channels[0].volume_env.step, 0);
    }
}

TEST(Envelope, FirstPointAfterTickZeroShowsTheValueLeftFromBefore) {
    xm::SongSpec song = ToneSong(1, 16, 1);
    song.instruments[0].volume_envelope = Envelope({{2, 32}, {6, 64}}, ENVELOPE_ON);
    Put(song, 0, 0, C(49, 1));
    Put(song, 10, 0, C(0, 1));
    ModulePtr module = LoadAndStart(song);
    ASSERT_TRUE(module);
    EXPECT_EQ(VolumeValues(*module, 10), (std::vector<int32_t>{0, 0, 32, 40, 48, 56, 64, 64, 64, 64}));
    // Restarted: 56 is what the last segment left in fixed_value.
    EXPECT_EQ(VolumeValues(*module, 4), (std::vector<int32_t>{56, 56, 32, 40}));
}

TEST(Envelope, PanningEnvelopeMovesTheVoiceAroundTheChannelPanning) {
    ModulePtr module = EnvelopeSong(xm::EnvelopeSpec(), -1, 0, Envelope({{0, 0}, {4, 64}}, ENVELOPE_ON));
    ASSERT_TRUE(module);
    std::vector<int32_t> pans = Trace(*module, 6, [] { return channels[0].voice->pan; });
    EXPECT_EQ(pans, (std::vector<int32_t>{0, 64, 128, 192, 255, 255}));
    EXPECT_EQ(channels[0].pan_env.finished, 1);
    EXPECT_EQ(channels[0].pan, 128);
}

TEST(FadeOut, ReleasedNoteFadesToZeroIn128TicksAndStaysFlagged) {
    ModulePtr module = EnvelopeSong(Envelope({{0, 64}, {1, 64}}, ENVELOPE_ON), 3, 256);
    ASSERT_TRUE(module);
    std::vector<int32_t> fades = Trace(*module, 3, [] { return channels[0].fade_volume; });
    EXPECT_EQ(fades, std::vector<int32_t>(3, 65536));
    for (int n = 1; n <= 128; n++) {
        ModuleTick(module.get());
        ASSERT_EQ(channels[0].fade_volume, 65536 - 512 * n);
    }
    EXPECT_EQ(channels[0].voice->volume, 0);
    for (int n = 0; n < 5; n++) {
        ModuleTick(module.get());
        EXPECT_EQ(channels[0].fade_volume, 0);
        EXPECT_EQ(channels[0].flags, CHANNEL_FREQ | CHANNEL_VOLUME);
    }
}

TEST(FadeOut, LaterTicksFadeButDoNotSilenceANoteWithoutEnvelope) {
    xm::SongSpec song = ToneSong(1, 4, 4);
    song.instruments[0].fadeout = 0x7FFF;  // the largest the file can give: 65534 a tick
    Put(song, 0, 0, C(49, 1));
    Put(song, 1, 0, C(0, 0, 0, EFFECT_KEY_OFF));
    ModulePtr module = LoadAndStart(song);
    ASSERT_TRUE(module);
    RunTicks(*module, 4);
    EXPECT_EQ(channels[0].volume_env.value, 64);
    ModuleTick(module.get());
    EXPECT_EQ(channels[0].volume_env.value, 0);
    EXPECT_EQ(channels[0].fade_volume, 2);
    for (int tick = 1; tick < 4; tick++) {
        ModuleTick(module.get());
        EXPECT_EQ(channels[0].fade_volume, 0);
        EXPECT_EQ(channels[0].flags, CHANNEL_VOLUME);  // also once the fade is over
    }
}

// Points beyond the record's 20 must never be read, whatever the counts and
// indices claim; the points live in a heap block of exactly 20 so that an
// address-sanitized build sees any stray read.
TEST(StepEnvelope, StaysInsideTheTwentyPointsWhateverTheIndices) {
    struct Case {
        uint8_t count, type, loop_end, loop_start, sustain;
    } cases[] = {
        {255, ENVELOPE_ON | ENVELOPE_LOOP, 19, 25, 0},    {255, ENVELOPE_ON | ENVELOPE_LOOP, 19, 255, 0},
        {20, ENVELOPE_ON | ENVELOPE_LOOP, 19, 20, 30},    {3, ENVELOPE_ON | ENVELOPE_LOOP, 2, 7, 2},
        {21, ENVELOPE_ON | ENVELOPE_SUSTAIN, 0, 0, 20},   {12, ENVELOPE_ON | ENVELOPE_LOOP | ENVELOPE_SUSTAIN, 11, 3, 11},
        {0, ENVELOPE_ON, 0, 0, 0},                        {1, ENVELOPE_ON, 0, 0, 0},
    };
    for (const Case& c : cases) {
        std::vector<EnvelopePoint> points(ENVELOPE_POINTS);
        for (int i = 0; i < ENVELOPE_POINTS; i++) points[i] = {uint16_t(3 * i), uint16_t(i % 2 ? 64 : 0)};
        Channel channel = {};
        EnvelopeState state = {};
        for (int tick = 0; tick < 300; tick++) {
            StepEnvelope(channel, state, c.type, c.count, points.data(), c.loop_end, c.loop_start, c.sustain,
                         CHANNEL_VOLUME);
            ASSERT_GE(state.value, 0);
            ASSERT_LE(state.value, 64);
            ASSERT_LE(state.point, ENVELOPE_POINTS);
        }
        EXPECT_EQ(channel.flags, CHANNEL_VOLUME);
    }
}

TEST(StepEnvelope, TwentyPointsFinishOnTheLastAndTheTimeNeverOverflows) {
    std::vector<EnvelopePoint> points(ENVELOPE_POINTS);
    for (int i = 0; i < ENVELOPE_POINTS; i++) points[i] = {uint16_t(2 * i), uint16_t(i == 19 ? 7 : 64)};
    Channel channel = {};
    EnvelopeState state = {};
    for (int tick = 0; tick < 38; tick++)
        StepEnvelope(channel, state, ENVELOPE_ON, 20, points.data(), 0, 0, 0, CHANNEL_PAN);
    EXPECT_EQ(state.finished, 0);
    StepEnvelope(channel, state, ENVELOPE_ON, 20, points.data(), 0, 0, 0, CHANNEL_PAN);
    EXPECT_EQ(state.finished, 1);
    EXPECT_EQ(state.value, 7);
    EXPECT_EQ(channel.flags, CHANNEL_PAN);

    // A stuck envelope's time counts on; it stops at the top of its range.
    EnvelopeState stuck = {};
    stuck.tick = INT32_MAX - 1;
    stuck.point = 1;
    stuck.fixed_value = 20 << 16;
    for (int i = 0; i < 3; i++) StepEnvelope(channel, stuck, ENVELOPE_ON, 20, points.data(), 0, 0, 0, CHANNEL_PAN);
    EXPECT_EQ(stuck.tick, INT32_MAX);
    EXPECT_EQ(stuck.value, 20);
}

}  // namespace
