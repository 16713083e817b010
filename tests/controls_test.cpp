// Offline rendering and the controls. The preparation, the position queries and where a pass ends, on hand-made
// modules; then each control against plain offline rendering: a seek equals the rendering from the start cut there;
// a muted channel equals the song without its cells; full volume changes no bit; passes end at the frames the song's
// timing gives; song information as the file has it.
#include <gtest/gtest.h>
#include <stdlib.h>
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

class Blocks : public ::testing::Test {
protected:
    void SetUp() override { StopPlayback(&dummy_), tick_times.clear(); }
    void TearDown() override { StopPlayback(&dummy_), tick_times.clear(); }
    Module dummy_ = HandMadeModule(125);
};

TEST_F(Blocks, PreparationResetsAndPrefillsForTheDevice) {
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

TEST_F(Blocks, OfflineBlocksNeedTheirPreparationAndRoom) {
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
TEST_F(Blocks, TheBlockWhereThePassEndsSaysWhere) {
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


// Speed 3 at 125 BPM: 882 frames a tick, 2646 a row. Order 0 plays pattern 0
// (32 rows), order 1 pattern 1 (16 rows), the restart position is order 1: a
// first pass of 48 rows (127008 frames, 2880 ms), then passes of 16 rows
// (42336 frames). Channel 0 plays a looping square with a volume envelope
// (a ramp on every tick), channel 1 a ping-pong loop sliding its volume
// down every tick, channel 2 a sample without loop that ends.
constexpr int32_t BLOCK = 884, TICK = 882, ROW = 3 * TICK;
constexpr uint64_t FIRST_PASS = 48 * ROW, LATER_PASS = 16 * ROW;

xm::SongSpec ControlSong(bool without_channel_1 = false) {
    xm::SongSpec song = xm::SimpleSong(4, 32);
    song.speed = 3;
    song.patterns.resize(2);
    song.patterns[1].rows = 16;
    song.orders = {0, 1};
    song.restart_position = 1;
    song.instruments[0].volume_envelope.points = {{0, 64}, {8, 16}, {40, 48}};
    song.instruments[0].volume_envelope.type = 1;
    xm::InstrumentSpec other;
    xm::SampleSpec wave, shot;
    for (int i = 0; i < 50; i++) wave.pcm.push_back(int16_t(i * 5 - 120));
    wave.loop_type = xm::PINGPONG_LOOP, wave.loop_start = 10, wave.loop_length = 37;
    shot.pcm = std::vector<int16_t>(300, 90);
    other.samples = {wave, shot};
    for (int n = 48; n < 96; n++) other.keymap[n] = 1;  // high notes play the sample without loop
    song.instruments.push_back(other);
    for (int p = 0; p < 2; p++) {
        for (int row = 0; row < song.patterns[p].rows; row += 4) {
            song.patterns[p].At(row, 0, 4) = {uint8_t(37 + row), 1, 0, 0, 0};
            if (!without_channel_1) song.patterns[p].At(row + 1, 1, 4) = {uint8_t(30 + row), 2, 0, 0x0A, 0x01};
            song.patterns[p].At(row + 2, 2, 4) = {85, 2, 0, 0, 0};
        }
    }
    return song;
}

// Renders until at least frames frames or the end; the frames as returned.
std::vector<int16_t> Render(uint64_t frames) {
    std::vector<int16_t> out, block(2 * BLOCK);
    while (out.size() < 2 * frames) {
        const int32_t got = RenderNextBlock(block.data(), BLOCK);
        if (got == 0) break;
        out.insert(out.end(), block.begin(), block.begin() + 2 * got);
    }
    return out;
}

bool SameFrom(const std::vector<int16_t>& whole, uint64_t frame, const std::vector<int16_t>& part) {
    return whole.size() >= 2 * frame + part.size() && !part.empty() &&
           memcmp(whole.data() + 2 * frame, part.data(), part.size() * sizeof(int16_t)) == 0;
}

class Controls : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(module_ && StartRendering(module_)); }
    void TearDown() override { FreeModule(module_); }
    Module* module_ = xm::Load(ControlSong());
};

TEST_F(Controls, SeekEqualsTheRenderingFromTheStartCutThere) {
    const std::vector<int16_t> whole = Render(FIRST_PASS + 3 * LATER_PASS);
    const struct { const char* what; uint64_t frame; } cases[] = {
        {"40 frames into a tick's ramps, inside the envelope's second segment", 12 * TICK + 40},
        {"order 1, the last frame of a block", 33 * ROW + (BLOCK - 1 - 33 * ROW % BLOCK)},
        {"second pass, the sample without loop ended", FIRST_PASS + 2 * ROW + 500},
        {"third pass", FIRST_PASS + LATER_PASS + 7777},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_TRUE(SeekToFrame(module_, c.frame));
        EXPECT_EQ(GetPlayPosition(module_), c.frame);
        EXPECT_TRUE(SameFrom(whole, c.frame, Render(6 * BLOCK)));
    }
    ASSERT_TRUE(SeekToTime(module_, 2000));  // 88200 frames
    EXPECT_TRUE(SameFrom(whole, 88200, Render(BLOCK)));
    // Orders and rows: the first time the song plays them (order 1 row 0 again in every later pass).
    const struct { int32_t order, row; bool found; uint64_t frame; } rows[] = {
        {0, 0, true, 0}, {1, 4, true, 36 * ROW}, {0, 31, true, 31 * ROW}, {1, 16, false, 0}, {2, 0, false, 0}, {-1, 0, false, 0}};
    for (const auto& r : rows) {
        SCOPED_TRACE(testing::Message() << "order " << r.order << " row " << r.row);
        EXPECT_EQ(SeekToOrder(module_, r.order, r.row), r.found);
        if (r.found) {
            EXPECT_TRUE(SameFrom(whole, r.frame, Render(BLOCK)));
        }
    }
    EXPECT_FALSE(SeekToFrame(nullptr, 0));
}

TEST_F(Controls, MutedChannelEqualsTheSongWithoutItsCellsAndUnmutesSeamlessly) {
    const std::vector<int16_t> whole = Render(40 * BLOCK);
    Module* without = xm::Load(ControlSong(true));
    ASSERT_TRUE(without && StartRendering(without));
    const std::vector<int16_t> expected = Render(20 * BLOCK);
    FreeModule(without);
    ASSERT_TRUE(StartRendering(module_));
    EXPECT_TRUE(SetChannelMuted(module_, 1, true) && IsChannelMuted(module_, 1) && !IsChannelMuted(module_, 0));
    EXPECT_EQ(Render(20 * BLOCK), expected);
    EXPECT_NE(expected, std::vector<int16_t>(whole.begin(), whole.begin() + expected.size()));  // it was heard
    EXPECT_TRUE(SetChannelMuted(module_, 1, false));  // its voices went on unheard
    EXPECT_TRUE(SameFrom(whole, 20 * BLOCK, Render(20 * BLOCK)));
    EXPECT_FALSE(SetChannelMuted(module_, 4, true));  // the song has channels 0..3
    EXPECT_FALSE(SetChannelMuted(module_, -1, true));
}

// Full volume and silence: tests/tools_test.py; half lies within one of half the rounded mix.
TEST_F(Controls, HalfVolumeHalves) {
    const std::vector<int16_t> whole = Render(30 * BLOCK);
    ASSERT_TRUE(SetMasterVolume(module_, 0.25f) && SetMasterVolume(module_, 0.5f) && GetMasterVolume(module_) == 0.5f);
    ASSERT_TRUE(StartRendering(module_));
    const std::vector<int16_t> half = Render(30 * BLOCK);
    ASSERT_EQ(half.size(), whole.size());
    for (size_t i = 0; i < whole.size(); i++) ASSERT_LE(abs(half[i] - whole[i] / 2), 1) << i;
    EXPECT_FALSE(SetMasterVolume(module_, 1.5f) || SetMasterVolume(module_, -0.1f));
}

TEST_F(Controls, PassesEndAtTheSongsTimingAndTheDurationSaysWhere) {
    EXPECT_EQ(GetSongDurationFrames(module_), FIRST_PASS);
    EXPECT_EQ(GetSongDurationMs(module_), 2880u);
    const struct { int32_t passes; uint64_t frames; } cases[] = {{1, FIRST_PASS}, {2, FIRST_PASS + LATER_PASS}, {4, FIRST_PASS + 3 * LATER_PASS}};
    for (const auto& c : cases) {
        ASSERT_TRUE(SetPassCount(module_, c.passes) && StartRendering(module_));
        EXPECT_EQ(Render(1 << 20).size(), 2 * c.frames) << c.passes;
        int16_t block[2 * BLOCK];
        EXPECT_EQ(RenderNextBlock(block, BLOCK), 0);
        EXPECT_TRUE(HasSongEnded(module_));
        EXPECT_EQ(GetPlayPosition(module_), c.frames);
        EXPECT_EQ(GetSongLoops(module_), uint32_t(c.passes));
    }
    ASSERT_TRUE(SeekToFrame(module_, FIRST_PASS - 100));  // a seek inside the last pass plays it out
    EXPECT_FALSE(HasSongEnded(module_));
    EXPECT_EQ(Render(1 << 20).size(), 2 * (3 * LATER_PASS + 100));
    ASSERT_TRUE(SetPassCount(module_, 0) && StartRendering(module_));  // for ever again
    EXPECT_EQ(Render(4 * FIRST_PASS).size(), 2 * ((4 * FIRST_PASS + BLOCK - 1) / BLOCK) * BLOCK);
    EXPECT_FALSE(SetPassCount(module_, -1));
}

// What --info prints: tests/tools_test.py; here Amiga periods, the refusals
// and the cap of the duration.
TEST(SongInformation, AmigaRefusalsAndTheDurationsCap) {
    xm::SongSpec amiga = ControlSong();
    amiga.flags = 0;
    Module* module = xm::Load(amiga);
    EXPECT_FALSE(UsesLinearFrequencies(module));
    EXPECT_TRUE(GetInstrumentName(module, 2) == nullptr && GetInstrumentName(module, -1) == nullptr);
    EXPECT_TRUE(*GetSongTitle(nullptr) == 0 && GetSongDurationFrames(nullptr) == 0 && !UsesLinearFrequencies(nullptr));
    FreeModule(module);
    // 256 rows at speed 31 and 32 BPM (3445 frames a tick): 27339520 frames an order.
    xm::SongSpec slow = xm::SimpleSong(1, 256);
    slow.speed = 31, slow.bpm = 32;
    for (const auto& c : {std::make_pair(2, uint64_t(54679040)), std::make_pair(3, uint64_t(0))}) {
        slow.orders.assign(c.first, 0);  // three orders exceed 30 minutes: no duration
        module = xm::Load(slow);
        EXPECT_EQ(GetSongDurationFrames(module), c.second);
        FreeModule(module);
    }
}

}  // namespace
