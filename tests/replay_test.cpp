// The replay engine on builder songs, tick by tick: tempo and the sequencer,
// note pitch, the kinds of cell, the volume column, the effects with their
// remembered parameters, envelopes and fade-out, and the channel-to-voice update.
#include "tests/replay_harness.h"

using namespace replay_test;

namespace {

xm::EnvelopeSpec Envelope(std::vector<std::pair<uint16_t, uint16_t>> points, uint8_t type, uint8_t sustain = 0,
                          uint8_t loop_start = 0, uint8_t loop_end = 0) {
    return {points, 0xFF, sustain, loop_start, loop_end, type};
}

TEST(Tempo, TickLengthsAndTheSpeedEffect) {
    // Ticks per second are rounded to single precision first: 126 bpm gives 874, not 875.
    const int32_t bpm_frames[][2] = {{126, 874}, {125, 882}, {32, 3445}, {255, 432}, {1, 110249},
                                     {32767, 3}, {INT32_MAX, 1}, {0, 882}, {INT32_MIN, 882}};
    Module bare = {};
    for (const auto& c : bpm_frames) {
        SetBpm(bare, c[0]);
        EXPECT_EQ(bare.samples_per_tick, c[1]) << c[0];
    }
    // Effect 15 on row 1: below 0x20 the speed (0: every tick a row tick), from 0x20 the tempo.
    const int32_t cases[][3] = {{0x00, 0, 882}, {0x1F, 31, 882}, {0x20, 6, 3445}, {0xFF, 6, 432}};
    for (const auto& c : cases) {
        xm::SongSpec song = ToneSong(2, 8);
        Put(song, 1, 1, 0, 0, 0, EFFECT_SPEED_TEMPO, uint8_t(c[0]));
        ModulePtr module = LoadAndStart(song);
        RunTicks(*module, 7);  // row 1's row tick
        const Values set = {module->speed, module->samples_per_tick};
        RunTicks(*module, c[1] - 1);  // the rest of row 1
        EXPECT_EQ((Values{set[0], set[1], module->row}), (Values{c[1], c[2], 1})) << c[0];
        ModuleTick(module.get());
        EXPECT_EQ(module->row, 2) << c[0];
    }
}

TEST(Sequencer, OrdersRowsAndPatternBreaks) {
    struct Case {
        std::vector<uint8_t> orders;
        uint16_t restart;
        int break_pattern, break_row;  // pattern 0 has 4 rows, pattern 1 64
        uint8_t param;
        Values positions;  // order x 100 + row after each tick (speed 1)
    } cases[] = {
        {{0, 0}, 1, 0, -1, 0, {0, 1, 2, 3, 100, 101, 102, 103, 100, 101}},  // on to the restart position
        {{0, 1}, 0, 0, 1, 0x1F, {0, 1, 125, 126}},                          // the nibbles are decimal digits
        {{0, 1}, 0, 0, 1, 0x63, {0, 1, 163}},
        {{0, 1}, 0, 0, 1, 0x64, {0, 1, 100}},
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
        EXPECT_EQ(Trace(*module, int(c.positions.size()), [&] { return module->order * 100 + module->row; }),
                  c.positions) << std::hex << int(c.param);
    }
}

TEST(RowCells, EachKindOfCellDoesItsOwnPart) {
    xm::SongSpec song = ToneSong(1, 16, 1, 1, 40, 200);  // instrument 1: volume 40, panning 200
    song.instruments.push_back(ToneSong(1, 16, 1, 1, 20, 60, 0, 12).instruments[0]);  // 2: an octave up
    Put(song, 0, 0, 49, 1);                                     // note with instrument
    Put(song, 1, 0, 0, 0, 0x20);                                // volume column alone
    Put(song, 2, 0, 53);                                        // note without instrument
    Put(song, 3, 0, 61, 2, 0, EFFECT_TONE_PORTA, 0x10);         // tone-portamento cell
    Put(song, 4, 0, 0, 2);                                      // instrument alone
    Put(song, 5, 0, 37, 0, 0, EFFECT_TONE_PORTA_VOLUME_SLIDE);  // effect 5 with a note
    Put(song, 6, 0, 49, 0, 0xF0);                               // volume-column portamento with a note
    Put(song, 7, 0, 98, 0, 0x20);                               // 98 is no note
    Put(song, 8, 0, 49, 5);                                     // instrument 5 of 2: the empty sample
    const Values rows[] = {  // period, target, volume, pan, voice slot, instrument played, restarted
        {4608, 0, 40, 200, 0, 0, 1},     {4608, 0, 16, 200, 0, 0, 0},     {4352, 0, 16, 200, 32, 0, 1},
        {4352, 3840, 40, 200, 32, 0, 0}, {4352, 3840, 20, 60, 32, 0, 0},  {4352, 3840, 20, 60, 0, 1, 1},
        {3840, 3840, 20, 60, 0, 1, 0},   {3840, 3840, 16, 60, 0, 1, 0},   {4608, 3840, 0, 0, 32, -1, 1}};
    ModulePtr module = LoadAndStart(song);
    const Channel& ch = channels[0];
    for (const Values& r : rows) {
        ch.voice->position = 99;
        ModuleTick(module.get());
        const Sample* played = r[5] < 0 ? &EmptySample : module->instruments[r[5]].samples[0];
        EXPECT_EQ((Values{ch.period, ch.tone_porta_target, ch.volume, ch.pan, ch.voice->index,
                          ch.voice->sample == played, int32_t(ch.voice->position) != 99}),
                  (Values{r[0], r[1], r[2], r[3], r[4], 1, r[6]})) << "row " << module->row;
    }
    EXPECT_EQ(ch.tone_porta_speed, 0x10);  // 0xF0 keeps the speed
}

// Cells that must play alike on two channels, tick for tick: the volume
// column against effects, key off as a note and as an effect, and a zero
// parameter against the remembered one written out.
TEST(EquivalentCells, PlayAlikeOnTwoChannels) {
    using C = xm::Cell;
    const struct { C a1, a2, b1, b2; } cases[] = {  // rows 1 and 2 of channels 0 and 1
        {{0, 0, 0x65}, {}, {0, 0, 0x85, 10, 0x05}, {}},  // slide down on every tick
        {{0, 0, 0x73}, {}, {0, 0, 0x93, 10, 0x30}, {}},
        {{0, 0, 0xC8}, {}, {0, 0, 0, 8, 0x80}, {}},
        {{61, 0, 0, 3, 0x08}, {0, 0, 0xF3}, {61, 0, 0, 3, 0x08}, {0, 0, 0, 3, 0x30}},
        {{97}, {}, {0, 0, 0, 20, 0}, {}},
        {{0, 0, 0, 1, 0x10}, {0, 0, 0, 1, 0}, {0, 0, 0, 1, 0x10}, {0, 0, 0, 1, 0x10}},
        {{0, 0, 0, 27, 0x92}, {0, 0, 0, 27, 0}, {0, 0, 0, 27, 0x92}, {0, 0, 0, 27, 0x92}},
    };
    for (const auto& c : cases) {
        xm::SongSpec song = ToneSong(2, 4);
        song.instruments[0].volume_envelope = Envelope({{0, 64}, {4, 32}, {9, 48}}, ENVELOPE_ON | ENVELOPE_SUSTAIN, 1);
        song.instruments[0].fadeout = 3000;
        for (int ch : {0, 1}) Put(song, 0, ch, 49, 1, 0x30);
        song.patterns[0].At(1, 0, 2) = c.a1, song.patterns[0].At(2, 0, 2) = c.a2;
        song.patterns[0].At(1, 1, 2) = c.b1, song.patterns[0].At(2, 1, 2) = c.b2;
        ModulePtr module = LoadAndStart(song);
        for (int tick = 0; tick < 24; tick++) {
            ModuleTick(module.get());
            Values sides[2];
            for (int i : {0, 1}) {
                const Channel& ch = channels[i];
                const Voice& v = *ch.voice;
                sides[i] = {ch.period, ch.volume, ch.pan, ch.key_off, ch.fade_volume, v.volume, v.left_gain,
                            v.right_gain, int32_t(v.step_fraction), int32_t(v.position), v.index % 32 - i};
            }
            ASSERT_EQ(sides[0], sides[1]) << "tick " << tick << ", row 1: " << int(c.a1.volume) << " / "
                                          << int(c.b1.effect) << " " << int(c.b1.param);
        }
    }
}

void ToneOf40And200(xm::SongSpec& s) { s.instruments[0].samples[0].volume = 40, s.instruments[0].samples[0].pan = 200; }

int32_t Period() { return channels[0].period; }
int32_t Volume() { return channels[0].volume; }
int32_t Pan() { return channels[0].pan; }
int32_t Fade() { return channels[0].fade_volume; }
int32_t VoicePan() { return channels[0].voice->pan; }
int32_t EnvelopeValue() { return channels[0].volume_env.value; }

// One channel of the tone song (speed 6, unless the setup changes it), cells on
// rows 0, 1, ...: a value read after the first tick, then after every `every` ticks.
TEST(Replay, TickByTick) {
    using C = xm::Cell;
    using S = xm::SongSpec;
    const uint8_t ON = ENVELOPE_ON, SUSTAIN = ENVELOPE_SUSTAIN, LOOP = ENVELOPE_LOOP;
    const struct { const char* what; void (*setup)(S&); std::vector<C> rows; int every; int32_t (*read)(); Values trace; } cases[] = {
        // Note periods: 7680 - 64 x (note - 1 + relative, held in 0..119) - finetune / 2 (truncated); Amiga: the
        // same pitch as an Amiga period, 1712 at linear 4608.
        {"finetune -3", [](S& s) { s.instruments[0].samples[0].finetune = -3; }, {{49, 1}}, 1, Period, {4609}},
        {"highest", [](S& s) { s.instruments[0].samples[0].finetune = s.instruments[0].samples[0].relative_note = 127; },
         {{96, 1}}, 1, Period, {1}},
        {"lowest", [](S& s) { s.instruments[0].samples[0].finetune = s.instruments[0].samples[0].relative_note = -128; },
         {{1, 1}}, 1, Period, {7744}},
        {"Amiga", [](S& s) { s.flags = 0; }, {{61, 1}, {96, 1}}, 6, Period, {856, 113}},
        {"Amiga finetune -128", [](S& s) { s.flags = 0, s.instruments[0].samples[0].finetune = -128; }, {{49, 1}}, 1,
         Period, {1814}},
        {"no arpeggio in Amiga songs", [](S& s) { s.flags = 0; }, {{49, 1, 0, 0, 0x37}}, 1, Period, {1712, 1712, 1712}},
        // Key off releases until an instrument comes: no instrument yet, a note alone, an instrument alone, both.
        {"key off, fade 2000 a tick", [](S& s) { s.speed = 1, s.instruments[0].fadeout = 1000; },
         {{49}, {49, 1}, {97}, {51}, {0, 1}, {97, 1}, {53, 1, 0, EFFECT_KEY_OFF}}, 1, Fade,
         {0, 65536, 63536, 61536, 65536, 63536, 63536}},
        // The volume column on the row tick and 5 ticks later (sample volume 40, panning 200).
        {"column 10", ToneOf40And200, {{49, 1, 0x10}}, 5, Volume, {0, 0}},
        {"column 50", ToneOf40And200, {{49, 1, 0x50}}, 5, Volume, {64, 64}},
        {"column 51: nothing", ToneOf40And200, {{49, 1, 0x51}}, 5, Volume, {40, 40}},
        {"column A5: nothing", ToneOf40And200, {{49, 1, 0xA5}}, 5, Volume, {40, 40}},
        {"column D3", ToneOf40And200, {{49, 1, 0xD3}}, 5, Pan, {197, 182}},
        {"column EF: the channel keeps what the voice clamps", ToneOf40And200, {{49, 1, 0xEF}}, 5, Pan, {215, 290}},
        {"column EF, voice", ToneOf40And200, {{49, 1, 0xEF}}, 5, VoicePan, {215, 255}},
        {"effect 8 comes after the column", ToneOf40And200, {{49, 1, 0xC2, EFFECT_SET_PANNING, 0x30}}, 5, Pan, {0x30, 0x30}},
        // Effects between rows, a zero parameter repeating the last.
        {"portamento up: 4 x 0x14 a tick, remembered, stopped at 56", nullptr,
         {{49, 1, 0, 1, 0x14}, {0, 0, 0, 1, 0}, {96, 1, 0, 1, 0xFF}}, 1, Period,
         {4608, 4528, 4448, 4368, 4288, 4208, 4208, 4128, 4048, 3968, 3888, 3808, 1600, 580, 56, 56}},
        {"slide 00 with nothing to repeat", nullptr, {{49, 1, 0, 10, 0}}, 6, Volume, {64, 64}},
        {"slide 0F", nullptr, {{49, 1, 0, 10, 0x0F}, {0, 0, 0, 10, 0}}, 6, Volume, {64, 0, 0}},
        {"slide 1F: the high nibble", nullptr, {{49, 1, 0, 10, 0x1F}, {0, 0, 0, 10, 0}}, 6, Volume, {64, 64, 64}},
        // Volume envelopes, a tick a row: sustain until released (a key off on row 8), loops also after it.
        {"envelope sustain", [](S& s) { s.speed = 1, s.instruments[0].volume_envelope = Envelope({{0, 0}, {4, 64}, {8, 32}}, ON | SUSTAIN, 1); },
         {{49, 1}, {}, {}, {}, {}, {}, {}, {}, {97}}, 1, EnvelopeValue, {0, 16, 32, 48, 64, 64, 64, 64, 64, 56, 48, 40, 32, 32}},
        {"envelope loop", [](S& s) { s.speed = 1, s.instruments[0].volume_envelope = Envelope({{0, 64}, {4, 32}, {8, 64}}, ON | LOOP, 0, 0, 2); },
         {{49, 1}, {}, {}, {}, {}, {}, {}, {}, {}, {}, {97}}, 1, EnvelopeValue,
         {64, 56, 48, 40, 32, 40, 48, 56, 64, 56, 48, 40, 32, 40, 48, 56, 64}},
        {"envelope ticks going back hold", [](S& s) {
             s.speed = 1, s.instruments[0].volume_envelope = Envelope({{0, 64}, {4, 32}, {2, 0}, {9, 64}}, ON); },
         {{49, 1}}, 1, EnvelopeValue, {64, 56, 48, 40, 32, 32, 32, 32, 32, 32, 32, 32}},
        {"envelope from after tick 0, restarted: the value left from before", [](S& s) {
             s.speed = 1, s.instruments[0].volume_envelope = Envelope({{2, 32}, {6, 64}}, ON); },
         {{49, 1}, {}, {}, {}, {}, {}, {}, {}, {0, 1}}, 1, EnvelopeValue, {0, 0, 32, 40, 48, 56, 64, 64, 56, 56, 32, 40}},
    };
    for (const auto& c : cases) {
        xm::SongSpec song = ToneSong(1, 64);
        if (c.setup) c.setup(song);
        for (size_t row = 0; row < c.rows.size(); row++) song.patterns[0].At(int(row), 0, 1) = c.rows[row];
        ModulePtr module = LoadAndStart(song);
        Values trace;
        for (size_t k = 0; k < c.trace.size(); k++) RunTicks(*module, k ? c.every : 1), trace.push_back(c.read());
        EXPECT_EQ(trace, c.trace) << c.what;
    }
}

TEST(Effects, PeriodsSaturateInsteadOfOverflowing) {
    xm::SongSpec song = ToneSong();
    Put(song, 0, 0, 49, 1, 0, EFFECT_PORTA_DOWN, 0xFF);
    Put(song, 1, 0, 0, 0, 0, EFFECT_PORTA_UP, 0xFF);
    Put(song, 2, 0, 0, 0, 0, EFFECT_TONE_PORTA, 0xFF);
    ModulePtr module = LoadAndStart(song);
    Channel& ch = channels[0];
    const int32_t starts[][2] = {{INT32_MAX - 1000, 6}, {INT32_MIN + 1000, 6}, {INT32_MAX - 5, 1}, {INT32_MIN + 5, 1}};
    const int32_t ends[] = {INT32_MAX, PERIOD_MIN, INT32_MAX, INT32_MIN};  // tone portamento to the extremes last
    ModuleTick(module.get());
    for (int k = 0; k < 4; k++) {
        ch.period = starts[k][0];
        if (k >= 2) ch.tone_porta_target = ends[k];
        RunTicks(*module, starts[k][1]);
        EXPECT_EQ(ch.period, ends[k]) << k;
    }
}

TEST(MultiRetrigger, IntervalsVolumeCodesAndTheTwinSlot) {
    const struct { uint8_t first, second; Values volumes, triggers; } cases[] = {  // ticks 1..5 of row 1
        {0x31, 0x31, {40, 36, 32, 28, 24}, {1, 1, 1, 1, 1}}, {0x03, 0x03, {64, 64, 64, 64, 64}, {0, 0, 1, 0, 0}},
        {0x06, 0x06, {64, 64, 64, 64, 64}, {0, 0, 0, 0, 0}}, {0x72, 0x00, {16, 8, 8, 4, 4}, {0, 1, 0, 1, 0}},
        {0x61, 0x61, {5, 3, 2, 1, 0}, {1, 1, 1, 1, 1}},      {0x71, 0xF1, {4, 8, 16, 32, 64}, {1, 1, 1, 1, 1}},
        {0x71, 0xE1, {3, 4, 6, 9, 13}, {1, 1, 1, 1, 1}},     {0x51, 0xD1, {16, 32, 48, 64, 64}, {1, 1, 1, 1, 1}},
        {0x21, 0x21, {52, 50, 48, 46, 44}, {1, 1, 1, 1, 1}}, {0x11, 0x41, {51, 43, 35, 27, 19}, {1, 1, 1, 1, 1}},
        {0x51, 0x91, {1, 2, 3, 4, 5}, {1, 1, 1, 1, 1}},      {0x41, 0xA1, {26, 28, 30, 32, 34}, {1, 1, 1, 1, 1}},
        {0x41, 0xB1, {28, 32, 36, 40, 44}, {1, 1, 1, 1, 1}}, {0x41, 0xC1, {32, 40, 48, 56, 64}, {1, 1, 1, 1, 1}},
        {0x41, 0x81, {24, 24, 24, 24, 24}, {1, 1, 1, 1, 1}},  // code 8 leaves the volume
    };
    for (const auto& c : cases) {
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

// The channel-to-voice update alone: 8363 x 2^((4608 - period + offset) / 768)
// Hz (Amiga: 14317056 / period), at least 100 Hz, as a 32.32 step at 44100 Hz
// (a period sum of 0 changes nothing); volume x envelope x fade x global x 255
// / 2^35 with the fade product in single precision; the envelope moving the
// panning by up to (128 - |pan - 128|) / 32 a step, within 0..255.
TEST(VoiceUpdate, StepVolumeAndPanning) {
    Module module = {};
    Channel channel = {};
    Sample sample = {};
    auto apply = [&](uint8_t flags) -> const Voice& {
        channel.flags = flags;
        ApplyChannelToVoice(channel, &sample, module);
        return *channel.voice;
    };
    const int64_t steps[][4] = {  // linear, period, offset; step (100 Hz: 9739154)
        {1, 4800, 192, 814485521}, {1, 9999, 0, 9739154}, {0, -428, 0, 9739154}, {1, INT32_MAX, INT32_MIN, 9739154},
        {1, INT32_MIN, INT32_MAX, 48695ll << 32 | 3325629212u}, {1, 100, -100, 1ll << 32}, {0, 428, -428, 1ll << 32}};
    for (const auto& c : steps) {
        ResetVoicePool();  // a step of 1.0
        channel.voice = &VoicePool[3];
        module.flags = uint16_t(c[0]), channel.period = int32_t(c[1]), channel.period_offset = int32_t(c[2]);
        const Voice& v = apply(CHANNEL_FREQ);
        EXPECT_EQ(int64_t(v.step_integer) << 32 | v.step_fraction, c[3]) << c[0] << " " << c[1] << " " << c[2];
    }
    for (int32_t octave = 0, hz = 8363; octave < 8; octave++, hz *= 2) EXPECT_EQ(LinearFrequency(4608 - 768 * octave, 0), hz);
    const int32_t volumes[][8] = {  // volume, envelope, fade, global, pan; voice volume, left and right gain
        {64, 64, 65535, 64, 255, 127, 127, 0}, {17, 51, 63137, 64, 64, 26, 6, 19}, {64, 64, 65536, 0, 128, 0, 0, 0}};
    for (const auto& c : volumes) {
        channel.volume = c[0], channel.volume_env.value = c[1], channel.fade_volume = c[2];
        module.global_volume = c[3], channel.voice->pan = c[4];
        const Voice& v = apply(CHANNEL_VOLUME);
        EXPECT_EQ((Values{v.volume, v.left_gain, v.right_gain}), (Values{c[5], c[6], c[7]})) << c[0] << " " << c[2];
    }
    const int32_t pans[][3] = {{128, 64, 255}, {100, 0, 4}, {129, 64, 225}, {161, 0, 97}, {300, 32, 255}, {-40, 64, 0},
                               {INT32_MIN, 64, 0}};  // pan, envelope; voice pan
    channel.voice->volume = 100;
    for (const auto& c : pans) {
        channel.pan = c[0], channel.pan_env.value = c[1];
        const Voice& v = apply(CHANNEL_PAN);
        EXPECT_EQ((Values{v.pan, v.left_gain, v.right_gain}), (Values{c[2], 100 * c[2] / 255, 100 * (255 - c[2]) / 255}))
            << c[0] << " " << c[1];
    }
}

}  // namespace
