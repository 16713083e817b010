// Block rendering, the playback preparation, the position queries, offline
// rendering against the live path, and the conversion to 16 bits.
#include <gtest/gtest.h>
#include <math.h>
#include <string.h>

#include <vector>

#include "mixer/mixer.h"
#include "output/output.h"
#include "replay/replay.h"
#include "tests/support/xm_builder.h"

using namespace vinto;

namespace {

std::vector<uint32_t> tick_times;      // the song time each tick handler call saw
int32_t forced_samples_per_tick = -1;  // >= 0: the handler sets this tick length

void RecordingTick(Module* module) {
    tick_times.push_back(module->time_ms);
    if (forced_samples_per_tick >= 0) module->samples_per_tick = forced_samples_per_tick;
}

// A song without data: the tick handler is all that runs.
Module HandMadeModule(int16_t bpm, int16_t channel_count = 4) {
    Module module = {};
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
    void SetUp() override { Stop(); }
    void TearDown() override { Stop(); }
    void Stop() {
        StopPlayback(&dummy_);
        tick_times.clear();
        forced_samples_per_tick = -1;
    }
    // The playback start without device: reset, buffers, nothing rendered.
    void Prepare(Module* module) {
        ASSERT_TRUE(ResetPlayback(module));
        ASSERT_TRUE(AllocateRenderBuffers());
    }
    Module dummy_ = HandMadeModule(125);
};

TEST_F(RenderTest, SlicesAreCutAtTickAndBlockBoundaries) {
    // Each slice adds its own whole milliseconds: 441 frames add 9, 884 add 20.
    const struct {
        const char* what;
        int16_t bpm;
        int32_t forced;               // tick length the handler sets; -1: the tempo's
        std::vector<int32_t> left;    // frames of the tick left after each block
        std::vector<uint32_t> time;   // song time after each block
        std::vector<uint32_t> ticks;  // song time at each tick
    } cases[] = {
        {"138 BPM: 798 + 86, then 712 + 172", 138, -1, {712, 626}, {19, 38}, {0, 18, 35}},
        {"32 BPM: a tick of 3445 frames", 32, -1, {2561, 1677, 793, 3354}, {20, 40, 60, 79}, {0, 77}},
        {"two ticks end on the block end", 125, 442, {0, 0}, {20, 40}, {0, 10, 20, 30}},
        {"441 + 441 + 2", 125, 441, {439}, {18}, {0, 9, 18}},
        {"a tick of no frames lasts one", 125, 0, {0}, {0}, std::vector<uint32_t>(884, 0)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Stop();
        Module module = HandMadeModule(c.bpm);
        forced_samples_per_tick = c.forced;
        Prepare(&module);
        for (size_t b = 0; b < c.left.size(); b++) {
            RenderBlock();
            EXPECT_EQ(module.tick_samples_left, c.left[b]) << "block " << b;
            EXPECT_EQ(module.time_ms, c.time[b]) << "block " << b;
            EXPECT_EQ(SyncTime(int32_t(b)), c.time[b]) << "block " << b;
        }
        EXPECT_EQ(tick_times, c.ticks);
    }
}

TEST_F(RenderTest, PreparationSizesResetsAndPrefills) {
    Module module = HandMadeModule(138, 4);
    module.time_ms = 5;  // leftovers that the reset must clear
    module.order = 3;
    module.row = 9;
    module.tick_samples_left = 17;
    memset(&channels[3], 0x5A, sizeof(Channel));
    Prepare(&module);

    uint32_t bits;
    memcpy(&bits, &output.inverse_mix_rate, 4);
    EXPECT_EQ(bits, 0x37BE37C6u);
    EXPECT_EQ(output.block_frames, 884);
    EXPECT_EQ(output.ring_frames, 88400);
    EXPECT_EQ(ramp_length, 128);
    EXPECT_EQ(inverse_ramp_length, 0.0078125f);
    EXPECT_EQ(module.global_volume, 64);
    EXPECT_EQ(module.speed, 6);
    EXPECT_EQ(module.row + module.order + module.tick + module.tick_samples_left + int(module.time_ms), 0);
    EXPECT_EQ(module.next_row, -1);
    EXPECT_EQ(module.next_order, -1);
    EXPECT_EQ(module.samples_per_tick, 798);
    EXPECT_EQ(channels[3].volume, 0);
    EXPECT_EQ(channels[3].voice, &VoicePool[3]);

    // The prefill renders every block once and hands block 0 to the queries.
    ASSERT_TRUE(PrefillRing());
    EXPECT_EQ(output.next_block, 0);
    EXPECT_EQ(tick_times.size(), 111u);  // 88400 frames at 798 a tick
    EXPECT_EQ(SyncTime(99), 1903u);
    EXPECT_EQ(GetPlayTime(&module), 19u);
    int16_t frames[884 * 2];
    EXPECT_EQ(RenderNextBlock(frames, 884), 0);  // prepared for the device, not offline
}

TEST_F(RenderTest, OfflineBlocksNeedTheirPreparationAndRoom) {
    Module wide = HandMadeModule(125, 33);
    Module silent = HandMadeModule(125);
    silent.tick_handler = nullptr;
    for (Module* refused : {&wide, &silent, static_cast<Module*>(nullptr)}) EXPECT_FALSE(StartRendering(refused));
    int16_t frames[884 * 2];
    EXPECT_EQ(RenderNextBlock(frames, 884), 0);
    Module module = HandMadeModule(138);
    ASSERT_TRUE(StartRendering(&module));
    EXPECT_EQ(RenderNextBlock(frames, 883), 0);
    EXPECT_EQ(RenderNextBlock(nullptr, 884), 0);
    EXPECT_TRUE(tick_times.empty());
    module.row = 0x1FF;  // only the low bytes are recorded
    module.order = 0x102;
    ASSERT_EQ(RenderNextBlock(frames, 884), 884);
    EXPECT_EQ(GetPlayRow(&module), 0xFFu);
    EXPECT_EQ(GetPlayOrder(&module), 2u);
    EXPECT_EQ(GetPlayTime(&module), 19u);
    EXPECT_EQ(GetPlayOrder(nullptr) + GetPlayRow(nullptr) + GetPlayTime(nullptr), 0u);
}

TEST_F(RenderTest, OfflineFramesAreThoseTheOutputThreadWouldWrite) {
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
    Prepare(module);
    ASSERT_TRUE(PrefillRing());
    std::vector<std::vector<int16_t>> live;
    std::vector<SyncEntry> live_sync;
    for (int i = 0; i < 260; i++) {
        const int32_t b = i < 100 ? i : output.next_block;
        if (i >= 100) RenderBlock();
        live.emplace_back(output.ring + b * 884 * 2, output.ring + (b + 1) * 884 * 2);
        live_sync.push_back(output.sync_entries[b]);
    }
    int last_row = 0;
    for (const SyncEntry& entry : live_sync) last_row = entry.row > last_row ? entry.row : last_row;
    EXPECT_EQ(last_row, 31);  // the whole pattern went by
    EXPECT_NE(live[20], std::vector<int16_t>(884 * 2, 0));
    // Offline, twice: each start resets everything (channels, voices, position)
    // left by the live run or in the middle of sounding notes.
    std::vector<int16_t> frames(884 * 2);
    for (int pass = 0; pass < 2; pass++) {
        ASSERT_TRUE(StartRendering(module));
        for (size_t i = 0; i < live.size(); i++) {
            ASSERT_EQ(RenderNextBlock(frames.data(), 884), 884);
            ASSERT_EQ(frames, live[i]) << "pass " << pass << " block " << i;
            EXPECT_EQ(GetPlayOrder(module), uint32_t(live_sync[i].order)) << "block " << i;
            EXPECT_EQ(GetPlayRow(module), uint32_t(live_sync[i].row)) << "block " << i;
            EXPECT_EQ(GetPlayTime(module), uint32_t(live_sync[i].time_ms)) << "block " << i;
        }
    }
    FreeModule(module);
}

TEST(ConvertToPcm16, RoundsHalvesToEvenThenClips) {
    const struct {
        float in;
        int16_t out;
    } named[] = {
        {2.5f, 2},           {3.5f, 4},           {-0.5f, 0},        {-2.5f, -2},       {1.5f, 2},
        {0.49999997f, 0},    {2.4999998f, 2},     {32767.4f, 32767}, {32767.5f, 32767}, {32766.5f, 32766},
        {-32768.5f, -32768}, {-32767.5f, -32768}, {40000.0f, 32767}, {-1e30f, -32768},  {INFINITY, 32767},
        {-INFINITY, -32768},
    };
    // Then every integer, half and quarter in range and a little beyond, with
    // their neighbours: all against the default rounding.
    std::vector<float> values;
    for (const auto& c : named) values.push_back(c.in);
    for (int k = -32800; k <= 32800; k++) {
        for (float v : {float(k), k + 0.5f, k + 0.25f, k - 0.25f})
            values.insert(values.end(), {v, nextafterf(v, INFINITY), nextafterf(v, -INFINITY)});
    }
    // In one call (eight values a step where the machine allows), and a frame at a time.
    std::vector<int16_t> out(values.size() + 1, 9), one_by_one(values.size());
    ConvertToPcm16(out.data(), values.data(), int32_t(values.size() / 2));
    for (size_t i = 0; i < values.size(); i += 2) ConvertToPcm16(&one_by_one[i], &values[i], 1);
    for (size_t i = 0; i < sizeof(named) / sizeof(named[0]); i++) EXPECT_EQ(out[i], named[i].out) << named[i].in;
    size_t mismatches = 0;
    for (size_t i = 0; i < values.size(); i++) {
        const double rounded = nearbyint(double(values[i]));
        const int16_t expected = int16_t(rounded < -32768.0 ? -32768.0 : rounded > 32767.0 ? 32767.0 : rounded);
        if ((out[i] != expected || one_by_one[i] != expected) && mismatches++ < 10)
            ADD_FAILURE() << values[i] << " gave " << out[i] << " and " << one_by_one[i];
    }
    EXPECT_EQ(mismatches, 0u);
    EXPECT_EQ(out[values.size()], 9) << "nothing past the frames";
}

}  // namespace
