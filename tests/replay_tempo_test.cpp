// Tempo and the tick sequencer: tick lengths, rows, orders, breaks, speed.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <string.h>

#include "output/output.h"
#include "tests/replay_harness.h"

using namespace replay_test;

namespace {

TEST(SetBpm, TickLengthsFollowTheSinglePrecisionRounding) {
    struct Case {
        int32_t bpm, frames;
    } cases[] = {{32, 3445},  {35, 3150},  {49, 2249},  {125, 882}, {126, 874}, {138, 798},
                 {150, 735},  {225, 490},  {255, 432},  {1, 110249}, {2, 55124}, {32767, 3}};
    Module module = {};
    for (const Case& c : cases) {
        SetBpm(module, c.bpm);
        EXPECT_EQ(module.samples_per_tick, c.frames) << "bpm " << c.bpm;
    }
}

TEST(SetBpm, TempoBelowOneFallsBackTo125AndEveryTempoGivesAFrame) {
    Module module = {};
    for (int32_t bpm : {0, -1, -32768, INT32_MIN}) {
        SetBpm(module, bpm);
        EXPECT_EQ(module.samples_per_tick, 882) << bpm;
    }
    int32_t previous = INT32_MAX;
    for (int32_t bpm = 1; bpm <= 32767; bpm++) {
        SetBpm(module, bpm);
        ASSERT_GE(module.samples_per_tick, 1) << bpm;
        ASSERT_LE(module.samples_per_tick, previous) << bpm;
        previous = module.samples_per_tick;
    }
    SetBpm(module, INT32_MAX);
    EXPECT_EQ(module.samples_per_tick, 1);
}

TEST(Sequencer, StartsWithTheRowTickOfOrderZeroRowZero) {
    xm::SongSpec song = ToneSong(2, 8);
    Put(song, 0, 0, C(49, 1));
    ModulePtr module = LoadAndStart(song);
    ASSERT_TRUE(module);
    EXPECT_EQ(module->samples_per_tick, 882);
    ModuleTick(module.get());
    EXPECT_EQ(module->order, 0);
    EXPECT_EQ(module->row, 0);
    EXPECT_EQ(module->tick, 1);
    EXPECT_EQ(channels[0].period, 4608);
    EXPECT_EQ(module->next_row, 1);
    EXPECT_EQ(module->next_order, -1);  // the pattern goes on
}

TEST(Sequencer, PatternEndMovesToNextOrderAndLastOrderToRestartPosition) {
    xm::SongSpec song = ToneSong(1, 32);
    song.patterns.push_back(song.patterns[0]);
    song.patterns[1].rows = 4;
    song.orders = {0, 1, 1};
    song.restart_position = 1;
    ModulePtr module = LoadAndStart(song);
    ASSERT_TRUE(module);
    RunTicks(*module, 192);
    EXPECT_EQ(module->order, 0);
    EXPECT_EQ(module->row, 31);
    EXPECT_EQ(module->tick, 0);
    ModuleTick(module.get());
    EXPECT_EQ(module->order, 1);
    EXPECT_EQ(module->row, 0);
    RunTicks(*module, 6 * 4 - 1 + 6 * 4);  // order 1, then order 2
    EXPECT_EQ(module->order, 2);
    EXPECT_EQ(module->row, 3);
    ModuleTick(module.get());
    EXPECT_EQ(module->order, 1);  // the restart position, not order 0
    EXPECT_EQ(module->row, 0);
}

TEST(Sequencer, RestartPositionZeroStartsTheSongOver) {
    xm::SongSpec song = ToneSong(1, 2);
    song.orders = {0, 0};
    ModulePtr module = LoadAndStart(song);
    ASSERT_TRUE(module);
    RunTicks(*module, 6 * 4);
    EXPECT_EQ(module->order, 1);
    EXPECT_EQ(module->row, 1);
    ModuleTick(module.get());
    EXPECT_EQ(module->order, 0);
    EXPECT_EQ(module->row, 0);
}

TEST(Sequencer, PatternBreakReadsDecimalDigits) {
    struct Case {
        uint8_t param;
        int32_t row;
    } cases[] = {{0x00, 0}, {0x05, 5}, {0x10, 10}, {0x1F, 25}, {0x63, 63}, {0x64, 0}, {0x99, 0}, {0xFF, 0}};
    for (const Case& c : cases) {
        xm::SongSpec song = ToneSong(2, 64, 1);
        song.orders = {0, 0, 0};
        Put(song, 10, 1, C(0, 0, 0, EFFECT_PATTERN_BREAK, c.param));
        ModulePtr module = LoadAndStart(song);
        ASSERT_TRUE(module);
        RunTicks(*module, 11);
        EXPECT_EQ(module->next_row, c.row) << std::hex << int(c.param);
        EXPECT_EQ(module->next_order, 1);
        ModuleTick(module.get());
        EXPECT_EQ(module->order, 1);
        EXPECT_EQ(module->row, c.row) << std::hex << int(c.param);
    }
}

TEST(Sequencer, PatternBreakOnLastOrderGoesToOrderZeroAndWinsOverPatternEnd) {
    xm::SongSpec song = ToneSong(1, 16, 2);
    song.orders = {0, 0, 0};
    song.restart_position = 1;
    Put(song, 15, 0, C(0, 0, 0, EFFECT_PATTERN_BREAK, 0x05));  // on the last row
    ModulePtr module = LoadAndStart(song);
    ASSERT_TRUE(module);
    for (int order = 0; order < 3; order++) {
        RunTicks(*module, 2 * (order == 0 ? 16 : 10));  // up to the end of row 15
        EXPECT_EQ(module->row, 15);
        EXPECT_EQ(module->order, order);
        ModuleTick(module.get());
        EXPECT_EQ(module->row, 5);
        EXPECT_EQ(module->order, order == 2 ? 0 : order + 1);  // never the restart position
        ModuleTick(module.get());                               // row 5's later tick
    }
}

TEST(Sequencer, SpeedChangeAppliesToTheRowThatMakesIt) {
    xm::SongSpec song = ToneSong(2, 8, 6);
    Put(song, 1, 0, C(0, 0, 0, EFFECT_SPEED_TEMPO, 0x03));
    Put(song, 1, 1, C(0, 0, 0, EFFECT_SPEED_TEMPO, 0x40));  // 64 bpm on the same row
    ModulePtr module = LoadAndStart(song);
    ASSERT_TRUE(module);
    RunTicks(*module, 6);
    EXPECT_EQ(module->samples_per_tick, 882);
    ModuleTick(module.get());  // row 1's row tick
    EXPECT_EQ(module->speed, 3);
    EXPECT_EQ(module->samples_per_tick, 1722);  // already for this tick
    RunTicks(*module, 2);
    EXPECT_EQ(module->row, 1);
    ModuleTick(module.get());
    EXPECT_EQ(module->row, 2);
    RunTicks(*module, 3);
    EXPECT_EQ(module->row, 3);  // and the rows after it
}

TEST(Sequencer, SpeedZeroAndOneMakeEveryTickARowTick) {
    for (uint8_t speed : {0, 1}) {
        xm::SongSpec song = ToneSong(1, 8, 6);
        Put(song, 0, 0, C(0, 0, 0, EFFECT_SPEED_TEMPO, speed));
        Put(song, 1, 0, C(49, 1, 0, EFFECT_VOLUME_SLIDE, 0x0F));
        ModulePtr module = LoadAndStart(song);
        ASSERT_TRUE(module);
        for (int row = 0; row < 8; row++) {
            ModuleTick(module.get());
            EXPECT_EQ(module->row, row);
            EXPECT_EQ(module->tick, 0);
        }
        EXPECT_EQ(channels[0].volume, 64);  // no later tick: the slide never ran
    }
}

TEST(Sequencer, SpeedAndTempoEffectLimits) {
    struct Case {
        uint8_t param;
        int32_t speed, frames;
    } cases[] = {{0x00, 0, 882}, {0x1F, 31, 882}, {0x20, 6, 3445}, {0xFF, 6, 432}};
    for (const Case& c : cases) {
        xm::SongSpec song = ToneSong(1, 4);
        Put(song, 0, 0, C(0, 0, 0, EFFECT_SPEED_TEMPO, c.param));
        ModulePtr module = LoadAndStart(song);
        ASSERT_TRUE(module);
        ModuleTick(module.get());
        EXPECT_EQ(module->speed, c.speed) << int(c.param);
        EXPECT_EQ(module->samples_per_tick, c.frames) << int(c.param);
    }
}

TEST(Sequencer, BreakToARowThePatternLacksPlaysRowZero) {
    xm::SongSpec song = ToneSong(1, 64, 1);
    song.patterns.push_back(song.patterns[0]);
    song.patterns[1].rows = 16;
    song.orders = {0, 1};
    Put(song, 0, 0, C(0, 0, 0, EFFECT_PATTERN_BREAK, 0x40));
    Put(song, 0, 0, C(49, 1, 0x30), 1);
    Put(song, 1, 0, C(0, 0, 0x40), 1);
    ModulePtr module = LoadAndStart(song);
    ASSERT_TRUE(module);
    ModuleTick(module.get());
    EXPECT_EQ(module->next_row, 40);
    ModuleTick(module.get());
    EXPECT_EQ(module->order, 1);
    EXPECT_EQ(module->row, 0);
    EXPECT_EQ(channels[0].volume, 32);  // row 0's cell played
    ModuleTick(module.get());
    EXPECT_EQ(module->row, 1);
    EXPECT_EQ(channels[0].volume, 48);
}

TEST(Sequencer, PatternWithoutCellsChangesNoChannelAndStillAdvances) {
    xm::SongSpec song = ToneSong(1, 2, 3);
    song.patterns.push_back(song.patterns[0]);
    song.orders = {0, 1, 0};
    Put(song, 0, 0, C(49, 1));
    Put(song, 0, 0, C(61, 1, 0x10, EFFECT_VOLUME_SLIDE, 0x01), 1);
    ModulePtr module = LoadAndStart(song);
    ASSERT_TRUE(module);
    free(module->patterns[1].cells);  // a pattern record without cell storage
    module->patterns[1].cells = nullptr;
    RunTicks(*module, 6);
    Channel before = channels[0];
    for (int row = 0; row < 2; row++) {
        for (int tick = 0; tick < 3; tick++) {
            ModuleTick(module.get());
            EXPECT_EQ(module->order, 1);
            EXPECT_EQ(module->row, row);
            EXPECT_EQ(0, memcmp(&before, &channels[0], sizeof(Channel)));
        }
    }
    ModuleTick(module.get());
    EXPECT_EQ(module->order, 2);
    EXPECT_EQ(module->row, 0);
}

}  // namespace
