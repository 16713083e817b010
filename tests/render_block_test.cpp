// The playback preparation, the position queries and where a pass ends.
#include <gtest/gtest.h>
#include <string.h>

#include <vector>

#include "mixer/mixer.h"
#include "output/output.h"
#include "replay/replay.h"
#include "tests/support/xm_builder.h"

using namespace vinto;

namespace {

std::vector<uint32_t> tick_times;  // the song time each tick handler call saw

void RecordingTick(Module* module) { tick_times.push_back(module->time_ms); }

// A song without data: the tick handler is all that runs.
Module HandMadeModule(int16_t bpm, int16_t channel_count = 4) {
    Module module = {};
    module.channel_count = channel_count, module.song_length = 1;
    module.default_speed = 6, module.default_bpm = bpm, module.default_global_volume = 64;
    module.tick_handler = RecordingTick;
    return module;
}

class Render : public ::testing::Test {
protected:
    void SetUp() override { StopPlayback(&dummy_), tick_times.clear(); }
    void TearDown() override { StopPlayback(&dummy_), tick_times.clear(); }
    Module dummy_ = HandMadeModule(125);
};

TEST_F(Render, PreparationResetsAndPrefillsForTheDevice) {
    Module module = HandMadeModule(138, 4);
    module.time_ms = 5, module.order = 3, module.row = 9, module.tick_samples_left = 17;  // leftovers to clear
    memset(&channels[3], 0x5A, sizeof(Channel));
    ASSERT_TRUE(ResetPlayback(&module) && AllocateRenderBuffers());
    EXPECT_EQ((std::vector<int32_t>{output.block_frames, output.ring_frames, module.speed, module.next_row, module.samples_per_tick,
                                    module.row + module.order + module.tick + module.tick_samples_left + int(module.time_ms) + channels[3].volume}),
              (std::vector<int32_t>{884, 88400, 6, -1, 798, 0}));
    EXPECT_EQ(channels[3].voice, &VoicePool[3]);
    // The prefill renders every block once (88400 frames at 798 a tick) and hands block 0 to the queries.
    ASSERT_TRUE(PrefillRing());
    EXPECT_EQ((std::vector<uint32_t>{uint32_t(tick_times.size()), uint32_t(output.next_block), output.sync_entries[99].time_ms, GetPlayTime(&module)}),
              (std::vector<uint32_t>{111, 0, 1903, 19}));
    int16_t frames[884 * 2];
    EXPECT_EQ(RenderNextBlock(frames, 884), 0);  // prepared for the device, not offline
    EXPECT_EQ(GetSongLoopFrame(&module), -1);
}

TEST_F(Render, OfflineBlocksNeedTheirPreparationAndRoom) {
    Module wide = HandMadeModule(125, 33), silent = HandMadeModule(125), module = HandMadeModule(138);
    silent.tick_handler = nullptr;
    for (Module* refused : {&wide, &silent, static_cast<Module*>(nullptr)})
        EXPECT_TRUE(!StartRendering(refused) && GetSongDurationFrames(refused) == 0);
    int16_t frames[884 * 2];
    EXPECT_EQ(RenderNextBlock(frames, 884), 0);
    ASSERT_TRUE(StartRendering(&module));
    EXPECT_EQ(RenderNextBlock(frames, 883) + RenderNextBlock(nullptr, 884), 0);
    EXPECT_TRUE(tick_times.empty());
    module.row = 0x1FF, module.order = 0x102;  // only the low bytes are recorded
    ASSERT_EQ(RenderNextBlock(frames, 884), 884);
    EXPECT_EQ((std::vector<int64_t>{GetPlayRow(&module), GetPlayOrder(&module), GetPlayTime(&module), GetSongLoopFrame(&module),
                                    GetSongLoopFrame(nullptr), GetSongLoops(&module), GetPlayOrder(nullptr) + GetPlayRow(nullptr) +
                                    GetPlayTime(nullptr) + GetSongLoops(nullptr)}),
              (std::vector<int64_t>{0xFF, 2, 19, -1, -1, 0, 0}));
}

// Where a pass ends: 9 rows of 6 ticks of 798 frames (138 BPM) and 23 of 1148
// (96 BPM from row 9) end it at frame 201516, frame 848 of block 227. (The
// blocks themselves: the digest test, offline and live.)
TEST_F(Render, TheBlockWhereThePassEndsSaysWhere) {
    xm::SongSpec song = xm::SimpleSong(2, 32);
    song.bpm = 138;
    song.patterns[0].At(0, 0, 2) = {49, 1, 0, 0, 0};
    song.patterns[0].At(9, 0, 2) = {0, 0, 0, 0x0F, 0x60};
    Module* module = xm::Load(song);
    ASSERT_TRUE(module && StartRendering(module));
    int16_t frames[884 * 2];
    for (int32_t i = 0; i < 260; i++) {
        ASSERT_EQ(RenderNextBlock(frames, 884), 884);
        EXPECT_EQ((std::vector<int32_t>{GetSongLoopFrame(module), int32_t(GetSongLoops(module))}),
                  (std::vector<int32_t>{i == 227 ? 848 : -1, i >= 227})) << i;
    }
    FreeModule(module);
}

}  // namespace
