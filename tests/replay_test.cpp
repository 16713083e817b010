// The replay engine on builder songs, tick by tick, where the corpus digests do not reach: tempo, sequencer, pitch,
// kinds of cell, volume column, effects and their memories, envelopes, fade-out, the channel-to-voice update.
#include <gtest/gtest.h>

#include <vector>

#include "mixer/mixer.h"
#include "output/output.h"
#include "replay/replay.h"
#include "tests/support/xm_builder.h"

using namespace vinto;

namespace {

using Values = std::vector<int32_t>;

// A builder song reset as a playback start resets it (null when refused).
xm::ModulePtr LoadAndStart(const xm::SongSpec& song) {
    xm::ModulePtr module = xm::Loaded(song);
    EXPECT_TRUE(module && ResetPlayback(module.get())) << GetLoadError();
    return module;
}

void RunTicks(Module& module, int count) {
    for (int i = 0; i < count; i++) ModuleTick(&module);
}

xm::EnvelopeSpec Envelope(std::vector<std::pair<uint16_t, uint16_t>> points, uint8_t type, uint8_t sustain = 0,
                          uint8_t loop_start = 0, uint8_t loop_end = 0) {
    return {points, 0xFF, sustain, loop_start, loop_end, type};
}

TEST(Tempo, TickLengthsAndTheSpeedEffect) {
    // Ticks per second are rounded to single precision first: 126 bpm gives 874, not 875.
    const int32_t bpm_frames[][2] = {{126, 874}, {1, 110249}, {32767, 3}, {INT32_MAX, 1}, {0, 882}, {INT32_MIN, 882}};
    Module bare = {};
    for (const auto& c : bpm_frames) {
        SetBpm(bare, c[0]);
        EXPECT_EQ(bare.samples_per_tick, c[1]) << c[0];
    }
    // Effect 15 on row 1: below 0x20 the speed (0: every tick a row tick), from 0x20 the tempo.
    const int32_t cases[][3] = {{0x00, 0, 882}, {0x1F, 31, 882}, {0x20, 6, 3445}, {0xFF, 6, 432}};
    for (const auto& c : cases) {
        xm::SongSpec song = xm::SimpleSong(2, 8);
        song.patterns[0].At(1, 1, 2) = {0, 0, 0, EFFECT_SPEED_TEMPO, uint8_t(c[0])};
        xm::ModulePtr module = LoadAndStart(song);
        RunTicks(*module, 7);  // row 1's row tick
        const Values set = {module->speed, module->samples_per_tick};
        RunTicks(*module, c[1] - 1);  // the rest of row 1
        EXPECT_EQ((Values{set[0], set[1], module->row}), (Values{c[1], c[2], 1})) << c[0];
        ModuleTick(module.get());
        EXPECT_EQ(module->row, 2) << c[0];
    }
}

TEST(Sequencer, OrdersRowsAndPatternBreaks) {
    // Pattern 0 has 4 rows, pattern 1 64; a break D `param` on a row of a pattern (row -1: none); order x 100 + row
    // after each tick (speed 1).
    const struct { std::vector<uint8_t> orders; uint16_t restart; int pattern, row; uint8_t param; Values positions; }
        cases[] = {
        {{0, 0}, 1, 0, -1, 0, {0, 1, 2, 3, 100, 101, 102, 103, 100, 101}},  // on to the restart position
        {{0, 1}, 0, 0, 1, 0x1F, {0, 1, 125, 126}},                          // the nibbles are decimal digits
        {{0, 1}, 0, 0, 1, 0x63, {0, 1, 163}},
        {{0, 1}, 0, 0, 1, 0x64, {0, 1, 100}},
        {{0, 0}, 1, 0, 3, 0x02, {0, 1, 2, 3, 102, 103, 2, 3}},  // the last order's break goes to order 0
        {{1, 0}, 0, 1, 0, 0x10, {0, 100, 101}},                  // a row the pattern lacks plays as row 0
    };
    for (const auto& c : cases) {
        xm::SongSpec song = xm::SimpleSong(1, 4);
        song.speed = 1;
        song.patterns.push_back(song.patterns[0]);
        song.patterns[1].rows = 64;
        song.orders = c.orders;
        song.restart_position = c.restart;
        if (c.row >= 0) song.patterns[size_t(c.pattern)].At(c.row, 0, 1) = {0, 0, 0, EFFECT_PATTERN_BREAK, c.param};
        xm::ModulePtr module = LoadAndStart(song);
        Values positions(c.positions.size());
        for (int32_t& at : positions) ModuleTick(module.get()), at = module->order * 100 + module->row;
        EXPECT_EQ(positions, c.positions) << std::hex << int(c.param);
    }
}

// Cells that must play alike on two channels, tick for tick: the volume column against effects, key off as a note and
// as an effect, and a zero parameter against the remembered one written out.
TEST(EquivalentCells, PlayAlikeOnTwoChannels) {
    using C = xm::Cell;
    const struct { C a1, a2, b1, b2; } cases[] = {  // rows 1 and 2 of channels 0 and 1
        {{0, 0, 0x65}, {}, {0, 0, 0x85, 10, 0x05}, {}},  // slide down on every tick
        {{61, 0, 0, 3, 0x08}, {0, 0, 0xF3}, {61, 0, 0, 3, 0x08}, {0, 0, 0, 3, 0x30}},
        {{97}, {}, {0, 0, 0, 20, 0}, {}},
        {{0, 0, 0, 1, 0x10}, {0, 0, 0, 1, 0}, {0, 0, 0, 1, 0x10}, {0, 0, 0, 1, 0x10}},
        {{0, 0, 0, 27, 0x92}, {0, 0, 0, 27, 0}, {0, 0, 0, 27, 0x92}, {0, 0, 0, 27, 0x92}},
    };
    for (const auto& c : cases) {
        xm::SongSpec song = xm::SimpleSong(2, 4);
        song.instruments[0].volume_envelope = Envelope({{0, 64}, {4, 32}, {9, 48}}, ENVELOPE_ON | ENVELOPE_SUSTAIN, 1);
        song.instruments[0].fadeout = 3000;
        xm::PatternSpec& p = song.patterns[0];
        p.At(0, 0, 2) = p.At(0, 1, 2) = {49, 1, 0x30};
        p.At(1, 0, 2) = c.a1, p.At(2, 0, 2) = c.a2, p.At(1, 1, 2) = c.b1, p.At(2, 1, 2) = c.b2;
        xm::ModulePtr module = LoadAndStart(song);
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
int32_t EnvelopeValue() { return channels[0].volume_env.value; }
int32_t VoiceVolume() { return channels[0].voice->volume; }

// One channel (speed 6 unless the setup changes it), cells on rows 0, 1, ...: a value after tick 1, then every `every`.
TEST(Replay, TickByTick) {
    using C = xm::Cell;
    using S = xm::SongSpec;
    const uint8_t ON = ENVELOPE_ON;
    const struct { const char* what; void (*setup)(S&); std::vector<C> rows; int every; int32_t (*read)(); Values trace; } cases[] = {
        // What the corpus songs do not reach. C-4 is Amiga period 1712.
        {"no arpeggio in Amiga songs", [](S& s) { s.flags = 0; }, {{49, 1, 0, 0, 0x37}}, 1, Period, {1712, 1712, 1712}},
        {"instrument 5 of 1: the empty sample, silent", nullptr, {{49, 5}}, 1, Volume, {0}},
        {"a keymap slot past 16 (as far as the next instrument's first): the empty sample", [](S& s) {
             s.instruments.resize(2, s.instruments[0]), s.instruments[0].keymap[48] = uint8_t(sizeof(Instrument) / 8); },
         {{49, 1}}, 1, Volume, {0}},
        // The volume column (sample volume 40): set volume stops at 0x50; 0x51..0x5F and 0xAx do nothing.
        {"column 50", ToneOf40And200, {{49, 1, 0x50}}, 5, Volume, {64, 64}},
        {"column 51: nothing", ToneOf40And200, {{49, 1, 0x51}}, 5, Volume, {40, 40}},
        {"column A5: nothing", ToneOf40And200, {{49, 1, 0xA5}}, 5, Volume, {40, 40}},
        {"effect 8 comes after the column", ToneOf40And200, {{49, 1, 0xC2, EFFECT_SET_PANNING, 0x30}}, 5, Pan, {0x30, 0x30}},
        {"slide 00 with nothing to repeat", nullptr, {{49, 1, 0, 10, 0}}, 6, Volume, {64, 64}},
        // The column's slides act on every tick, the row tick too, and reach the voice each time: volume x 255 / 128
        // at full envelope, fade and global volume.
        {"column slide up from 40", ToneOf40And200, {{49, 1, 0x74}}, 1, VoiceVolume, {87, 95, 103, 111}},
        {"column slide down", nullptr, {{49, 1, 0x64}}, 1, VoiceVolume, {119, 111, 103, 95}},
        // Volume envelopes, a tick a row: a point not after the one before holds the value; an envelope starting
        // after tick 0 shows the value left from before until it gets there.
        {"envelope ticks going back hold", [](S& s) {
             s.speed = 1, s.instruments[0].volume_envelope = Envelope({{0, 64}, {4, 32}, {2, 0}, {9, 64}}, ON); },
         {{49, 1}}, 1, EnvelopeValue, {64, 56, 48, 40, 32, 32, 32, 32, 32, 32, 32, 32}},
        {"envelope from after tick 0, restarted", [](S& s) {
             s.speed = 1, s.instruments[0].volume_envelope = Envelope({{2, 32}, {6, 64}}, ON); },
         {{49, 1}, {}, {}, {}, {}, {}, {}, {}, {0, 1}}, 1, EnvelopeValue, {0, 0, 32, 40, 48, 56, 64, 64, 56, 56, 32, 40}},
    };
    for (const auto& c : cases) {
        xm::SongSpec song = xm::SimpleSong(1, 64);
        if (c.setup) c.setup(song);
        song.patterns[0].cells = c.rows;
        xm::ModulePtr module = LoadAndStart(song);
        Values trace;
        for (size_t k = 0; k < c.trace.size(); k++) RunTicks(*module, k ? c.every : 1), trace.push_back(c.read());
        EXPECT_EQ(trace, c.trace) << c.what;
    }
}

TEST(Effects, PeriodsSaturateInsteadOfOverflowing) {
    xm::SongSpec song = xm::SimpleSong(1, 16);
    song.patterns[0].cells = {{49, 1, 0, EFFECT_PORTA_DOWN, 0xFF}, {0, 0, 0, EFFECT_PORTA_UP, 0xFF},
                              {0, 0, 0, EFFECT_TONE_PORTA, 0xFF}};  // rows 0, 1 and 2
    xm::ModulePtr module = LoadAndStart(song);
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
    // Interval y on the ticks it divides (none from the speed on; 0 takes the last), volume code x each time:
    // -1 .. -16, x2/3, x1/2, +1 .. +16, x3/2, x2, within 0..64; 0 and 8 leave it.
    const struct { uint8_t first, second; Values volumes, triggers; } cases[] = {  // ticks 1..5 of row 1
        {0x31, 0x31, {40, 36, 32, 28, 24}, {1, 1, 1, 1, 1}}, {0x03, 0x03, {64, 64, 64, 64, 64}, {0, 0, 1, 0, 0}},
        {0x06, 0x06, {64, 64, 64, 64, 64}, {0, 0, 0, 0, 0}}, {0x72, 0x00, {16, 8, 8, 4, 4}, {0, 1, 0, 1, 0}},
        {0x61, 0x61, {5, 3, 2, 1, 0}, {1, 1, 1, 1, 1}},      {0x71, 0xF1, {4, 8, 16, 32, 64}, {1, 1, 1, 1, 1}},
        {0x71, 0xE1, {3, 4, 6, 9, 13}, {1, 1, 1, 1, 1}},     {0x51, 0xD1, {16, 32, 48, 64, 64}, {1, 1, 1, 1, 1}},
        {0x11, 0x41, {51, 43, 35, 27, 19}, {1, 1, 1, 1, 1}}, {0x51, 0x91, {1, 2, 3, 4, 5}, {1, 1, 1, 1, 1}},
        {0x41, 0x81, {24, 24, 24, 24, 24}, {1, 1, 1, 1, 1}},
    };
    for (const auto& c : cases) {
        xm::SongSpec song = xm::SimpleSong(1, 16);
        song.patterns[0].cells = {{49, 1, 0, EFFECT_MULTI_RETRIGGER, c.first},  // rows 0 and 1
                                  {0, 0, 0, EFFECT_MULTI_RETRIGGER, c.second}};
        xm::ModulePtr module = LoadAndStart(song);
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

// The channel-to-voice update alone: 8363 x 2^((4608 - period + offset) / 768) Hz (Amiga: 14317056 / period), at
// least 100 Hz, as a 32.32 step at 44100 Hz (a period sum of 0 changes nothing); volume x envelope x fade x global
// x 255 / 2^35 with the fade product in single precision; the envelope moving the panning by up to
// (128 - |pan - 128|) / 32 a step, within 0..255.
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
