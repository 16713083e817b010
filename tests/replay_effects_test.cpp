// The later ticks (arpeggio, portamento, tone portamento, volume slides, multi
// retrigger with their remembered parameters), envelopes and the fade-out.
#include "tests/replay_harness.h"

using namespace replay_test;

namespace {

Values PeriodTrace(Module& module, int ticks) {
    return Trace(module, ticks, [] { return channels[0].period; });
}

TEST(Arpeggio, OffsetsFollowTheTickInLinearSongsOnly) {
    struct Case {
        uint16_t flags;
        uint8_t param, frequency_flag;
        Values offsets;  // ticks 1..5
    } cases[] = {{1, 0x37, CHANNEL_FREQ, {192, 448, 0, 192, 448}},
                 {0, 0x37, CHANNEL_FREQ, {0, 0, 0, 0, 0}},
                 {1, 0x00, 0, {0, 0, 0, 0, 0}}};
    for (const Case& c : cases) {
        xm::SongSpec song = ToneSong(1, 8, 6, c.flags);
        Put(song, 0, 0, 49, 1, 0, EFFECT_ARPEGGIO, c.param);
        ModulePtr module = LoadAndStart(song);
        ModuleTick(module.get());
        SCOPED_TRACE(testing::Message() << "flags " << c.flags << " param " << int(c.param));
        EXPECT_EQ(Trace(*module, 5, [] { return channels[0].period_offset; }), c.offsets);
        EXPECT_EQ(channels[0].flags, c.frequency_flag);
        EXPECT_EQ(channels[0].period, c.flags ? 4608 : 1712);  // the base period is untouched
    }
}

TEST(Portamento, UpRemembersAndStopsAt56DownRunsOnInBothKindsOfSong) {
    xm::SongSpec song = ToneSong();
    Put(song, 0, 0, 49, 1, 0, EFFECT_PORTA_UP, 0x14);
    Put(song, 1, 0, 0, 0, 0, EFFECT_PORTA_UP, 0x00);
    Put(song, 2, 0, 96, 1, 0, EFFECT_PORTA_UP, 0xFF);  // period 1600
    ModulePtr module = LoadAndStart(song);
    EXPECT_EQ(PeriodTrace(*module, 8), (Values{4608, 4528, 4448, 4368, 4288, 4208, 4208, 4128}));
    RunTicks(*module, 4);
    EXPECT_EQ(PeriodTrace(*module, 4), (Values{1600, 580, 56, 56}));
    for (uint16_t flags : {0, 1}) {
        song = ToneSong(1, 16, 6, flags);
        Put(song, 0, 0, 49, 1, 0, EFFECT_PORTA_DOWN, 0x01);
        Put(song, 1, 0, 0, 0, 0, EFFECT_PORTA_DOWN, 0xFF);
        Put(song, 2, 0, 0, 0, 0, EFFECT_PORTA_DOWN, 0x00);
        module = LoadAndStart(song);
        RunTicks(*module, 18);
        EXPECT_EQ(channels[0].period, (flags ? 4608 : 1712) + 5 * 4 + 10 * 1020);
    }
}

TEST(Portamento, PeriodsSaturateInsteadOfOverflowing) {
    xm::SongSpec song = ToneSong();
    Put(song, 0, 0, 49, 1, 0, EFFECT_PORTA_DOWN, 0xFF);
    Put(song, 1, 0, 0, 0, 0, EFFECT_PORTA_UP, 0xFF);
    Put(song, 2, 0, 0, 0, 0, EFFECT_TONE_PORTA, 0xFF);
    ModulePtr module = LoadAndStart(song);
    Channel& ch = channels[0];
    ModuleTick(module.get());
    ch.period = INT32_MAX - 1000;
    RunTicks(*module, 6);
    EXPECT_EQ(ch.period, INT32_MAX);
    ch.period = INT32_MIN + 1000;
    RunTicks(*module, 6);
    EXPECT_EQ(ch.period, PERIOD_MIN);
    for (int32_t target : {INT32_MAX, INT32_MIN}) {
        ch.tone_porta_target = target;
        ch.period = target == INT32_MAX ? target - 5 : target + 5;
        ModuleTick(module.get());
        EXPECT_EQ(ch.period, target);
    }
}

TEST(TonePortamento, ReachesItsTargetFromEitherSideWithoutRestarting) {
    xm::SongSpec song = ToneSong();
    Put(song, 0, 0, 49, 1);
    Put(song, 1, 0, 53, 0, 0, EFFECT_TONE_PORTA, 0x10);
    Put(song, 2, 0, 0, 0, 0, EFFECT_TONE_PORTA, 0x00);
    Put(song, 3, 0, 49, 0, 0, EFFECT_TONE_PORTA, 0x00);
    Put(song, 4, 0, 61, 0, 0, EFFECT_TONE_PORTA, 0xFF);
    Put(song, 5, 0, 49, 0, 0xF1, EFFECT_TONE_PORTA, 0x22);  // column and effect: two steps of one speed
    ModulePtr module = LoadAndStart(song);
    RunTicks(*module, 6);
    EXPECT_EQ(PeriodTrace(*module, 6), (Values{4608, 4544, 4480, 4416, 4352, 4352}));
    EXPECT_TRUE(channels[0].flags & CHANNEL_FREQ);  // also once the target is reached
    EXPECT_EQ(PeriodTrace(*module, 6), Values(6, 4352));
    EXPECT_EQ(PeriodTrace(*module, 6), (Values{4352, 4416, 4480, 4544, 4608, 4608}));
    EXPECT_EQ(PeriodTrace(*module, 6), (Values{4608, 3840, 3840, 3840, 3840, 3840}));  // one step overshoots
    EXPECT_EQ(PeriodTrace(*module, 5), (Values{3840, 4112, 4384, 4608, 4608}));  // the last step overshoots
    EXPECT_EQ(channels[0].voice, &VoicePool[0]);  // never restarted
}

TEST(VolumeSlide, RemembersPrefersTheHighNibbleAndAddsToTheVolumeColumn) {
    struct Case {
        uint8_t column0, first, column1, second;  // rows 0 and 1
        int32_t after_first, after_second;
    } cases[] = {
        {0, 0x00, 0, 0x00, 64, 64}, {0, 0x0F, 0, 0x00, 0, 0},        {0, 0x02, 0, 0x00, 54, 44},
        {0, 0x02, 0, 0x04, 54, 34}, {0, 0x1F, 0, 0x00, 64, 64},      {0, 0x01, 0, 0x1F, 59, 64},
        {0, 0x0A, 0, 0xF0, 14, 64}, {0x10, 0x30, 0x62, 0x01, 15, 0}, {0x72, 0x04, 0, 0x00, 52, 32},
    };
    for (const Case& c : cases) {
        xm::SongSpec song = ToneSong();
        Put(song, 0, 0, 49, 1, c.column0, EFFECT_VOLUME_SLIDE, c.first);
        Put(song, 1, 0, 0, 0, c.column1, EFFECT_VOLUME_SLIDE, c.second);
        ModulePtr module = LoadAndStart(song);
        SCOPED_TRACE(testing::Message() << std::hex << int(c.column0) << " " << int(c.first) << " " << int(c.second));
        RunTicks(*module, 6);
        EXPECT_EQ(channels[0].volume, c.after_first);
        EXPECT_EQ(channels[0].flags, CHANNEL_VOLUME);  // flagged even when nothing moves
        RunTicks(*module, 6);
        EXPECT_EQ(channels[0].volume, c.after_second);
    }
}

TEST(MultiRetrigger, VolumeTable) {
    const int32_t expected[][16] = {  // code 0 leaves the volume: each row starts with it
        {64, 63, 62, 60, 56, 48, 42, 32, 64, 64, 64, 64, 64, 64, 64, 64},
        {40, 39, 38, 36, 32, 24, 26, 20, 40, 41, 42, 44, 48, 56, 60, 64},
        {3, 2, 1, 0, 0, 0, 2, 1, 3, 4, 5, 7, 11, 19, 4, 6},
        {200, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64},
    };
    for (const auto& row : expected)
        for (uint8_t code = 0; code < 16; code++)
            EXPECT_EQ(RetriggerVolume(code, row[0]), row[code]) << "volume " << row[0] << " code " << int(code);
}

TEST(MultiRetrigger, IntervalsRestartTheSampleInTheTwinSlot) {
    struct Case {
        uint8_t first, second;     // parameters of rows 0 and 1
        Values volumes, triggers;  // ticks 1..5 of row 1
    } cases[] = {
        {0x31, 0x31, {40, 36, 32, 28, 24}, {1, 1, 1, 1, 1}}, {0x03, 0x03, {64, 64, 64, 64, 64}, {0, 0, 1, 0, 0}},
        {0x06, 0x06, {64, 64, 64, 64, 64}, {0, 0, 0, 0, 0}}, {0x80, 0x80, {64, 64, 64, 64, 64}, {0, 0, 0, 0, 0}},
        {0x72, 0x00, {16, 8, 8, 4, 4}, {0, 1, 0, 1, 0}},  // 0 repeats the last parameter
    };
    for (const Case& c : cases) {
        xm::SongSpec song = ToneSong();
        Put(song, 0, 0, 49, 1, 0, EFFECT_MULTI_RETRIGGER, c.first);
        Put(song, 1, 0, 0, 0, 0, EFFECT_MULTI_RETRIGGER, c.second);
        ModulePtr module = LoadAndStart(song);
        RunTicks(*module, 7);
        Values volumes, triggers;
        for (int tick = 1; tick < 6; tick++) {
            Voice* before = channels[0].voice;
            ModuleTick(module.get());
            volumes.push_back(channels[0].volume);
            triggers.push_back(channels[0].voice != before);  // a sounding voice hands over
        }
        EXPECT_EQ(volumes, c.volumes) << std::hex << int(c.first);
        EXPECT_EQ(triggers, c.triggers) << std::hex << int(c.first);
    }
}

xm::EnvelopeSpec Envelope(const std::vector<std::pair<uint16_t, uint16_t>>& points, uint8_t type,
                          uint8_t sustain = 0, uint8_t loop_start = 0, uint8_t loop_end = 0) {
    return xm::EnvelopeSpec{points, 0xFF, sustain, loop_start, loop_end, type};
}

TEST(Envelope, VolumeSequences) {
    const uint8_t ON = ENVELOPE_ON, SUSTAIN = ENVELOPE_SUSTAIN, LOOP = ENVELOPE_LOOP;
    struct Case {
        const char* name;
        xm::EnvelopeSpec envelope;
        int cell_row;  // a key-off or an instrument alone on this row (none when negative)
        uint8_t note, instrument;
        Values values;  // one per tick from the note on
        uint8_t finished;
    } cases[] = {
        {"straight, truncating", Envelope({{0, 64}, {10, 0}}, ON), -1, 0, 0,
         {64, 57, 51, 44, 38, 32, 25, 19, 12, 6, 0, 0, 0}, 1},
        {"sustain until the release", Envelope({{0, 0}, {4, 64}, {8, 32}}, ON | SUSTAIN, 1), 8, 97, 0,
         {0, 16, 32, 48, 64, 64, 64, 64, 64, 56, 48, 40, 32, 32}, 1},
        {"loop, also after the release", Envelope({{0, 64}, {4, 32}, {8, 64}}, ON | LOOP, 0, 0, 2), 10, 97, 0,
         {64, 56, 48, 40, 32, 40, 48, 56, 64, 56, 48, 40, 32, 40, 48, 56, 64}, 0},
        {"sustain on the loop end", Envelope({{0, 0}, {4, 64}, {8, 32}}, ON | SUSTAIN | LOOP, 2, 1, 2), -1, 0, 0,
         {0, 16, 32, 48, 64, 56, 48, 40, 64, 56, 48, 40, 64}, 0},
        {"equal ticks hold", Envelope({{0, 64}, {4, 32}, {4, 0}, {8, 64}}, ON), -1, 0, 0,
         {64, 56, 48, 40, 32, 32, 32, 32, 32, 32, 32, 32}, 0},
        {"a tick going back holds", Envelope({{0, 64}, {4, 32}, {2, 0}, {9, 64}}, ON), -1, 0, 0,
         {64, 56, 48, 40, 32, 32, 32, 32, 32, 32, 32, 32}, 0},
        {"first point after tick 0, restarted: the value left from before", Envelope({{2, 32}, {6, 64}}, ON), 8, 0, 1,
         {0, 0, 32, 40, 48, 56, 64, 64, 56, 56, 32, 40}, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        xm::SongSpec song = ToneSong(1, 64, 1);
        song.instruments[0].volume_envelope = c.envelope;
        Put(song, 0, 0, 49, 1);
        if (c.cell_row >= 0) Put(song, c.cell_row, 0, c.note, c.instrument);
        ModulePtr module = LoadAndStart(song);
        EXPECT_EQ(Trace(*module, int(c.values.size()), [] { return channels[0].volume_env.value; }), c.values);
        EXPECT_EQ(channels[0].volume_env.finished, c.finished);
        // Released with a volume envelope, a note sounds on: 64 gives 127.
        EXPECT_EQ(channels[0].voice->volume, c.values.back() * 255 / 128);
    }
}

TEST(Envelope, PanningMovesTheVoiceAroundTheChannelPanning) {
    xm::SongSpec song = ToneSong(1, 16, 1);
    song.instruments[0].pan_envelope = Envelope({{0, 0}, {4, 64}}, ENVELOPE_ON);
    Put(song, 0, 0, 49, 1);
    ModulePtr module = LoadAndStart(song);
    EXPECT_EQ(Trace(*module, 6, [] { return channels[0].voice->pan; }), (Values{0, 64, 128, 192, 255, 255}));
    EXPECT_EQ(channels[0].pan, 128);
}

TEST(FadeOut, ReleasedNotesFadeOnEveryTickToZeroAndStayFlagged) {
    xm::SongSpec song = ToneSong(1, 16, 4);
    song.instruments[0].volume_envelope = Envelope({{0, 64}, {1, 64}}, ENVELOPE_ON);
    song.instruments[0].fadeout = 0x7FFF;  // the largest the file gives: 65534 a tick
    Put(song, 0, 0, 49, 1);
    Put(song, 1, 0, 97);
    ModulePtr module = LoadAndStart(song);
    EXPECT_EQ(Trace(*module, 7, [] { return channels[0].fade_volume; }), (Values{65536, 65536, 65536, 65536, 2, 0, 0}));
    EXPECT_EQ(channels[0].flags, CHANNEL_VOLUME);  // a later tick, the fade over
    EXPECT_EQ(channels[0].voice->volume, 0);
}

}  // namespace
