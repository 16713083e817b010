// Offline rendering against the live path, and the end of a pass of the song.
#include <gtest/gtest.h>
#include <string.h>

#include <algorithm>
#include <vector>

#include "output/output.h"
#include "tests/support/xm_builder.h"

namespace {

// Two channels of notes with a tempo change and slides, so that voices,
// ramps and ticks of different lengths all take part.
xm::SongSpec BusySong() {
    xm::SongSpec song = xm::SimpleSong(2, 32);
    song.bpm = 138;
    xm::PatternSpec& p = song.patterns[0];
    for (int row = 0; row < 32; row += 4) {
        p.At(row, 0, 2) = {uint8_t(40 + row / 2), 1, 0, 0, 0};
        p.At(row + 2, 1, 2) = {uint8_t(52 - row / 4), 1, uint8_t(0x20 + row), 0x0A, 0x04};
    }
    p.At(9, 0, 2).effect = 0x0F;
    p.At(9, 0, 2).param = 0x60;  // 96 BPM from row 9
    p.At(17, 1, 2).note = 97;    // key off
    return song;
}

std::vector<int16_t> Block(int32_t block) {
    const int16_t* start = output.ring + size_t(block) * 884 * 2;
    return std::vector<int16_t>(start, start + 884 * 2);
}

class OfflineTest : public ::testing::Test {
protected:
    void TearDown() override {
        if (module_) FreeModule(module_);
    }
    Module* Load(const xm::SongSpec& song) {
        module_ = xm::Load(song);
        return module_;
    }
    Module* module_ = nullptr;
};

TEST_F(OfflineTest, FramesAreThoseTheOutputThreadWouldWrite) {
    Module* module = Load(BusySong());
    ASSERT_NE(module, nullptr);
    constexpr int LATER_BLOCKS = 160;  // past the ring's end, into its second round

    // The live path: prefill, then the thread rewrites each block the device left.
    ASSERT_TRUE(StopPlayback(module));
    ASSERT_TRUE(ResetPlayback(module));
    ASSERT_TRUE(AllocateRenderBuffers());
    ASSERT_TRUE(PrefillRing());
    std::vector<std::vector<int16_t>> live;
    std::vector<SyncEntry> live_sync;
    for (int b = 0; b < 100; b++) {
        live.push_back(Block(b));
        live_sync.push_back(output.sync_entries[b]);
    }
    for (int i = 0; i < LATER_BLOCKS; i++) {
        int32_t b = output.next_block;
        RenderBlock();
        live.push_back(Block(b));
        live_sync.push_back(output.sync_entries[b]);
    }

    // Offline: one block per call.
    ASSERT_TRUE(StartRendering(module));
    std::vector<int16_t> frames(884 * 2);
    bool sound = false;
    uint32_t last_row = 0;
    for (size_t i = 0; i < live.size(); i++) {
        ASSERT_EQ(RenderNextBlock(frames.data(), 884), 884);
        ASSERT_EQ(frames, live[i]) << "block " << i;
        for (int16_t v : frames) sound |= v != 0;
        EXPECT_EQ(GetPlayOrder(module), uint32_t(live_sync[i].order)) << "block " << i;
        EXPECT_EQ(GetPlayRow(module), uint32_t(live_sync[i].row)) << "block " << i;
        EXPECT_EQ(GetPlayTime(module), uint32_t(live_sync[i].time_ms)) << "block " << i;
        last_row = std::max(last_row, GetPlayRow(module));
    }
    EXPECT_TRUE(sound);
    EXPECT_EQ(last_row, 31u);  // the whole pattern went by
}

TEST_F(OfflineTest, StartingAgainResetsEverything) {
    Module* module = Load(BusySong());
    ASSERT_NE(module, nullptr);
    std::vector<int16_t> first, second, frames(884 * 2);
    ASSERT_TRUE(StartRendering(module));
    for (int b = 0; b < 250; b++) {
        ASSERT_EQ(RenderNextBlock(frames.data(), 884), 884);
        first.insert(first.end(), frames.begin(), frames.end());
    }
    // Restart in the middle of sounding notes.
    ASSERT_TRUE(StartRendering(module));
    for (int b = 0; b < 250; b++) {
        ASSERT_EQ(RenderNextBlock(frames.data(), 884), 884);
        second.insert(second.end(), frames.begin(), frames.end());
    }
    EXPECT_TRUE(first == second);
}

struct LoopCase {
    const char* name;
    std::vector<int> pattern_rows;
    std::vector<uint8_t> orders;
    uint16_t restart;
    uint16_t speed, bpm;
    int break_order, break_row;  // -1: no pattern break
    uint64_t first_end, second_end;  // frames from the start at which passes end
};

TEST_F(OfflineTest, PassesEndWhereTheSongLeavesItsLastOrder) {
    const LoopCase cases[] = {
        {"one pattern", {64}, {0}, 0, 6, 125, -1, -1, 64 * 6 * 882, 2 * 64 * 6 * 882},
        {"restart position", {64, 16}, {0, 1}, 1, 6, 125, -1, -1, 80 * 6 * 882, 96 * 6 * 882},
        {"break on the last order", {64, 64}, {0, 1}, 1, 6, 125, 1, 7, 72 * 6 * 882,
         144 * 6 * 882},
        {"several in one block", {1}, {0}, 0, 1, 255, -1, -1, 432, 864},
    };
    for (const LoopCase& c : cases) {
        SCOPED_TRACE(c.name);
        xm::SongSpec song = xm::SimpleSong(2, c.pattern_rows[0]);
        song.patterns.clear();
        for (int rows : c.pattern_rows) {
            xm::PatternSpec p;
            p.rows = rows;
            song.patterns.push_back(p);
        }
        song.orders = c.orders;
        song.restart_position = c.restart;
        song.speed = c.speed;
        song.bpm = c.bpm;
        if (c.break_order >= 0) {
            xm::Cell& cell = song.patterns[c.orders[c.break_order]].At(c.break_row, 1, 2);
            cell.effect = 0x0D;
            cell.param = 0x00;
        }
        if (module_) FreeModule(module_);
        Module* module = Load(song);
        ASSERT_NE(module, nullptr);
        ASSERT_TRUE(StartRendering(module));
        EXPECT_EQ(GetSongLoops(module), 0u);

        std::vector<int16_t> frames(884 * 2);
        std::vector<uint64_t> ends;
        uint32_t loops = 0;
        for (uint64_t block = 0; ends.size() < 2 && block < 2000; block++) {
            ASSERT_EQ(RenderNextBlock(frames.data(), 884), 884);
            uint32_t now = GetSongLoops(module);
            int32_t frame = GetSongLoopFrame(module);
            if (now == loops) {
                EXPECT_EQ(frame, -1);
                continue;
            }
            ASSERT_GE(frame, 0);
            ASSERT_LT(frame, 884);
            ends.push_back(block * 884 + uint64_t(frame));
            if (now - loops >= 2) {  // the block held both ends
                EXPECT_LT(c.second_end, (block + 1) * 884);
                ends.push_back(c.second_end);
            }
            loops = now;
        }
        ASSERT_EQ(ends.size(), 2u);
        EXPECT_EQ(ends[0], c.first_end);
        EXPECT_EQ(ends[1], c.second_end);
        EXPECT_EQ(GetSongLoops(module), 2u);
    }
    EXPECT_EQ(GetSongLoops(nullptr), 0u);
    EXPECT_EQ(GetSongLoopFrame(nullptr), -1);
    StopPlayback(module_);
    EXPECT_EQ(GetSongLoops(module_), 0u);
}

}  // namespace
