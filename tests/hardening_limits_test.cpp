// Each point the format leaves open, played end to end: the loader's clamp or
// the replay's limit, then offline rendering with every record checked.
#include <gtest/gtest.h>

#include "mixer/mixer.h"
#include "module/module.h"
#include "replay/replay.h"
#include "tests/hardening_check.h"
#include "tests/support/xm_builder.h"

namespace {

using hardening::ModulePtr;
using hardening::Play;
using xm::Cell;

constexpr int SECOND = 50;  // blocks of 884 frames, about one second

Cell& At(xm::SongSpec& song, int pattern, int row, int channel) {
    return song.patterns[size_t(pattern)].At(row, channel, song.channels);
}

// 1 / 44100 of the 100 Hz floor, as the 32.32 step the voice gets.
uint64_t Step(const Voice& v) { return uint64_t(v.step_integer) << 32 | v.step_fraction; }
uint64_t StepOf(uint32_t hz) {
    return uint64_t(hz / 44100) << 32 | uint32_t((uint64_t(hz % 44100) << 32) / 44100);
}

TEST(PatternBreak, ToARowTheNextPatternLacksPlaysItsFirstRow) {
    // Order 0 (4 rows) breaks to row 63 and, on its next pass, to "99"
    // (above 63: row 0); order 1 has 2 rows.
    xm::SongSpec song = xm::SimpleSong(2, 4);
    At(song, 0, 1, 0) = Cell{49, 1, 0, 13, 0x63};
    xm::PatternSpec two;
    two.rows = 2;
    song.patterns.push_back(two);
    At(song, 1, 1, 1) = Cell{0, 0, 0, 13, 0x99};
    song.orders = {0, 1};
    song.speed = 1;
    ModulePtr module(xm::Load(song));
    ASSERT_NE(module, nullptr) << GetLoadError();
    auto report = Play(module.get(), 3 * SECOND);
    EXPECT_EQ(report.faults, "");
    EXPECT_GT(report.moves, 20u);
    // Reached only through the breaks: rows 0-1 of order 0, rows 0-1 of order 1.
    EXPECT_EQ(report.positions, 4u);
    EXPECT_GE(report.loops, 10u);
}

TEST(Notes, BeyondTheKeymapOrItsSamplesPlayNothing) {
    // Against a control that sounds, so silence means the note was refused.
    struct Case {
        const char* what;
        uint8_t note;
        uint8_t keymap_entry;
        bool sounds;
    } cases[] = {
        {"control", 49, 0, true},
        {"note 98", 98, 0, false},
        {"note 200", 200, 0, false},
        {"note 254", 254, 0, false},
        {"keymap slot 1 of a one-sample instrument", 49, 1, false},
        {"keymap slot 15", 49, 15, false},
        {"keymap slot 200", 49, 200, false},
    };
    for (const Case& c : cases) {
        xm::SongSpec song = xm::SimpleSong(2, 8);
        song.instruments[0].keymap[48] = c.keymap_entry;
        At(song, 0, 0, 0) = Cell{c.note, 1, 0, 0, 0};
        At(song, 0, 2, 1) = Cell{c.note, 1, 0, 1, 0x10};
        At(song, 0, 4, 1) = Cell{c.note, 2, 0, 27, 0x11};  // instrument 2 does not exist
        ModulePtr module(xm::Load(song));
        ASSERT_NE(module, nullptr) << c.what;
        auto report = Play(module.get(), SECOND);
        EXPECT_EQ(report.faults, "") << c.what;
        EXPECT_EQ(report.nonzero_values > 0, c.sounds) << c.what;
    }
}

TEST(Envelopes, BrokenPointListsPlayWithinTheirRange) {
    struct Case {
        const char* what;
        xm::EnvelopeSpec envelope;
    };
    auto envelope = [](std::vector<std::pair<uint16_t, uint16_t>> points, uint8_t count, uint8_t type,
                       uint8_t sustain, uint8_t loop_start, uint8_t loop_end) {
        xm::EnvelopeSpec e;
        e.points = points;
        e.point_count = count;
        e.type = type;
        e.sustain = sustain;
        e.loop_start = loop_start;
        e.loop_end = loop_end;
        return e;
    };
    const Case cases[] = {
        {"decreasing ticks", envelope({{10, 64}, {5, 0}, {0, 40}, {3, 20}}, 4, 1, 0, 0, 0)},
        {"equal ticks looping", envelope({{0, 64}, {0, 0}, {0, 64}}, 3, 1 | 4, 0, 0, 2)},
        {"indices beyond the points", envelope({{0, 0}, {8, 64}}, 2, 1 | 2 | 4, 90, 30, 200)},
        {"loop start after loop end", envelope({{0, 0}, {4, 64}, {8, 0}}, 3, 1 | 4, 0, 2, 1)},
        {"200 points declared", envelope({{0, 0}, {4, 64}, {8, 0}}, 200, 1 | 4, 0, 0, 11)},
        {"values beyond 64", envelope({{0, 65535}, {2, 40000}, {4, 0}}, 3, 1, 0, 0, 0)},
        {"last tick 65535", envelope({{0, 64}, {65535, 0}}, 2, 1, 0, 0, 0)},
        {"one point", envelope({{0, 32}}, 1, 7, 0, 0, 0)},
    };
    for (const Case& c : cases) {
        xm::SongSpec song = xm::SimpleSong(2, 16);
        song.instruments[0].volume_envelope = c.envelope;
        song.instruments[0].pan_envelope = c.envelope;
        song.instruments[0].fadeout = 0xFFFF;
        At(song, 0, 0, 0) = Cell{49, 1, 0, 0, 0};
        At(song, 0, 0, 1) = Cell{52, 1, 0, 0, 0};
        At(song, 0, 6, 1) = Cell{97, 0, 0, 0, 0};  // released: sustain ends, fade runs out
        ModulePtr module(xm::Load(song));
        ASSERT_NE(module, nullptr) << c.what;
        auto report = Play(module.get(), SECOND);  // to row 8 of the first pass
        EXPECT_EQ(report.faults, "") << c.what;
        const Instrument& in = module->instruments[0];
        EXPECT_LE(channels[0].volume_env.point, int32_t(in.volume_point_count)) << c.what;
        EXPECT_LE(channels[1].pan_env.point, int32_t(in.pan_point_count)) << c.what;
        EXPECT_EQ(channels[1].fade_volume, 0) << c.what;
    }
}

TEST(Portamento, WithoutBoundEndsAtThePitchLimits) {
    // Speed 31 and parameter FF on every row: 31 x 4 x 255 period units per
    // row, long past anything audible, in both frequency modes.
    for (uint16_t flags : {uint16_t(1), uint16_t(0)}) {
        xm::SongSpec song = xm::SimpleSong(2, 64);
        song.flags = flags;
        song.speed = 31;
        At(song, 0, 0, 0) = Cell{60, 1, 0, 2, 0xFF};
        At(song, 0, 0, 1) = Cell{60, 1, 0, 1, 0xFF};
        for (int r = 1; r < 64; r++) {
            At(song, 0, r, 0) = Cell{0, 0, 0, 2, uint8_t(r % 2 ? 0 : 0xFF)};  // 0 reuses FF
            At(song, 0, r, 1) = Cell{0, 0, 0, 1, 0xFF};
        }
        ModulePtr module(xm::Load(song));
        ASSERT_NE(module, nullptr);
        auto report = Play(module.get(), 10 * SECOND);
        EXPECT_EQ(report.faults, "") << "flags " << flags;
        // Downwards: the period only grows and the pitch rests at 100 Hz.
        EXPECT_GT(channels[0].period, 7680 + 100000) << "flags " << flags;
        EXPECT_EQ(Step(*channels[0].voice), StepOf(100)) << "flags " << flags;
        // Upwards: period 56, 508 kHz (linear) or 14317056 / 56 Hz (Amiga).
        EXPECT_EQ(channels[1].period, PERIOD_MIN) << "flags " << flags;
        uint32_t top = flags ? uint32_t(LinearFrequency(PERIOD_MIN, 0)) : 14317056u / PERIOD_MIN;
        EXPECT_EQ(Step(*channels[1].voice), StepOf(top)) << "flags " << flags;
    }
}

TEST(SampleLoops, OutsideTheSampleStayInsideWhilePlaying) {
    struct Case {
        const char* what;
        bool sixteen_bit;
        uint8_t type;
        uint32_t length, loop_start, loop_length;  // bytes, as in the file
    } cases[] = {
        {"forward loop starting past the end", false, 1, 32, 40, 10},
        {"forward loop running past the end", false, 1, 32, 20, 1000},
        {"ping-pong loop of 2^32 - 16 bytes", true, 2, 64, 8, 0xFFFFFFF0u},
        {"ping-pong loop of one frame at the end", false, 2, 16, 15, 1},
        {"ping-pong loop over the whole sample", false, 2, 16, 0, 16},
        {"both loop bits", false, 3, 24, 4, 8},
        {"odd 16-bit sizes", true, 1, 63, 9, 33},
        {"loop of one byte in 16 bits", true, 1, 64, 10, 1},
        {"sample of one frame looping", false, 2, 1, 0, 1},
    };
    for (const Case& c : cases) {
        xm::SongSpec song = xm::SimpleSong(2, 16);
        xm::SampleSpec& s = song.instruments[0].samples[0];
        s.sixteen_bit = c.sixteen_bit;
        s.pcm.assign(c.length / (c.sixteen_bit ? 2 : 1), c.sixteen_bit ? 20000 : 100);
        s.loop_type = c.type;
        s.raw_sizes = true;
        s.raw_length = c.length;
        s.raw_loop_start = c.loop_start;
        s.raw_loop_length = c.loop_length;
        // High and low notes: many loop passes per block, and slow ones.
        At(song, 0, 0, 0) = Cell{96, 1, 0, 0, 0};
        At(song, 0, 0, 1) = Cell{1, 1, 0, 0, 0};
        At(song, 0, 8, 0) = Cell{70, 1, 0, 0, 0};
        ModulePtr module(xm::Load(song));
        ASSERT_NE(module, nullptr) << c.what;
        auto report = Play(module.get(), SECOND);
        EXPECT_EQ(report.faults, "") << c.what;
        EXPECT_GT(report.nonzero_values, 0u) << c.what;
    }
}

TEST(Sizes, ZeroAndExtremeValuesStillGiveTicksOfFrames) {
    struct Case {
        const char* what;
        uint16_t speed, bpm;
        int32_t expected_samples_per_tick;  // at the start; 0: not checked
    } cases[] = {
        {"tempo 0", 6, 0, 882},
        {"tempo 65535 (negative as stored)", 6, 0xFFFF, 882},
        {"tempo 32767", 6, 0x7FFF, 3},
        {"tempo 1 (0.4 ticks a second, in single precision)", 6, 1, 110249},
        {"speed 0", 0, 125, 882},
        {"speed 65535", 0xFFFF, 125, 882},
        {"speed 32767", 0x7FFF, 125, 882},
    };
    for (const Case& c : cases) {
        xm::SongSpec song = xm::SimpleSong(4, 8);
        song.speed = c.speed;
        song.bpm = c.bpm;
        At(song, 0, 0, 0) = Cell{49, 1, 0, 0, 0};
        At(song, 0, 3, 1) = Cell{49, 1, 0, 15, 0x20};  // tempo 32 on row 3
        At(song, 0, 5, 2) = Cell{49, 1, 0, 15, 0x00};  // speed 0 on row 5
        ModulePtr module(xm::Load(song));
        ASSERT_NE(module, nullptr) << c.what;
        ASSERT_TRUE(StartRendering(module.get()));
        EXPECT_EQ(module->samples_per_tick, c.expected_samples_per_tick) << c.what;
        auto report = Play(module.get(), 2 * SECOND);
        EXPECT_EQ(report.faults, "") << c.what;
        // Song time follows the frames (each slice drops its fraction of a millisecond).
        EXPECT_GE(report.time_ms, 2 * SECOND * 10u) << c.what;
    }
}

TEST(Sizes, EmptyPatternsSamplesAndInstrumentsPlayAsSilence) {
    xm::SongSpec song = xm::SimpleSong(3, 4);
    xm::PatternSpec no_rows;
    no_rows.rows = 0;  // kept as 64 empty rows
    song.patterns.push_back(no_rows);
    song.orders = {1, 0, 5};  // pattern 5 is neither stored nor declared: 64 empty rows
    xm::InstrumentSpec no_samples;
    song.instruments.push_back(no_samples);
    xm::InstrumentSpec empty_sample;
    empty_sample.samples.push_back(xm::SampleSpec{});
    empty_sample.samples[0].loop_type = xm::FORWARD_LOOP;
    song.instruments.push_back(empty_sample);
    At(song, 0, 0, 0) = Cell{49, 2, 0, 0, 0};
    At(song, 0, 1, 1) = Cell{49, 3, 0, 27, 0x11};
    At(song, 0, 2, 2) = Cell{49, 3, 0, 3, 0x10};
    song.speed = 1;
    ModulePtr module(xm::Load(song));
    ASSERT_NE(module, nullptr);
    EXPECT_EQ(module->patterns[1].row_count, 64);
    EXPECT_EQ(module->patterns[5].row_count, 64);
    auto report = Play(module.get(), 4 * SECOND);
    EXPECT_EQ(report.faults, "");
    EXPECT_EQ(report.nonzero_values, 0u);
    EXPECT_GE(report.loops, 1u);  // through all three orders and back
}

TEST(RestartPosition, OutsideTheSongStartsItOver) {
    for (uint16_t restart : {uint16_t(3), uint16_t(200), uint16_t(0xFFFF)}) {
        xm::SongSpec song = xm::SimpleSong(1, 2);
        song.orders = {0, 0, 0};
        song.restart_position = restart;
        song.speed = 1;
        ModulePtr module(xm::Load(song));
        ASSERT_NE(module, nullptr);
        EXPECT_EQ(module->restart_position, 0) << restart;
        auto report = Play(module.get(), SECOND);
        EXPECT_EQ(report.faults, "") << restart;
        EXPECT_EQ(report.positions, 6u) << restart;
        EXPECT_GE(report.loops, 5u) << restart;
    }
}

TEST(SongLength, BeyondTheOrderTablePlaysItsEntries) {
    xm::SongSpec song = xm::SimpleSong(1, 1);
    song.song_length = 0xFFFF;
    song.orders.assign(256, 0);
    song.speed = 2;  // each row lasts two blocks, so every block end sees each row
    ModulePtr module(xm::Load(song));
    ASSERT_NE(module, nullptr);
    EXPECT_EQ(module->song_length, 256);
    auto report = Play(module.get(), 11 * SECOND);
    EXPECT_EQ(report.faults, "");
    EXPECT_EQ(report.positions, 256u);
}

}  // namespace
