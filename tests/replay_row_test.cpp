// The row tick: note pitch, the kinds of cell, the volume column, key-off,
// and notes or instruments the song does not hold.
#include <gtest/gtest.h>
#include <string.h>

#include "tests/replay_harness.h"

using namespace replay_test;

namespace {

xm::SampleSpec Tone(uint8_t volume, uint8_t pan, int8_t finetune = 0, int8_t relative_note = 0) {
    xm::SampleSpec sample = xm::SimpleSong().instruments[0].samples[0];
    sample.volume = volume;
    sample.pan = pan;
    sample.finetune = finetune;
    sample.relative_note = relative_note;
    return sample;
}

// One channel, speed 1, instrument 1 with the given sample.
xm::SongSpec OneSampleSong(const xm::SampleSpec& sample, uint16_t flags = MODULE_LINEAR_FREQUENCY) {
    xm::SongSpec song = ToneSong(1, 16, 1);
    song.flags = flags;
    song.instruments[0].samples[0] = sample;
    return song;
}

Sample* FirstSample(const Module& module, int instrument) {
    return module.instruments[instrument].samples[0];
}

TEST(NotePitch, LinearPeriodsWithFinetuneAndRelativeNote) {
    struct Case {
        uint8_t note;
        int8_t finetune, relative_note;
        int32_t transposed, period;
        uint32_t step_fraction;
    } cases[] = {
        {49, 0, 0, 48, 4608, 814485521},    {49, -3, 0, 48, 4609, 0},
        {49, -1, 0, 48, 4608, 814485521},   {49, 127, 0, 48, 4545, 0},
        {49, -128, 0, 48, 4672, 768711493}, {49, 0, 12, 60, 3840, 1628971042},
        {1, 0, -12, 0, 7680, 0},            {96, 0, 40, 119, 64, 0},
        {96, 127, 127, 119, 1, 0},          {1, -128, -128, 0, 7744, 0},
    };
    for (const Case& c : cases) {
        xm::SongSpec song = OneSampleSong(Tone(64, 128, c.finetune, c.relative_note));
        Put(song, 0, 0, C(c.note, 1));
        ModulePtr module = LoadAndStart(song);
        ASSERT_TRUE(module);
        ModuleTick(module.get());
        const Channel& ch = channels[0];
        SCOPED_TRACE(testing::Message() << "note " << int(c.note) << " finetune " << int(c.finetune)
                                        << " relative " << int(c.relative_note));
        EXPECT_EQ(ch.transposed_note, c.transposed);
        EXPECT_EQ(ch.note_period, c.period);
        EXPECT_EQ(ch.period, c.period);
        if (c.step_fraction) EXPECT_EQ(ch.voice->step_fraction, c.step_fraction);
    }
}

TEST(NotePitch, AmigaSongsPlayAtTheirPitch) {
    struct Case {
        uint8_t note;
        int8_t finetune;
        int32_t period;
    } cases[] = {{49, 0, 1712}, {61, 0, 856},     {37, 0, 3424}, {50, 0, 1616},
                 {49, 127, 1617}, {49, -128, 1814}, {1, 0, 27392}, {96, 0, 113}};
    for (const Case& c : cases) {
        xm::SongSpec song = OneSampleSong(Tone(64, 128, c.finetune), 0);
        Put(song, 0, 0, C(c.note, 1));
        ModulePtr module = LoadAndStart(song);
        ASSERT_TRUE(module);
        ModuleTick(module.get());
        EXPECT_EQ(channels[0].note_period, c.period) << int(c.note) << " " << int(c.finetune);
        EXPECT_EQ(channels[0].period, c.period);
    }
    // 14317056 / 1712 = 8362 Hz.
    xm::SongSpec song = OneSampleSong(Tone(64, 128), 0);
    Put(song, 0, 0, C(49, 1));
    ModulePtr module = LoadAndStart(song);
    ASSERT_TRUE(module);
    ModuleTick(module.get());
    EXPECT_EQ(channels[0].voice->step_integer, 0u);
    EXPECT_EQ(channels[0].voice->step_fraction, 814388129u);
}

TEST(NotePitch, TransposedNoteIsLimitedTo0Through119) {
    struct Case {
        uint8_t note;
        int8_t relative;
        int32_t expected;
    } cases[] = {{1, -1, 0}, {1, -128, 0}, {12, -20, 0}, {49, 0, 48}, {96, 23, 118},
                 {96, 24, 119}, {96, 127, 119}, {255, 0, 119}, {0, 0, 0}};
    for (const Case& c : cases) EXPECT_EQ(TransposeNote(c.note, c.relative), c.expected) << int(c.note);
}

struct FiveCells : testing::Test {
    ModulePtr module;
    Sample* first = nullptr;   // instrument 1: volume 40, panning 200
    Sample* second = nullptr;  // instrument 2: volume 20, panning 60, an octave up
    void SetUp() override {
        xm::SongSpec song = OneSampleSong(Tone(40, 200));
        xm::InstrumentSpec other = song.instruments[0];
        other.samples[0] = Tone(20, 60, 0, 12);
        song.instruments.push_back(other);
        Put(song, 0, 0, C(49, 1));                             // note with instrument
        Put(song, 1, 0, C(0, 0, 0x20));                        // volume 16
        Put(song, 2, 0, C(53));                                // note without instrument
        Put(song, 3, 0, C(61, 2, 0, EFFECT_TONE_PORTA, 0x10)); // tone-portamento cell
        Put(song, 4, 0, C(0, 2));                              // instrument alone
        Put(song, 5, 0, C(37, 0, 0, EFFECT_TONE_PORTA_VOLUME_SLIDE, 0));
        Put(song, 6, 0, C(49, 0, 0xF0));                       // volume-column portamento
        module = LoadAndStart(song);
        ASSERT_TRUE(module);
        first = FirstSample(*module, 0);
        second = FirstSample(*module, 1);
    }
};

TEST_F(FiveCells, EachKindOfCellDoesItsOwnPart) {
    const Channel& ch = channels[0];

    ModuleTick(module.get());  // note with instrument
    EXPECT_EQ(ch.flags, CHANNEL_TRIGGER | CHANNEL_FREQ | CHANNEL_VOLUME | CHANNEL_PAN);
    EXPECT_EQ(ch.instrument, 0);
    EXPECT_EQ(ch.note, 48);
    EXPECT_EQ(ch.period, 4608);
    EXPECT_EQ(ch.volume, 40);
    EXPECT_EQ(ch.pan, 200);
    EXPECT_EQ(ch.fade_volume, 65536);
    EXPECT_EQ(ch.voice, &VoicePool[0]);
    EXPECT_EQ(VoicePool[0].sample, first);
    EXPECT_EQ(VoicePool[0].volume, 79);
    EXPECT_EQ(VoicePool[0].left_gain, 61);  // 79 x 200 / 255
    EXPECT_EQ(VoicePool[0].right_gain, 17);

    ModuleTick(module.get());  // volume column only
    EXPECT_EQ(ch.volume, 16);
    EXPECT_EQ(ch.flags, CHANNEL_FREQ | CHANNEL_VOLUME);

    VoicePool[0].position = 1234;  // as if the mixer had played on
    ModuleTick(module.get());       // note without instrument: restarts, keeps volume and panning
    EXPECT_EQ(ch.note, 52);
    EXPECT_EQ(ch.period, 4352);
    EXPECT_EQ(ch.volume, 16);
    EXPECT_EQ(ch.pan, 200);
    EXPECT_EQ(ch.voice, &VoicePool[32]);
    EXPECT_EQ(VoicePool[32].sample, first);
    EXPECT_EQ(VoicePool[32].position, 0u);
    EXPECT_EQ(VoicePool[0].position, 1234u);

    ch.voice->position = 99;
    ModuleTick(module.get());  // tone-portamento cell with another instrument's number
    EXPECT_EQ(ch.instrument, 0);
    EXPECT_EQ(ch.note, 52);
    EXPECT_EQ(ch.period, 4352);
    EXPECT_EQ(ch.note_period, 3840);
    EXPECT_EQ(ch.tone_porta_target, 3840);
    EXPECT_EQ(ch.tone_porta_speed, 0x10);
    EXPECT_EQ(ch.flags & (CHANNEL_TRIGGER | CHANNEL_FREQ), 0);
    EXPECT_EQ(ch.volume, 40);  // reset from the channel's own sample, not instrument 2's
    EXPECT_EQ(ch.pan, 200);
    EXPECT_EQ(ch.voice, &VoicePool[32]);
    EXPECT_EQ(ch.voice->position, 99u);

    ModuleTick(module.get());  // instrument alone
    EXPECT_EQ(ch.instrument, 1);
    EXPECT_EQ(ch.volume, 20);
    EXPECT_EQ(ch.pan, 60);
    EXPECT_EQ(ch.flags & CHANNEL_TRIGGER, 0);
    EXPECT_EQ(ch.voice, &VoicePool[32]);
    EXPECT_EQ(ch.voice->sample, first);  // the voice plays on what it plays
    EXPECT_EQ(ch.period, 4352);

    ModuleTick(module.get());  // effect 5 with a note: restart at the unchanged period
    EXPECT_EQ(ch.note, 52);
    EXPECT_EQ(ch.transposed_note, 36 + 12);
    EXPECT_EQ(ch.note_period, 4608);
    EXPECT_EQ(ch.period, 4352);
    EXPECT_EQ(ch.tone_porta_target, 3840);  // effect 5 does not set a target on the row
    EXPECT_EQ(ch.voice, &VoicePool[0]);
    EXPECT_EQ(ch.voice->sample, second);
    EXPECT_EQ(ch.voice->position, 0u);

    uint32_t old_step = ch.voice->step_fraction;
    ModuleTick(module.get());  // volume column 0xF0 with a note: pitch jumps, no restart
    EXPECT_EQ(ch.note, 48);
    EXPECT_EQ(ch.period, 3840);
    EXPECT_EQ(ch.tone_porta_target, 3840);
    EXPECT_EQ(ch.tone_porta_speed, 0x10);  // x = 0 keeps the speed
    EXPECT_EQ(ch.flags & CHANNEL_TRIGGER, 0);
    EXPECT_EQ(ch.voice, &VoicePool[0]);
    EXPECT_NE(ch.voice->step_fraction, old_step);
    EXPECT_EQ(ch.voice->step_fraction, 1628971042u);
}

TEST(RowCells, FirstNoteWithoutInstrumentIsSilentUntilAnInstrumentComes) {
    xm::SongSpec song = OneSampleSong(Tone(64, 128));
    Put(song, 0, 0, C(49));
    Put(song, 1, 0, C(0, 1));
    ModulePtr module = LoadAndStart(song);
    ASSERT_TRUE(module);
    ModuleTick(module.get());
    EXPECT_NE(channels[0].voice->sample, nullptr);
    EXPECT_EQ(channels[0].voice->volume, 0);
    EXPECT_EQ(channels[0].voice->left_gain + channels[0].voice->right_gain, 0);
    ModuleTick(module.get());
    EXPECT_EQ(channels[0].voice->volume, 127);
    EXPECT_EQ(channels[0].voice->left_gain, 63);
    EXPECT_EQ(channels[0].voice->right_gain, 63);
}

TEST(RowCells, InstrumentBeyondTheSongPlaysTheEmptySample) {
    xm::SongSpec song = OneSampleSong(Tone(64, 128));
    Put(song, 0, 0, C(49, 1));
    Put(song, 1, 0, C(49, 5, 0, EFFECT_KEY_OFF));
    ModulePtr module = LoadAndStart(song);
    ASSERT_TRUE(module);
    RunTicks(*module, 2);
    const Channel& ch = channels[0];
    EXPECT_EQ(ch.instrument, 4);
    EXPECT_EQ(ch.voice->sample, &EmptySample);
    EXPECT_EQ(ch.volume, 0);
    EXPECT_EQ(ch.fade_volume, 65536);  // no fade-out
    EXPECT_EQ(ch.volume_env.value, 0);  // released without a volume envelope
}

TEST(RowCells, NotesOutsideTheKeymapAreNoNotes) {
    for (uint8_t note : {98, 100, 127, 128, 200, 254}) {
        xm::SongSpec song = OneSampleSong(Tone(64, 128));
        Put(song, 0, 0, C(49, 1));
        Put(song, 1, 0, C(50, 0, 0x20));
        ModulePtr module = LoadAndStart(song);
        ASSERT_TRUE(module);
        module->patterns[0].cells[1].note = note;  // values the file format cannot pack
        RunTicks(*module, 2);
        const Channel& ch = channels[0];
        EXPECT_EQ(ch.note, 48) << int(note);
        EXPECT_EQ(ch.transposed_note, 48);
        EXPECT_EQ(ch.period, 4608);
        EXPECT_EQ(ch.flags & CHANNEL_TRIGGER, 0);
        EXPECT_EQ(ch.voice, &VoicePool[0]);
        EXPECT_EQ(ch.volume, 16);
        EXPECT_EQ(ch.key_off, 0);
    }
}

TEST(RowCells, KeyOffReleasesAndStaysUntilAnInstrumentComes) {
    xm::SongSpec song = OneSampleSong(Tone(64, 128));
    song.instruments[0].fadeout = 1000;
    Put(song, 0, 0, C(49, 1));
    Put(song, 1, 0, C(97));
    Put(song, 2, 0, C(51));
    Put(song, 3, 0, C(0, 1));
    Put(song, 4, 0, C(97, 1));
    Put(song, 5, 0, C(53, 1, 0, EFFECT_KEY_OFF, 0x33));
    ModulePtr module = LoadAndStart(song);
    ASSERT_TRUE(module);
    const Channel& ch = channels[0];
    ModuleTick(module.get());
    EXPECT_EQ(ch.key_off, 0);
    EXPECT_EQ(ch.voice->volume, 127);
    ModuleTick(module.get());
    EXPECT_EQ(ch.key_off, 1);
    EXPECT_EQ(ch.fade_volume, 65536 - 2000);
    EXPECT_EQ(ch.volume_env.value, 0);
    EXPECT_EQ(ch.voice->volume, 0);
    ModuleTick(module.get());  // a new note alone does not end the release
    EXPECT_EQ(ch.key_off, 1);
    EXPECT_EQ(ch.fade_volume, 65536 - 4000);
    EXPECT_EQ(ch.voice->volume, 0);
    ModuleTick(module.get());
    EXPECT_EQ(ch.key_off, 0);
    EXPECT_EQ(ch.fade_volume, 65536);
    EXPECT_EQ(ch.volume_env.value, 64);
    ModuleTick(module.get());  // key-off with instrument: reset first, then released
    EXPECT_EQ(ch.key_off, 1);
    EXPECT_EQ(ch.fade_volume, 65536 - 2000);
    EXPECT_EQ(ch.volume, 64);
    ModuleTick(module.get());  // effect 20 with a note: starts and is released at once
    EXPECT_EQ(ch.key_off, 1);
    EXPECT_TRUE(ch.flags & CHANNEL_TRIGGER);
    EXPECT_EQ(ch.period, 4608 - 4 * 64);
    EXPECT_EQ(ch.voice->volume, 0);
}

TEST(VolumeColumn, RowTickAndLaterTicks) {
    struct Case {
        uint8_t command;
        int32_t volume_on_row_tick, volume_after_row, pan_on_row_tick, pan_after_row;
    } cases[] = {
        {0x01, 40, 40, 200, 200}, {0x10, 0, 0, 200, 200},   {0x30, 32, 32, 200, 200},
        {0x50, 64, 64, 200, 200}, {0x51, 40, 40, 200, 200}, {0x5F, 40, 40, 200, 200},
        {0x65, 35, 10, 200, 200}, {0x6F, 25, 0, 200, 200},  {0x75, 45, 64, 200, 200},
        {0x85, 35, 35, 200, 200}, {0x95, 45, 45, 200, 200}, {0x9F, 55, 55, 200, 200},
        {0xA5, 40, 40, 200, 200}, {0xB5, 40, 40, 200, 200}, {0xC8, 40, 40, 128, 128},
        {0xCF, 40, 40, 240, 240}, {0xC0, 40, 40, 0, 0},     {0xD3, 40, 40, 197, 182},
        {0xE5, 40, 40, 205, 230}, {0xEF, 40, 40, 215, 290},
    };
    for (const Case& c : cases) {
        xm::SongSpec song = OneSampleSong(Tone(40, 200));
        song.speed = 6;
        Put(song, 0, 0, C(49, 1, c.command));
        ModulePtr module = LoadAndStart(song);
        ASSERT_TRUE(module);
        SCOPED_TRACE(testing::Message() << "volume column " << std::hex << int(c.command));
        ModuleTick(module.get());
        EXPECT_EQ(channels[0].volume, c.volume_on_row_tick);
        EXPECT_EQ(channels[0].pan, c.pan_on_row_tick);
        RunTicks(*module, 5);
        EXPECT_EQ(channels[0].volume, c.volume_after_row);
        EXPECT_EQ(channels[0].pan, c.pan_after_row);
        EXPECT_LE(channels[0].voice->pan, 255);  // the voice clamps what the channel need not
    }
}

TEST(VolumeColumn, SlideFlagsOnEveryLaterTick) {
    xm::SongSpec song = OneSampleSong(Tone(40, 200));
    song.speed = 3;
    Put(song, 0, 0, C(49, 1, 0x61));
    Put(song, 1, 0, C(0, 0, 0xE1));
    Put(song, 2, 0, C(0, 0, 0x81));
    ModulePtr module = LoadAndStart(song);
    ASSERT_TRUE(module);
    std::vector<int32_t> flags = Trace(*module, 9, [] { return channels[0].flags; });
    std::vector<int32_t> expected = {
        CHANNEL_TRIGGER | CHANNEL_FREQ | CHANNEL_VOLUME | CHANNEL_PAN, CHANNEL_VOLUME, CHANNEL_VOLUME,
        CHANNEL_FREQ | CHANNEL_VOLUME | CHANNEL_PAN,                    CHANNEL_PAN,    CHANNEL_PAN,
        CHANNEL_FREQ | CHANNEL_VOLUME,                                  0,              0};
    EXPECT_EQ(flags, expected);
}

TEST(RowEffects, SetPanningComesAfterTheVolumeColumn) {
    xm::SongSpec song = OneSampleSong(Tone(40, 200));
    Put(song, 0, 0, C(49, 1, 0xC2, EFFECT_SET_PANNING, 0x30));
    Put(song, 1, 0, C(0, 0, 0, EFFECT_SET_PANNING, 0xFF));
    ModulePtr module = LoadAndStart(song);
    ASSERT_TRUE(module);
    ModuleTick(module.get());
    EXPECT_EQ(channels[0].pan, 0x30);
    EXPECT_EQ(channels[0].voice->pan, 0x30);
    ModuleTick(module.get());
    EXPECT_EQ(channels[0].pan, 255);
    EXPECT_TRUE(channels[0].flags & CHANNEL_PAN);
    EXPECT_EQ(channels[0].voice->left_gain, channels[0].voice->volume);
    EXPECT_EQ(channels[0].voice->right_gain, 0);
}

TEST(RowEffects, UnlistedEffectsChangeNothing) {
    auto run = [](uint8_t effect, uint8_t param, Channel* out, Module* state) {
        xm::SongSpec song = OneSampleSong(Tone(40, 200));
        song.speed = 6;
        song.orders = {0, 0};
        Put(song, 0, 0, C(49, 1, 0, effect, param));
        ModulePtr module = LoadAndStart(song);
        ASSERT_TRUE(module);
        RunTicks(*module, 12);
        *out = channels[0];
        *state = *module;
    };
    Channel reference;
    Module reference_state;
    run(0, 0, &reference, &reference_state);
    for (uint8_t effect : {4, 6, 7, 9, 11, 12, 14, 16, 17, 18, 19, 21, 25, 29, 33, 35, 36, 200, 255}) {
        for (uint8_t param : {0x00, 0x01, 0x5A, 0xD1, 0xFF}) {
            Channel channel;
            Module state;
            run(effect, param, &channel, &state);
            SCOPED_TRACE(testing::Message() << "effect " << int(effect) << " param " << int(param));
            EXPECT_EQ(0, memcmp(&channel, &reference, sizeof(Channel)));
            EXPECT_EQ(state.order, reference_state.order);
            EXPECT_EQ(state.row, reference_state.row);
            EXPECT_EQ(state.speed, 6);
            EXPECT_EQ(state.global_volume, 64);
            EXPECT_EQ(state.samples_per_tick, 882);
        }
    }
}

}  // namespace
