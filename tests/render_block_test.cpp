// Block rendering, the playback preparation, the position queries and offline
// rendering.
#include <gtest/gtest.h>
#include <math.h>
#include <string.h>

#include <random>
#include <vector>

#include "mixer/mixer.h"
#include "output/output.h"
#include "replay/replay.h"
#include "tests/support/xm_builder.h"

namespace {

// What the tick handler saw at each call: the block being rendered and the
// song time so far (which adds up the slices rendered before the call).
struct TickCall {
    int32_t block;
    uint32_t time_ms;
};
std::vector<TickCall> tick_calls;
int32_t forced_samples_per_tick = -1;  // >= 0: the handler sets this tick length

void RecordingTick(Module* module) {
    tick_calls.push_back({output.next_block, module->time_ms});
    if (forced_samples_per_tick >= 0) module->samples_per_tick = forced_samples_per_tick;
}

int real_ticks = 0;
void CountingModuleTick(Module* module) {
    real_ticks++;
    ModuleTick(module);
}

// A song without data: the tick handler is all that runs.
Module HandMadeModule(int16_t bpm, int16_t channel_count = 4) {
    Module module;
    memset(&module, 0, sizeof(module));
    module.channel_count = channel_count;
    module.song_length = 1;
    module.default_speed = 6;
    module.default_bpm = bpm;
    module.default_global_volume = 64;
    module.tick_handler = RecordingTick;
    return module;
}

// The packed record's time, read by value (it is not aligned).
uint32_t SyncTime(int32_t block) { return output.sync_entries[block].time_ms; }

class RenderTest : public ::testing::Test {
protected:
    void SetUp() override {
        StopPlayback(&dummy_);
        tick_calls.clear();
        forced_samples_per_tick = -1;
        real_ticks = 0;
    }
    void TearDown() override { StopPlayback(&dummy_); }
    // The playback start without device: reset, buffers, nothing rendered.
    void Prepare(Module* module) {
        ASSERT_TRUE(ResetPlayback(module));
        ASSERT_TRUE(AllocateRenderBuffers());
    }
    Module dummy_ = HandMadeModule(125);
};

TEST_F(RenderTest, FirstBlockAt138BpmIsCutAtTheSecondTick) {
    Module module = HandMadeModule(138);
    Prepare(&module);
    ASSERT_EQ(module.samples_per_tick, 798);
    EXPECT_EQ(module.tick_samples_left, 0);  // the song starts with a tick

    RenderBlock();
    // Slices of 798 and 86 frames: 18 ms + 1 ms, not the 20 ms of 884 frames.
    ASSERT_EQ(tick_calls.size(), 2u);
    EXPECT_EQ(tick_calls[0].time_ms, 0u);
    EXPECT_EQ(tick_calls[1].time_ms, 18u);
    EXPECT_EQ(module.time_ms, 19u);
    EXPECT_EQ(module.tick_samples_left, 712);
    EXPECT_EQ(SyncTime(0), 19u);
    EXPECT_EQ(output.next_block, 1);

    // The second block finishes the tick (712 frames, 16 ms), then 172 frames (3 ms).
    RenderBlock();
    ASSERT_EQ(tick_calls.size(), 3u);
    EXPECT_EQ(tick_calls[2].block, 1);
    EXPECT_EQ(tick_calls[2].time_ms, 35u);
    EXPECT_EQ(module.time_ms, 38u);
    EXPECT_EQ(module.tick_samples_left, 798 - 172);
    EXPECT_EQ(SyncTime(1), 38u);
}

TEST_F(RenderTest, TickLongerThanABlockCarriesOver) {
    Module module = HandMadeModule(32);  // 3445 frames a tick
    Prepare(&module);
    ASSERT_EQ(module.samples_per_tick, 3445);
    const int32_t left_after[] = {2561, 1677, 793, 3445 - 91};
    const uint32_t time_after[] = {20, 40, 60, 79};  // the fourth block: 793 + 91 frames
    const size_t calls_after[] = {1, 1, 1, 2};
    for (int block = 0; block < 4; block++) {
        RenderBlock();
        EXPECT_EQ(module.tick_samples_left, left_after[block]) << "block " << block;
        EXPECT_EQ(module.time_ms, time_after[block]) << "block " << block;
        EXPECT_EQ(tick_calls.size(), calls_after[block]) << "block " << block;
    }
    EXPECT_EQ(tick_calls[1].block, 3);
    EXPECT_EQ(tick_calls[1].time_ms, 77u);  // 60 ms + 793 frames
}

TEST_F(RenderTest, TickEndingOnTheBlockEndStartsTheNextBlockWithATick) {
    Module module = HandMadeModule(125);
    Prepare(&module);
    forced_samples_per_tick = 442;  // two ticks fill a block exactly
    RenderBlock();
    EXPECT_EQ(module.tick_samples_left, 0);
    EXPECT_EQ(module.time_ms, 20u);  // 442 frames add 10 ms twice
    RenderBlock();
    ASSERT_EQ(tick_calls.size(), 4u);
    EXPECT_EQ(tick_calls[2].block, 1);
    EXPECT_EQ(tick_calls[2].time_ms, 20u);  // the first thing block 1 does is a tick
    EXPECT_EQ(module.tick_samples_left, 0);
}

TEST_F(RenderTest, SongTimeDropsTheFractionOfEverySlice) {
    Module module = HandMadeModule(125);
    Prepare(&module);
    // 441 frames are 10 ms of sound but add 9: 1/44100 in single precision is low.
    forced_samples_per_tick = 441;
    RenderBlock();  // 441 + 441 + 2
    EXPECT_EQ(module.time_ms, 18u);
    EXPECT_EQ(tick_calls.size(), 3u);
    // A block with a single slice of 884 frames adds 20.
    forced_samples_per_tick = 100000;
    uint32_t before = module.time_ms;
    RenderBlock();  // 439 frames, a tick, then 445 frames
    RenderBlock();
    EXPECT_EQ(module.time_ms - before, 9u + 10u + 20u);
}

TEST_F(RenderTest, TickWithoutFramesStillEndsTheBlock) {
    Module module = HandMadeModule(125);
    Prepare(&module);
    forced_samples_per_tick = 0;
    RenderBlock();  // each tick then lasts one frame
    EXPECT_EQ(tick_calls.size(), 884u);
    EXPECT_EQ(output.next_block, 1);
}

TEST_F(RenderTest, NextBlockWrapsAfterTheLastBlock) {
    Module module = HandMadeModule(125);
    Prepare(&module);
    const int32_t block_count = output.ring_frames / output.block_frames;
    for (int32_t b = 0; b < block_count; b++) {
        ASSERT_EQ(output.next_block, b);
        RenderBlock();
        // Every block records the position and time reached at its end.
        EXPECT_EQ(SyncTime(b), module.time_ms);
    }
    EXPECT_EQ(output.next_block, 0);
    uint32_t wrapped_time = SyncTime(0);
    RenderBlock();
    EXPECT_EQ(output.next_block, 1);
    EXPECT_GT(SyncTime(0), wrapped_time);  // block 0 rewritten
}

TEST_F(RenderTest, PreparationSizesAndResetsEverything) {
    Module module = HandMadeModule(138, 4);
    // Leftovers that the reset must clear, and channels beyond the song's it must keep.
    module.time_ms = 5;
    module.order = 3;
    module.tick_samples_left = 17;
    memset(&channels[0], 0x5A, sizeof(Channel));
    memset(&channels[4], 0x5A, sizeof(Channel));
    VoicePool[7].sample = &EmptySample;
    VoicePool[200].index = 3;
    Prepare(&module);

    uint32_t bits;
    memcpy(&bits, &output.inverse_mix_rate, 4);
    EXPECT_EQ(bits, 0x37BE37C6u);
    EXPECT_EQ(output.block_frames, 884);
    EXPECT_EQ(output.ring_frames, 88400);
    EXPECT_EQ(ramp_length, 128);
    EXPECT_EQ(inverse_ramp_length, 0.0078125f);
    EXPECT_EQ(output.next_block, 0);
    EXPECT_EQ(output.playing_module, &module);

    EXPECT_EQ(module.global_volume, 64);
    EXPECT_EQ(module.speed, 6);
    EXPECT_EQ(module.row, 0);
    EXPECT_EQ(module.order, 0);
    EXPECT_EQ(module.next_row, -1);
    EXPECT_EQ(module.next_order, -1);
    EXPECT_EQ(module.tick, 0);
    EXPECT_EQ(module.tick_samples_left, 0);
    EXPECT_EQ(module.time_ms, 0u);
    EXPECT_EQ(module.samples_per_tick, 798);

    for (int i = 0; i < VOICE_COUNT; i++) {
        ASSERT_EQ(VoicePool[i].index, i);
        ASSERT_EQ(VoicePool[i].step_integer, 1u);
        ASSERT_EQ(VoicePool[i].sample, nullptr);
    }
    Channel zero;
    memset(&zero, 0, sizeof(zero));
    for (int i = 0; i < 4; i++) {
        EXPECT_EQ(channels[i].voice, &VoicePool[i]);
        Channel copy;
        memcpy(&copy, &channels[i], sizeof(Channel));
        copy.voice = nullptr;
        EXPECT_EQ(memcmp(&copy, &zero, sizeof(Channel)), 0) << "channel " << i;
    }
    EXPECT_EQ(channels[4].volume, 0x5A5A5A5A);  // beyond channel_count: untouched

    // Six hundred bytes of zeroed position records; buffers sized and aligned.
    for (int b = 0; b < 100; b++) {
        EXPECT_EQ(output.sync_entries[b].order | output.sync_entries[b].row, 0);
        EXPECT_EQ(SyncTime(b), 0u);
    }
    uintptr_t mix = reinterpret_cast<uintptr_t>(output.mix_buffer);
    uintptr_t raw = reinterpret_cast<uintptr_t>(output.mix_allocation);
    EXPECT_EQ(mix % 16, 0u);
    EXPECT_LT(mix - raw, 16u);
    // The last frames of both buffers exist (the sanitizers check the bounds).
    output.mix_buffer[88400 * 2 - 1] = 1.0f;
    output.ring[88400 * 2 - 1] = 1;
}

TEST_F(RenderTest, PrefillRendersEveryBlockOnce) {
    std::vector<uint8_t> song = xm::Build([] {
        xm::SongSpec spec = xm::SimpleSong(4, 64);
        spec.bpm = 138;
        return spec;
    }());
    Module* module = xm::Load(song);
    ASSERT_NE(module, nullptr);
    ASSERT_TRUE(ResetPlayback(module));
    module->tick_handler = CountingModuleTick;
    ASSERT_TRUE(AllocateRenderBuffers());
    ASSERT_TRUE(PrefillRing());
    EXPECT_EQ(output.next_block, 0);
    EXPECT_EQ(real_ticks, 111);  // 88400 frames at 798 a tick
    EXPECT_EQ(module->time_ms, 1903u);
    EXPECT_EQ(SyncTime(99), 1903u);
    // The queries report block 0: the end of the song's first block.
    EXPECT_EQ(GetPlayTime(module), 19u);
    EXPECT_EQ(GetPlayRow(module), 0u);
    FreeModule(module);
}

TEST_F(RenderTest, PreparationRefusesWhatCannotBePlayed) {
    Module wide = HandMadeModule(125, 33);
    EXPECT_FALSE(ResetPlayback(&wide));
    Module silent = HandMadeModule(125);
    silent.tick_handler = nullptr;
    EXPECT_FALSE(ResetPlayback(&silent));
    EXPECT_FALSE(ResetPlayback(nullptr));
    // Nothing was started: no module, no records, nothing to render.
    EXPECT_EQ(output.playing_module, nullptr);
    EXPECT_EQ(output.sync_entries, nullptr);
    EXPECT_FALSE(RenderReady());
    EXPECT_FALSE(PrefillRing());
    EXPECT_FALSE(StartRendering(&wide));
    int16_t frames[884 * 2];
    EXPECT_EQ(RenderNextBlock(frames, 884), 0);

    // Sized but without buffers (as after a refused device): no rendering either.
    Module module = HandMadeModule(125);
    ASSERT_TRUE(ResetPlayback(&module));
    EXPECT_FALSE(RenderReady());
    EXPECT_FALSE(PrefillRing());
    EXPECT_TRUE(tick_calls.empty());
    EXPECT_EQ(GetPlayTime(&module), 0u);  // the zero record of block 0

    // Prepared for the device rather than offline: RenderNextBlock stays out.
    ASSERT_TRUE(AllocateRenderBuffers());
    EXPECT_TRUE(RenderReady());
    EXPECT_EQ(RenderNextBlock(frames, 884), 0);
    EXPECT_TRUE(tick_calls.empty());
}

TEST_F(RenderTest, QueriesAreZeroUnlessSomethingPlays) {
    Module module = HandMadeModule(138);
    EXPECT_EQ(GetPlayOrder(&module), 0u);
    EXPECT_EQ(GetPlayRow(&module), 0u);
    EXPECT_EQ(GetPlayTime(&module), 0u);
    EXPECT_EQ(GetSongLoops(&module), 0u);
    EXPECT_EQ(GetSongLoopFrame(&module), -1);

    ASSERT_TRUE(StartRendering(&module));
    int16_t frames[884 * 2];
    ASSERT_EQ(RenderNextBlock(frames, 884), 884);
    module.row = 0x1FF;  // only the low byte is recorded
    module.order = 0x102;
    ASSERT_EQ(RenderNextBlock(frames, 884), 884);
    EXPECT_EQ(GetPlayTime(&module), 38u);
    EXPECT_EQ(GetPlayRow(&module), 0xFFu);
    EXPECT_EQ(GetPlayOrder(&module), 2u);
    Module other = HandMadeModule(125);  // any module reports what plays
    EXPECT_EQ(GetPlayTime(&other), 38u);
    EXPECT_EQ(GetPlayTime(nullptr), 0u);
    EXPECT_EQ(GetPlayRow(nullptr), 0u);
    EXPECT_EQ(GetPlayOrder(nullptr), 0u);

    EXPECT_TRUE(StopPlayback(&module));
    EXPECT_EQ(GetPlayTime(&module), 0u);
    EXPECT_EQ(GetPlayOrder(&module), 0u);
    EXPECT_EQ(GetPlayRow(&module), 0u);
    EXPECT_EQ(RenderNextBlock(frames, 884), 0);
}

TEST_F(RenderTest, RenderNextBlockNeedsRoomForABlock) {
    Module module = HandMadeModule(125);
    ASSERT_TRUE(StartRendering(&module));
    EXPECT_EQ(GetBlockFrames(), 884);
    std::vector<int16_t> frames(884 * 2, 7);
    EXPECT_EQ(RenderNextBlock(frames.data(), 883), 0);
    EXPECT_EQ(RenderNextBlock(nullptr, 884), 0);
    EXPECT_TRUE(tick_calls.empty());  // nothing rendered
    EXPECT_EQ(frames[0], 7);
    EXPECT_EQ(RenderNextBlock(frames.data(), 884), 884);
    EXPECT_EQ(frames[0], 0);
}

// ---- ConvertToPcm16 ---------------------------------------------------------

int16_t Reference(float value) {
    double rounded = nearbyint(double(value));  // the default mode: halves to even
    if (rounded < -32768.0) return -32768;
    if (rounded > 32767.0) return 32767;
    return int16_t(rounded);
}

TEST(ConvertToPcm16, RoundsHalvesToEvenThenClips) {
    const struct {
        float in;
        int16_t out;
    } cases[] = {
        {2.5f, 2},         {3.5f, 4},        {-0.5f, 0},         {-2.5f, -2},
        {0.5f, 0},         {1.5f, 2},        {-1.5f, -2},        {0.49999997f, 0},
        {-0.49999997f, 0}, {2.4999998f, 2},  {32767.4f, 32767},  {32767.5f, 32767},
        {32766.5f, 32766}, {-32768.5f, -32768}, {-32767.5f, -32768}, {40000.0f, 32767},
        {-40000.0f, -32768}, {1e30f, 32767}, {-1e30f, -32768},  {-0.0f, 0},
        {INFINITY, 32767}, {-INFINITY, -32768},
    };
    for (const auto& c : cases) {
        float in[2] = {c.in, -c.in};
        int16_t out[2];
        ConvertToPcm16(out, in, 1);
        EXPECT_EQ(out[0], c.out) << c.in;
        EXPECT_EQ(out[1], Reference(-c.in)) << -c.in;
    }
}

TEST(ConvertToPcm16, AgreesWithRoundingToNearestEverywhere) {
    std::vector<float> values;
    for (int k = -32800; k <= 32800; k++) {
        float base = float(k);
        for (float v : {base, base + 0.5f, base + 0.25f, base - 0.25f}) {
            values.push_back(v);
            values.push_back(nextafterf(v, INFINITY));
            values.push_back(nextafterf(v, -INFINITY));
        }
    }
    std::mt19937 random(12345);
    std::uniform_real_distribution<float> wide(-70000.0f, 70000.0f);
    for (int i = 0; i < 200000; i++) values.push_back(wide(random));
    if (values.size() % 2) values.push_back(0.0f);

    std::vector<int16_t> out(values.size());
    ConvertToPcm16(out.data(), values.data(), int32_t(values.size() / 2));
    size_t mismatches = 0;
    for (size_t i = 0; i < values.size(); i++)
        if (out[i] != Reference(values[i]) && mismatches++ < 10)
            ADD_FAILURE() << values[i] << " gave " << out[i];
    EXPECT_EQ(mismatches, 0u);
}

TEST(ConvertToPcm16, IgnoresEmptyCountsAndMissingBuffers) {
    float in[4] = {1.0f, 2.0f, 3.0f, 4.0f};
    int16_t out[4] = {9, 9, 9, 9};
    ConvertToPcm16(out, in, 0);
    ConvertToPcm16(out, in, -1);
    ConvertToPcm16(nullptr, in, 2);
    ConvertToPcm16(out, nullptr, 2);
    for (int16_t v : out) EXPECT_EQ(v, 9);
    ConvertToPcm16(out, in, 1);  // one frame is two values
    EXPECT_EQ(out[1], 2);
    EXPECT_EQ(out[2], 9);
}

}  // namespace
