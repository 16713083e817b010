// The complete replay, tick by tick: each case is a few cells of a built song and the value a channel (or its voice)
// shows after each tick, worked out from FastTracker 2's rules, which each case states. Channel 0 plays C-4 of the
// builder's looping square (volume 64, panning 128, finetune 0), whose period is 7680 - 64 x 48 = 4608.
#include <gtest/gtest.h>

#include <string.h>

#include <utility>
#include <vector>

#include "complete/complete.h"
#include "mixer/mixer.h"
#include "output/output.h"
#include "tests/support/xm_builder.h"

using namespace vinto;

namespace {

using Values = std::vector<int32_t>;
using Cells = std::vector<std::pair<int, xm::Cell>>;  // row, cell of channel 0
using Field = int32_t (*)(const Module&);             // a value of channel 0 (or its voice)

std::pair<int, xm::Cell> E(int row, uint8_t effect, uint8_t param) { return {row, {0, 0, 0, effect, param}}; }

xm::ModulePtr Start(const xm::SongSpec& song) {
    xm::ModulePtr module = xm::Loaded(song, VINTO_MODE_COMPLETE);
    EXPECT_TRUE(module && ResetPlayback(module.get())) << GetLoadError();
    return module;
}

xm::SongSpec Song(const Cells& cells, uint16_t speed, int channels = 1) {
    xm::SongSpec song = xm::SimpleSong(channels, 32);
    song.speed = speed;
    for (const auto& [row, cell] : cells) song.patterns[0].At(row, 0, channels) = cell;
    return song;
}

const CompleteChannel& Channel0(const Module& m) { return m.complete_channels[0]; }
const Field OUT_PERIOD = [](const Module& m) { return Channel0(m).out_period; };
const Field OUT_VOLUME = [](const Module& m) { return Channel0(m).out_volume; };
const Field PAN = [](const Module& m) { return Channel0(m).pan; };
const Field GLOBAL_VOLUME = [](const Module& m) { return m.global_volume; };
const Field VOICE_SLOT = [](const Module& m) { return Channel0(m).voice->index; };
const Field VOICE_START = [](const Module& m) {
    return Channel0(m).voice->sample ? int32_t(Channel0(m).voice->position) : -1;
};
const Field POSITION = [](const Module& m) { return m.order * 100 + m.row; };
const Field ENVELOPE = [](const Module& m) { return Channel0(m).volume_env.value / ENVELOPE_UNIT; };
const Field AUTO_VIBRATO = [](const Module& m) { return Channel0(m).auto_vibrato_offset; };

// The field after each of ticks ticks.
Values Trace(Module& module, Field field, size_t ticks) {
    Values values;
    for (size_t i = 0; i < ticks; i++) module.tick_handler(&module), values.push_back(field(module));
    return values;
}

struct TickCase {  // expected: the field after each tick, from the first
    const char* rule; Cells cells; uint16_t speed; Field field; Values expected;
};

TEST(CompleteEffects, ChannelValuesTickByTick) {
    const TickCase cases[] = {
        {"1xx and 2xx: a memory each; 4 period units per unit, on the later ticks",
         {{0, {49, 1, 0, 0x1, 0x02}}, E(1, 0x2, 0x01), E(2, 0x1, 0x00)}, 3, OUT_PERIOD,
         {4608, 4600, 4592, 4592, 4596, 4600, 4600, 4592, 4584}},
        {"3 05 (20 units a tick towards note 51 = 4480) with glissando E31: whole semitones nearest the "
         "sliding period; no step on the row tick", {{0, {49, 1, 0, 0xE, 0x31}}, {1, {51, 0, 0, 0x3, 0x05}}}, 4,
         OUT_PERIOD, {4608, 4608, 4608, 4608, 4608, 4608, 4544, 4544}},
        {"vibrato 48: sine of 32 steps a half (255 sin), depth x sine / 32, 4 x 4 steps a tick, first half up; a row "
         "without 4 or 6 sets the base back", {{0, {49, 1, 0, 0x4, 0x48}}}, 6, OUT_PERIOD,
         {4608, 4608, 4632, 4653, 4666, 4671, 4608}},
        {"E42: square vibrato; on the row tick 4xy takes its parameter and the pitch at the phase, not moving it",
         {{0, {49, 1, 0, 0xE, 0x42}}, E(1, 0x4, 0x48)}, 4, OUT_PERIOD,
         {4608, 4608, 4608, 4608, 4671, 4671, 4671, 4671, 4608}},
        {"tremolo 88 on volume 32: depth x sine / 64, first half louder; lasts through the next row tick",
         {{0, {49, 1, 0x30, 0x7, 0x88}}}, 5, OUT_VOLUME, {32, 32, 54, 63, 54, 54, 32}},
        {"Axy, 6xy and 5xy share one memory; x slides up, else y down, on the later ticks",
         {{0, {49, 1, 0, 0xA, 0x02}}, E(1, 0x6, 0x00), E(2, 0xA, 0x30)}, 3, OUT_VOLUME,
         {64, 62, 60, 60, 58, 56, 56, 59, 62}},
        {"E1x, X1x and E2x once on the row tick, a memory each (X: 1 unit, E: 4)",
         {{0, {49, 1, 0, 0xE, 0x12}}, E(1, 0xE, 0x10), E(2, 0x21, 0x13), E(3, 0x21, 0x10), E(4, 0xE, 0x21)}, 2,
         OUT_PERIOD, {4600, 4600, 4592, 4592, 4589, 4589, 4586, 4586, 4590, 4590}},
        {"EAx and EBx once on the row tick, a memory each",
         {{0, {49, 1, 0x30, 0xE, 0xA4}}, E(1, 0xE, 0xB2), E(2, 0xE, 0xA0), E(3, 0xE, 0xB0)}, 1, OUT_VOLUME,
         {36, 34, 38, 36}},
        {"8xx pans; Pxy slides x right (else y left) on later ticks with memory; the column's Dx acts first",
         {{0, {49, 1, 0, 0x8, 0x40}}, E(1, 0x19, 0x20), {2, {0, 0, 0xD3, 0x19, 0x00}}}, 3, PAN,
         {64, 64, 64, 64, 66, 68, 68, 67, 66}},
        {"Gxx sets the global volume (at most 64), Hxy slides it on later ticks with memory",
         {{0, {49, 1, 0, 0x10, 0x20}}, E(1, 0x11, 0x04), E(2, 0x11, 0x00), E(3, 0x10, 0x50)}, 3, GLOBAL_VOLUME,
         {32, 32, 32, 32, 28, 24, 24, 20, 16, 64}},
        {"T21: sound 3 ticks, silence 2, counted on later ticks; its silence lasts until a volume is set",
         {{0, {49, 1, 0, 0x1D, 0x21}}, E(1, 0x1D, 0x00), {3, {0, 0, 0x30, 0, 0}}}, 6, OUT_VOLUME,
         {64, 64, 64, 64, 0, 0, 0, 64, 64, 64, 0, 0, 0, 0, 0, 0, 0, 0, 32}},
        {"ECx cuts the volume on tick x, EC0 on the row tick; a volume command brings it back",
         {{0, {49, 1, 0, 0xE, 0xC2}}, {1, {0, 0, 0x40, 0, 0}}, E(2, 0xE, 0xC0)}, 4, OUT_VOLUME,
         {64, 64, 0, 0, 48, 48, 48, 48, 0}},
        {"key off (Kxx on tick xx, K00 at once) without a volume envelope zeroes the volume; a set volume is heard",
         {{0, {49, 1, 0, 0x14, 0x02}}, {1, {0, 0, 0x30, 0, 0}}, {2, {49, 1, 0, 0x14, 0x00}}}, 4, OUT_VOLUME,
         {64, 64, 0, 0, 32, 32, 32, 32, 0}},
        {"column Ax sets the vibrato speed, Bx the depth and vibrates on later ticks, not setting the period back",
         {{0, {49, 1, 0xA4}}, {1, {0, 0, 0xB8}}}, 4, OUT_PERIOD,
         {4608, 4608, 4608, 4608, 4608, 4608, 4632, 4653, 4653}},
        {"E92 restarts on ticks 2 and 4; R02 every 2 ticks across rows (from E9's last restart); ED3 and E90 "
         "without a note restart the last one; a restart hands the voice to the twin slot",
         {{0, {49, 1, 0, 0xE, 0x92}}, E(1, 0x1B, 0x02), E(2, 0xE, 0xD3), E(3, 0xE, 0x90)}, 6, VOICE_SLOT,
         {0, 0, 32, 32, 0, 0, 0, 32, 32, 0, 0, 32, 32, 32, 32, 0, 0, 0, 32}},
    };
    for (const TickCase& c : cases) {
        SCOPED_TRACE(c.rule);
        xm::ModulePtr module = Start(Song(c.cells, c.speed));
        ASSERT_TRUE(module);
        EXPECT_EQ(Trace(*module, c.field, c.expected.size()), c.expected);
    }
}

// Rows at each row tick (order x 100 + row), speed 1, channels 0 and 1 of a song of two 8-row orders whose restart
// position is 1; where FastTracker 2's rules meet (loop, delay, jumps on one row) libopenmpt's playing decides.
TEST(CompleteEffects, SequencerFollowsFastTracker2) {
    struct Jump { int row, channel; uint8_t effect, param; };  // in order 0
    const struct { const char* rule; std::vector<Jump> cells; Values rows; bool break_on_last_order = false; }
        cases[] = {
        {"B02 then D05 on one row: order 2 (past the end: the restart position 1), row 5",
         {{1, 0, 0xB, 0x02}, {1, 1, 0xD, 0x05}}, {0, 1, 105, 106}},
        {"D05 then B01 on one row: the jump sets the break row back to 0",
         {{1, 0, 0xD, 0x05}, {1, 1, 0xB, 0x01}}, {0, 1, 100, 101}},
        {"E60 on row 1, E62 on row 2: rows 1 and 2 play three times",
         {{1, 0, 0xE, 0x60}, {2, 0, 0xE, 0x62}}, {0, 1, 2, 1, 2, 1, 2, 3}},
        {"EE2 on row 1: the row plays three times, its cells read once", {{1, 1, 0xE, 0xE2}}, {0, 1, 1, 1, 2}},
        {"E61 with EE1 on row 1 (loop start row 0): the delay plays first, then the loop goes back to the delayed "
         "row itself, which delays again",
         {{0, 0, 0xE, 0x60}, {1, 0, 0xE, 0x61}, {1, 1, 0xE, 0xE1}}, {0, 1, 1, 1, 1, 2}},
        {"D03 with EE2: all three passes, then the break",
         {{1, 0, 0xD, 0x03}, {1, 1, 0xE, 0xE2}}, {0, 1, 1, 1, 103, 104}},
        {"E60 on row 2, E61 on row 3: the next pattern starts at row 2, where the loop began",
         {{2, 0, 0xE, 0x60}, {3, 0, 0xE, 0x61}}, {0, 1, 2, 3, 2, 3, 4, 5, 6, 7, 102, 103}},
        {"a break on the last order (D00 on its row 3) continues at the restart position",
         {{2, 0, 0xB, 0x01}}, {0, 1, 2, 100, 101, 102, 103, 100}, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.rule);
        xm::SongSpec song = Song({}, 1, 2);
        song.patterns[0].rows = 8;
        song.patterns.resize(2, song.patterns[0]);
        if (c.break_on_last_order) song.patterns[1].At(3, 0, 2) = {0, 0, 0, 0xD, 0x00};
        song.orders = {0, 1};
        song.restart_position = 1;
        for (const Jump& j : c.cells) song.patterns[0].At(j.row, j.channel, 2) = {0, 0, 0, j.effect, j.param};
        xm::ModulePtr module = Start(song);
        ASSERT_TRUE(module);
        EXPECT_EQ(Trace(*module, POSITION, c.rows.size()), c.rows);
    }
}

TEST(CompleteEffects, EnvelopePositionAndAutoVibrato) {
    // L03 on row 1 moves the envelope (0,64) (6,16) (12,64) to its tick 3 (40) at once.
    xm::SongSpec song = Song({{0, {49, 1}}, E(1, 0x15, 0x03)}, 6);
    xm::InstrumentSpec& instrument = song.instruments[0];
    instrument.volume_envelope = {{{0, 64}, {6, 16}, {12, 64}}, 0xFF, 0, 0, 0, ENVELOPE_ON};
    xm::ModulePtr module = Start(song);
    EXPECT_EQ(Trace(*module, ENVELOPE, 12), (Values{64, 56, 48, 40, 32, 24, 40, 32, 24, 16, 24, 32}));

    // Auto-vibrato sine (first quarter downwards), depth 8, rate 64, sweep 2: the amplitude grows by 8 x 256 / 2 a
    // tick up to 8 x 256; the offset is sine (-64..64) x amplitude / 2^14. A key off during the sweep leaves the
    // sweep step alone as the amplitude.
    instrument.volume_envelope = {};
    instrument.vibrato_depth = 8, instrument.vibrato_rate = 64, instrument.vibrato_sweep = 2;
    song.speed = 1;
    song.patterns[0].At(1, 0, 1) = {};
    module = Start(song);
    EXPECT_EQ(Trace(*module, AUTO_VIBRATO, 5), (Values{-4, 0, 8, 0, -8}));
    song.patterns[0].At(1, 0, 1) = {97};
    module = Start(song);
    EXPECT_EQ(Trace(*module, AUTO_VIBRATO, 3), (Values{-4, 0, 4}));
}

TEST(CompleteEffects, VoicesStartAtOffsetsAndCopiesNeedNoVoices) {
    // 9xx starts 256 x xx frames in (the memory serves 900); past the end of the sample the note plays nothing, and a
    // looping sample ends at its loop's end.
    xm::SongSpec song = Song({{0, {49, 1, 0, 0x9, 0x08}}, {1, {49, 1, 0, 0x9, 0x00}}, {2, {49, 1, 0, 0x9, 0x20}}}, 1);
    xm::SampleSpec& sample = song.instruments[0].samples[0];
    sample.pcm.assign(4096, 50);
    sample.loop_type = xm::NO_LOOP;
    xm::ModulePtr module = Start(song);
    EXPECT_EQ(Trace(*module, VOICE_START, 3), (Values{2048, 2048, -1}));
    sample.loop_type = xm::FORWARD_LOOP;
    sample.loop_length = 2049;  // loop end 2049: 2048 still starts
    module = Start(song);
    EXPECT_EQ(Trace(*module, VOICE_START, 1), (Values{2048}));
    sample.loop_length = 2048;
    module = Start(song);
    EXPECT_EQ(Trace(*module, VOICE_START, 1), (Values{-1}));

    // A copy of the record with tables of its own and no voices runs the same rows as the playing song and leaves its
    // voices as they would be alone.
    song = Song({{0, {49, 1, 0, 0xE, 0x60}}, {2, {49, 1, 0, 0xE, 0x61}}, {3, {0, 0, 0, 0xD, 0x00}}}, 2);
    module = Start(song);
    Trace(*module, POSITION, 24);
    std::vector<Voice> alone(VoicePool, VoicePool + MIXED_VOICE_COUNT);
    module = Start(song);
    Module copy = *module;
    Channel exact[MAX_CHANNELS];
    CompleteChannel complete[MAX_CHANNELS];
    ASSERT_TRUE(ResetReplayState(copy, {exact, complete}, false));
    for (int tick = 0; tick < 24; tick++) {
        module->tick_handler(module.get());
        copy.tick_handler(&copy);
        ASSERT_EQ(copy.order * 100 + copy.row, module->order * 100 + module->row) << "tick " << tick;
        ASSERT_EQ(complete[0].out_period, module->complete_channels[0].out_period);
    }
    EXPECT_EQ(copy.complete_channels, complete);
    for (int i = 0; i < MIXED_VOICE_COUNT; i++) {  // the sample records differ between the two loads
        Voice voice = VoicePool[i];
        EXPECT_EQ(voice.sample != nullptr, alone[size_t(i)].sample != nullptr);
        voice.sample = alone[size_t(i)].sample;
        EXPECT_EQ(memcmp(&voice, &alone[size_t(i)], sizeof(Voice)), 0) << "voice " << i;
    }
}

}  // namespace
