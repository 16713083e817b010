// The playback preparation, the position queries, and offline rendering
// against the live path (which renders the blocks the digests do not).
#include <gtest/gtest.h>
#include <string.h>

#include <vector>

#include "mixer/mixer.h"
#include "output/convert_variants.h"
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
    for (Module* refused : {&wide, &silent, static_cast<Module*>(nullptr)}) EXPECT_FALSE(StartRendering(refused));
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

TEST_F(Render, OfflineFramesAreThoseTheOutputThreadWouldWrite) {
    // Notes, slides, a tempo change and a key off: voices, ramps and ticks of
    // different lengths all take part.
    xm::SongSpec song = xm::SimpleSong(2, 32);
    song.bpm = 138;
    for (int row = 0; row < 32; row += 4) {
        song.patterns[0].At(row, 0, 2) = {uint8_t(40 + row / 2), 1, 0, 0, 0};
        song.patterns[0].At(row + 2, 1, 2) = {uint8_t(52 - row / 4), 1, uint8_t(0x20 + row), 0x0A, 0x04};
    }
    song.patterns[0].At(9, 0, 2) = {0, 0, 0, 0x0F, 0x60};  // 96 BPM from row 9
    song.patterns[0].At(17, 1, 2).note = 97;
    Module* module = xm::Load(song);
    ASSERT_NE(module, nullptr);
    // The live path: prefill, then the thread rewrites each block the device
    // left, past the ring's end into its second round.
    ASSERT_TRUE(ResetPlayback(module) && AllocateRenderBuffers() && PrefillRing());
    std::vector<std::vector<int16_t>> live;
    std::vector<SyncEntry> live_sync;
    for (int i = 0; i < 260; i++) {
        const int32_t b = i < 100 ? i : output.next_block;
        if (i >= 100) RenderBlock();
        live.emplace_back(output.ring + b * 884 * 2, output.ring + (b + 1) * 884 * 2);
        live_sync.push_back(output.sync_entries[b]);
    }
    EXPECT_NE(live[20], std::vector<int16_t>(884 * 2, 0));
    // Offline, once with each 16-bit conversion (which leaves the float stretch
    // cleared for the next block): each start resets everything (channels,
    // voices, position) left by the live run or in the middle of sounding notes.
    std::vector<int16_t> frames(884 * 2);
    for (int32_t pass : {CONVERT_VARIANT_PLAIN, CONVERT_VARIANT_SSE2, CONVERT_VARIANT_AVX512}) {
        SelectConvertVariant(pass);
        ASSERT_TRUE(StartRendering(module));
        for (size_t i = 0; i < live.size(); i++) {
            ASSERT_EQ(RenderNextBlock(frames.data(), 884), 884);
            ASSERT_EQ(frames, live[i]) << "pass " << pass << " block " << i;
            EXPECT_EQ((std::vector<uint32_t>{GetPlayOrder(module), GetPlayRow(module), GetPlayTime(module)}),
                      (std::vector<uint32_t>{live_sync[i].order, live_sync[i].row, live_sync[i].time_ms})) << i;
            // The pass ends after 9 rows of 6 ticks of 798 frames (138 BPM) and 23 of 1148 (96 BPM):
            // at frame 201516, frame 848 of block 227.
            EXPECT_EQ((std::vector<int32_t>{GetSongLoopFrame(module), GetSongLoopFrame(nullptr), int32_t(GetSongLoops(module))}),
                      (std::vector<int32_t>{i == 227 ? 848 : -1, -1, i >= 227})) << i;
        }
    }
    SelectConvertVariant(CONVERT_VARIANT_COUNT);
    FreeModule(module);
}

}  // namespace
