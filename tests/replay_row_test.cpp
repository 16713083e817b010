// Tempo, the tick sequencer and the row tick: note pitch, the kinds of cell,
// the volume column, key-off, and notes or instruments the song lacks.
#include "tests/replay_harness.h"

using namespace replay_test;

namespace {

TEST(SetBpm, TickLengthsFollowTheSinglePrecisionRounding) {
    struct Case {
        int32_t bpm, frames;
    } cases[] = {{126, 874}, {35, 3150}, {225, 490}, {125, 882}, {32, 3445}, {49, 2249}, {255, 432},
                 {1, 110249}, {32767, 3}, {INT32_MAX, 1}, {0, 882}, {-1, 882}, {INT32_MIN, 882}};
    Module module = {};
    for (const Case& c : cases) {
        SetBpm(module, c.bpm);
        EXPECT_EQ(module.samples_per_tick, c.frames) << "bpm " << c.bpm;
    }
}

TEST(Sequencer, OrdersRowsAndPatternBreaks) {
    struct Case {
        std::vector<uint8_t> orders;
        uint16_t restart;
        int break_pattern, break_row;  // pattern 0 has 4 rows, pattern 1 64
        uint8_t param;
        Values positions;  // order x 100 + row after each tick
    } cases[] = {
        {{0, 0}, 1, 0, -1, 0, {0, 1, 2, 3, 100, 101, 102, 103, 100, 101}},  // on to the restart position
        {{0, 1}, 0, 0, 1, 0x1F, {0, 1, 125, 126}},  // the nibbles are decimal digits
        {{0, 1}, 0, 0, 1, 0x63, {0, 1, 163}},
        {{0, 1}, 0, 0, 1, 0x64, {0, 1, 100}},
        {{0, 1}, 0, 0, 1, 0xFF, {0, 1, 100}},
        {{0, 0}, 1, 0, 3, 0x02, {0, 1, 2, 3, 102, 103, 2, 3}},  // the last order's break goes to order 0
        {{1, 0}, 0, 1, 0, 0x10, {0, 100, 101}},                  // a row the pattern lacks plays as row 0
    };
    for (const Case& c : cases) {
        xm::SongSpec song = ToneSong(1, 4, 1);
        song.patterns.push_back(song.patterns[0]);
        song.patterns[1].rows = 64;
        song.orders = c.orders;
        song.restart_position = c.restart;
        if (c.break_row >= 0) Put(song, c.break_row, 0, 0, 0, 0, EFFECT_PATTERN_BREAK, c.param, c.break_pattern);
        ModulePtr module = LoadAndStart(song);
        Values positions = Trace(*module, int(c.positions.size()), [&] { return module->order * 100 + module->row; });
        EXPECT_EQ(positions, c.positions) << "break " << std::hex << int(c.param) << " restart " << c.restart;
    }
}

TEST(Sequencer, SpeedAndTempoApplyToTheRowThatSetsThem) {
    struct Case {
        uint8_t param;
        int32_t speed, frames;
    } cases[] = {{0x00, 0, 882}, {0x01, 1, 882},  {0x03, 3, 882},  {0x1F, 31, 882},
                 {0x20, 6, 3445}, {0x40, 6, 1722}, {0xFF, 6, 432}};
    for (const Case& c : cases) {
        xm::SongSpec song = ToneSong(2, 8, 6);
        Put(song, 1, 1, 0, 0, 0, EFFECT_SPEED_TEMPO, c.param);
        ModulePtr module = LoadAndStart(song);
        RunTicks(*module, 7);  // row 1's row tick
        EXPECT_EQ(module->speed, c.speed) << int(c.param);
        EXPECT_EQ(module->samples_per_tick, c.frames) << int(c.param);
        RunTicks(*module, c.speed - 1);  // speed 0 makes every tick a row tick
        EXPECT_EQ(module->row, 1) << int(c.param);
        ModuleTick(module.get());
        EXPECT_EQ(module->row, 2) << int(c.param);
    }
}

TEST(NotePitch, PeriodsWithFinetuneRelativeNoteAndTheTransposedClamp) {
    struct Case {
        uint16_t flags;
        uint8_t note;
        int8_t finetune, relative_note;
        int32_t transposed, period;
    } cases[] = {
        {1, 49, 0, 0, 48, 4608},    {1, 49, -3, 0, 48, 4609},   {1, 49, -1, 0, 48, 4608},
        {1, 49, 127, 0, 48, 4545},  {1, 49, -128, 0, 48, 4672}, {1, 49, 0, 12, 60, 3840},
        {1, 1, 0, -12, 0, 7680},    {1, 96, 0, 40, 119, 64},    {1, 96, 127, 127, 119, 1},
        {1, 1, -128, -128, 0, 7744},
        // Amiga songs: the same pitch as an Amiga period.
        {0, 49, 0, 0, 48, 1712},    {0, 61, 0, 0, 60, 856},     {0, 50, 0, 0, 49, 1616},
        {0, 49, 127, 0, 48, 1617},  {0, 49, -128, 0, 48, 1814}, {0, 1, 0, 0, 0, 27392},
        {0, 96, 0, 0, 95, 113},
    };
    for (const Case& c : cases) {
        xm::SongSpec song = ToneSong(1, 16, 1, c.flags, 64, 128, c.finetune, c.relative_note);
        Put(song, 0, 0, c.note, 1);
        ModulePtr module = LoadAndStart(song);
        ModuleTick(module.get());
        SCOPED_TRACE(testing::Message() << c.flags << " " << int(c.note) << " " << int(c.finetune) << " "
                                        << int(c.relative_note));
        EXPECT_EQ(channels[0].transposed_note, c.transposed);
        EXPECT_EQ(channels[0].period, c.period);
    }
}

TEST(RowCells, EachKindOfCellDoesItsOwnPart) {
    xm::SongSpec song = ToneSong(1, 16, 1, 1, 40, 200);  // instrument 1: volume 40, panning 200
    song.instruments.push_back(ToneSong(1, 16, 1, 1, 20, 60, 0, 12).instruments[0]);  // 2: an octave up
    Put(song, 0, 0, 49, 1);                                    // note with instrument
    Put(song, 1, 0, 0, 0, 0x20);                               // volume column alone
    Put(song, 2, 0, 53);                                       // note without instrument
    Put(song, 3, 0, 61, 2, 0, EFFECT_TONE_PORTA, 0x10);        // tone-portamento cell
    Put(song, 4, 0, 0, 2);                                     // instrument alone
    Put(song, 5, 0, 37, 0, 0, EFFECT_TONE_PORTA_VOLUME_SLIDE); // effect 5 with a note
    Put(song, 6, 0, 49, 0, 0xF0);                              // volume-column portamento with a note
    struct Row {
        int32_t period, target, volume, pan, slot, instrument_played;
        bool restarted;
    } rows[] = {
        {4608, 0, 40, 200, 0, 0, true},     {4608, 0, 16, 200, 0, 0, false},
        {4352, 0, 16, 200, 32, 0, true},    {4352, 3840, 40, 200, 32, 0, false},  // own sample's volume
        {4352, 3840, 20, 60, 32, 0, false}, {4352, 3840, 20, 60, 0, 1, true},     // no target from effect 5
        {3840, 3840, 20, 60, 0, 1, false},
    };
    ModulePtr module = LoadAndStart(song);
    const Channel& ch = channels[0];
    for (const Row& r : rows) {
        ch.voice->position = 99;
        ModuleTick(module.get());
        SCOPED_TRACE(testing::Message() << "row " << module->row);
        EXPECT_EQ(ch.period, r.period);
        EXPECT_EQ(ch.tone_porta_target, r.target);
        EXPECT_EQ((Values{ch.volume, ch.pan}), (Values{r.volume, r.pan}));
        EXPECT_EQ(ch.voice, &VoicePool[r.slot]);
        EXPECT_EQ(ch.voice->sample, module->instruments[r.instrument_played].samples[0]);
        EXPECT_EQ(ch.voice->position, r.restarted ? 0u : 99u);
    }
    EXPECT_EQ(ch.tone_porta_speed, 0x10);  // 0xF0 keeps the speed
    EXPECT_EQ(ch.voice->step_fraction, 1628971042u);
}

TEST(RowCells, NotesAndInstrumentsTheSongLacks) {
    xm::SongSpec song = ToneSong(1, 16, 1);
    Put(song, 0, 0, 49);  // no instrument yet: silent
    Put(song, 1, 0, 0, 1);
    for (int row = 2; row < 6; row++) Put(song, row, 0, 50, 0, 0x20);  // notes replaced below
    Put(song, 6, 0, 49, 5);
    ModulePtr module = LoadAndStart(song);
    EXPECT_EQ(Trace(*module, 2, [] { return channels[0].voice->volume; }), (Values{0, 127}));
    const uint8_t notes[] = {98, 128, 200, 254};  // values the file format cannot pack: no notes
    for (int i = 0; i < 4; i++) module->patterns[0].cells[2 + i].note = notes[i];
    for (uint8_t note : notes) {
        ModuleTick(module.get());
        const Channel& ch = channels[0];
        EXPECT_EQ((Values{ch.period, ch.flags & CHANNEL_TRIGGER, ch.key_off, ch.volume}), (Values{4608, 0, 0, 16}))
            << int(note);
    }
    ModuleTick(module.get());  // instrument 5 of 1: the empty sample
    EXPECT_EQ(channels[0].voice->sample, &EmptySample);
    EXPECT_EQ(channels[0].volume, 0);
}

TEST(RowCells, KeyOffReleasesUntilAnInstrumentComes) {
    xm::SongSpec song = ToneSong(1, 16, 1);
    song.instruments[0].fadeout = 1000;  // 2000 a tick
    Put(song, 0, 0, 49, 1);
    Put(song, 1, 0, 97);
    Put(song, 2, 0, 51);  // a note alone does not end the release
    Put(song, 3, 0, 0, 1);
    Put(song, 4, 0, 97, 1);  // reset first, then released
    Put(song, 5, 0, 53, 1, 0, EFFECT_KEY_OFF);  // starts and is released at once
    ModulePtr module = LoadAndStart(song);
    const Values rows[] = {{0, 65536, 127}, {1, 63536, 0}, {1, 61536, 0},  // key_off, fade_volume, voice volume
                           {0, 65536, 127}, {1, 63536, 0}, {1, 63536, 0}};
    for (const Values& expected : rows) {
        ModuleTick(module.get());
        EXPECT_EQ((Values{channels[0].key_off, channels[0].fade_volume, channels[0].voice->volume}), expected)
            << "row " << module->row;
    }
}

TEST(VolumeColumn, RowTickAndLaterTicks) {
    struct Case {
        uint8_t command, set_pan;  // set_pan: effect 8's parameter, 0 for no effect
        int32_t volume_on_row, volume_after, pan_on_row, pan_after;
    } cases[] = {
        {0x01, 0, 40, 40, 200, 200}, {0x10, 0, 0, 0, 200, 200},   {0x30, 0, 32, 32, 200, 200},
        {0x50, 0, 64, 64, 200, 200}, {0x51, 0, 40, 40, 200, 200}, {0x65, 0, 35, 10, 200, 200},
        {0x6F, 0, 25, 0, 200, 200},  {0x75, 0, 45, 64, 200, 200}, {0x85, 0, 35, 35, 200, 200},
        {0x9F, 0, 55, 55, 200, 200}, {0xA5, 0, 40, 40, 200, 200}, {0xB5, 0, 40, 40, 200, 200},
        {0xC0, 0, 40, 40, 0, 0},     {0xCF, 0, 40, 40, 240, 240}, {0xD3, 0, 40, 40, 197, 182},
        {0xEF, 0, 40, 40, 215, 290},  // the channel keeps what the voice clamps
        {0xC2, 0x30, 40, 40, 0x30, 0x30},  // effect 8 comes after the volume column
    };
    for (const Case& c : cases) {
        xm::SongSpec song = ToneSong(1, 16, 6, 1, 40, 200);
        Put(song, 0, 0, 49, 1, c.command, c.set_pan ? EFFECT_SET_PANNING : 0, c.set_pan);
        ModulePtr module = LoadAndStart(song);
        SCOPED_TRACE(testing::Message() << "volume column " << std::hex << int(c.command));
        ModuleTick(module.get());
        EXPECT_EQ((Values{channels[0].volume, channels[0].pan}), (Values{c.volume_on_row, c.pan_on_row}));
        RunTicks(*module, 5);
        EXPECT_EQ((Values{channels[0].volume, channels[0].pan}), (Values{c.volume_after, c.pan_after}));
        EXPECT_EQ(channels[0].voice->pan, c.pan_after > 255 ? 255 : c.pan_after);
    }
}

}  // namespace
