// Live playback against the device double. Start and stop: what each leaves
// behind, refusals, many quick cycles while the output thread renders (CI runs
// these under ThreadSanitizer). The thread: for each play position, the blocks
// it renders and what the queries report, every ring block compared with offline
// rendering, so a block rendered too early, too late, twice or out of order shows.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <random>
#include <vector>

#include "output/output.h"
#include "tests/support/fake_wave_out.h"
#include "tests/support/playback_song.h"

using namespace vinto;

namespace {

constexpr int32_t BLOCK_FRAMES = 884, BLOCKS = 100;
constexpr uint64_t BLOCK_BYTES = BLOCK_FRAMES * 4, RING_BYTES = BLOCK_BYTES * BLOCKS;
const std::string PLAY = "open prepare write ", STOP = "reset unprepare close ";

bool Stopped() {
    return !output.playing_module && !output.sync_entries && !output.ring && !output.mix_allocation &&
           output.next_block == 0 && output.sync_index.load() == 0 && output.thread_finished.load() == 1 &&
           !fake_wave_out::Now().open;
}

uint32_t Queries(Module* module) { return GetPlayOrder(module) + GetPlayRow(module) + GetPlayTime(module); }

class Playback : public ::testing::Test {
protected:
    void SetUp() override {
        fake_wave_out::Reset();
        first_ = xm::Load(song_), second_ = xm::Load(song_);
        ASSERT_TRUE(first_ && second_);
    }
    void TearDown() override {
        EXPECT_TRUE(FreeModule(first_) && FreeModule(second_) && Stopped());
        EXPECT_EQ(fake_wave_out::Now().misuses, "");
    }
    const std::vector<uint8_t> song_ = xm::Build(playback_test::MelodySong());
    Module *first_ = nullptr, *second_ = nullptr;
};

TEST_F(Playback, StartsStopsAndRefusals) {
    EXPECT_FALSE(StopPlayback(nullptr) || StartPlayback(nullptr));
    EXPECT_TRUE(StopPlayback(first_) && Stopped() && Queries(first_) == 0);  // nothing playing
    ASSERT_TRUE(StartPlayback(first_));
    fake_wave_out::SetPosition(30 * BLOCK_BYTES);  // the thread renders on
    ASSERT_TRUE(fake_wave_out::WaitForPass());
    EXPECT_TRUE(output.next_block == 30 && GetPlayRow(first_) > 0);
    ASSERT_TRUE(StartPlayback(second_));  // the first stopped completely, then the second started
    EXPECT_EQ(output.playing_module, second_);
    // Each refused start stops what played first; only a refused device leaves
    // the reset state (no device, ring or thread), until the next stop.
    SetFileIo(nullptr, nullptr, nullptr, nullptr, nullptr);
    EXPECT_FALSE(StartPlayback(first_));
    EXPECT_TRUE(Stopped());
    xm::InstallMemoryFile(song_);
    ASSERT_TRUE(StartPlayback(first_));
    second_->channel_count = 33;  // more than the channel table holds (never loaded)
    EXPECT_FALSE(StartPlayback(second_));
    EXPECT_TRUE(Stopped());
    second_->channel_count = 2;
    ASSERT_TRUE(StartPlayback(first_));
    fake_wave_out::SetPosition(20 * BLOCK_BYTES);
    ASSERT_TRUE(fake_wave_out::WaitForPass());
    fake_wave_out::RefuseOpen(true);
    EXPECT_FALSE(StartPlayback(first_));
    EXPECT_TRUE(output.playing_module == first_ && output.sync_entries && first_->time_ms == 0);
    EXPECT_TRUE(!output.ring && !output.mix_allocation && output.thread_finished.load() == 1);
    EXPECT_EQ(Queries(first_), 0u);  // the zero record of block 0
    EXPECT_TRUE(StopPlayback(first_) && Stopped());
    EXPECT_EQ(fake_wave_out::Now().calls, PLAY + STOP + PLAY + STOP + PLAY + STOP + PLAY + STOP + "refused ");
}

// Quick starts and stops of every kind while the thread renders, the queries
// asked on this thread meanwhile: nothing may be left running, open or
// allocated, the device never sees a call out of turn, and what the queries
// report only moves forward within a playback.
TEST_F(Playback, ManyQuickCycles) {
    std::mt19937 random(6);
    fake_wave_out::SetPosition(0, 2 * BLOCK_BYTES);  // per query: the thread renders all the time
    int moved = 0;
    for (int cycle = 0; cycle < 300; cycle++) {
        Module*& module = cycle % 2 ? second_ : first_;
        ASSERT_TRUE(StartPlayback(module)) << cycle;
        const auto end = std::chrono::steady_clock::now() + std::chrono::microseconds(random() % 3000);
        uint32_t heard = 0;
        while (std::chrono::steady_clock::now() < end) {
            ASSERT_GE(GetPlayTime(module), heard) << cycle;
            heard = GetPlayTime(module);
        }
        moved += heard > 19;  // past block 0
        switch (random() % 4) {
            case 0: EXPECT_TRUE(StopPlayback(module)); break;
            case 1: break;  // stopped by the next start
            case 2:         // freed while it plays
                EXPECT_TRUE(FreeModule(module) && Stopped()) << cycle;
                module = xm::Load(song_);
                break;
            case 3: EXPECT_TRUE(StopPlayback(module == first_ ? second_ : first_)); break;
        }
    }
    EXPECT_TRUE(StopPlayback(first_));
    EXPECT_GT(moved, 10);
}

// Each ring block holds the latest song block rendered into it: for every device
// position, blocks up to, not including, the one heard are rendered once, in ring order.
TEST_F(Playback, TheThreadRendersEachBlockOnceTheDeviceHasLeftIt) {
    struct SongBlock {
        std::vector<int16_t> pcm;
        std::vector<uint32_t> heard;  // what the queries report while it is heard
    };
    std::vector<SongBlock> song(600);  // the song's first blocks, rendered offline
    ASSERT_TRUE(StartRendering(second_));
    for (SongBlock& block : song) {
        block.pcm.resize(BLOCK_FRAMES * 2);
        ASSERT_EQ(RenderNextBlock(block.pcm.data(), BLOCK_FRAMES), BLOCK_FRAMES);
        block.heard = {GetPlayOrder(second_), GetPlayRow(second_), GetPlayTime(second_)};
    }
    ASSERT_TRUE(StartPlayback(first_) && fake_wave_out::WaitForPass());
    int32_t rendered = BLOCKS, heard = 0;  // song blocks in the ring so far; the ring block being heard
    const uint64_t wrap = uint64_t(1) << 32;  // where the device's 32-bit byte count wraps
    const uint64_t path[] = {
        0, BLOCK_BYTES - 4,       // the prefill; the last frame of block 0: nothing yet
        BLOCK_BYTES,              // the first of block 1: block 0 only
        40 * BLOCK_BYTES + 1000,  // a held-up thread: blocks 1..39 in one pass
        87516 * 4, 88399 * 4,     // the first frame of block 99: up to 98; its last: 99 left alone
        RING_BYTES, 2 * RING_BYTES - 4,
        3 * RING_BYTES + 7 * BLOCK_BYTES,  // more than a ring at once
        4 * RING_BYTES, 4 * RING_BYTES,    // a pass whose position query fails renders nothing, then one that works
        wrap - RING_BYTES / 2, wrap - 4, wrap + 3 * BLOCK_BYTES, wrap + RING_BYTES / 2,  // no jump at the wrap
    };
    for (size_t step = 0; step < sizeof path / sizeof path[0]; step++) {
        const bool answered = step != 9;
        const int32_t target = answered ? int32_t(path[step] % RING_BYTES / BLOCK_BYTES) : heard;
        if (step > 0) {
            fake_wave_out::SetPosition(uint32_t(path[step]), 0, answered);
            ASSERT_TRUE(fake_wave_out::WaitForPass());
        }
        rendered += (target - heard + BLOCKS) % BLOCKS, heard = target;
        ASSERT_LT(rendered, int32_t(song.size()));
        EXPECT_EQ((std::vector<int32_t>{output.next_block, output.sync_index.load()}), (std::vector<int32_t>{heard, heard}))
            << path[step];
        for (int32_t b = 0; b < BLOCKS; b++) {
            const int16_t* ring = output.ring + size_t(b) * BLOCK_FRAMES * 2;
            ASSERT_TRUE(std::equal(ring, ring + BLOCK_FRAMES * 2, song[b + (rendered - 1 - b) / BLOCKS * BLOCKS].pcm.begin()))
                << "ring block " << b << " at byte " << path[step];
        }
        EXPECT_EQ((std::vector<uint32_t>{GetPlayOrder(first_), GetPlayRow(first_), GetPlayTime(first_)}),
                  song[heard + (rendered - 1 - heard) / BLOCKS * BLOCKS].heard) << path[step];
    }
}

}  // namespace
