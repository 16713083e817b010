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
constexpr uint64_t WRAP = uint64_t(1) << 32;  // where the device's 32-bit byte count wraps
constexpr uint32_t BUSY = 2 * BLOCK_BYTES;    // per position query: the thread renders all the time
const std::string PLAY = "open prepare write ", STOP = "reset unprepare close ";

bool Stopped() {
    return !output.playing_module && !output.sync_entries && !output.ring && !output.mix_allocation &&
           output.next_block == 0 && output.sync_index.load() == 0 && output.thread_finished.load() == 1 &&
           !fake_wave_out::Now().open;
}

uint32_t Queries(Module* module) { return GetPlayOrder(module) + GetPlayRow(module) + GetPlayTime(module); }

class PlaybackStartStopTest : public ::testing::Test {
protected:
    void SetUp() override {
        fake_wave_out::Reset();
        first_ = xm::Load(song_);
        second_ = xm::Load(song_);
        ASSERT_TRUE(first_ && second_);
    }
    void TearDown() override {
        EXPECT_TRUE(FreeModule(first_));
        EXPECT_TRUE(FreeModule(second_));
        EXPECT_TRUE(Stopped());
        EXPECT_EQ(fake_wave_out::Now().misuses, "");
    }
    const std::vector<uint8_t> song_ = xm::Build(playback_test::MelodySong());
    Module* first_ = nullptr;
    Module* second_ = nullptr;
};

TEST_F(PlaybackStartStopTest, NullModulesNothingPlayingAndAStartWhileAnotherPlays) {
    EXPECT_FALSE(StopPlayback(nullptr));
    EXPECT_TRUE(StopPlayback(first_));  // nothing playing
    EXPECT_TRUE(Stopped());
    EXPECT_EQ(Queries(first_), 0u);
    ASSERT_TRUE(StartPlayback(first_));
    EXPECT_FALSE(StartPlayback(nullptr));
    EXPECT_FALSE(StopPlayback(nullptr));
    fake_wave_out::SetPosition(30 * BLOCK_BYTES);  // the thread still renders
    ASSERT_TRUE(fake_wave_out::WaitForPass());
    EXPECT_EQ(output.next_block, 30);
    EXPECT_GT(GetPlayRow(first_), 0u);
    ASSERT_TRUE(StartPlayback(second_));  // the first stopped completely, then the second started
    EXPECT_EQ(output.playing_module, second_);
    EXPECT_EQ(fake_wave_out::Now().calls, PLAY + STOP + PLAY);
    EXPECT_TRUE(StopPlayback(second_));
    EXPECT_EQ(Queries(second_), 0u);
}

// Each refused start stops what played first; only a refused device leaves
// the reset state (no device, ring or thread), until the next stop.
TEST_F(PlaybackStartStopTest, RefusedStarts) {
    ASSERT_TRUE(StartPlayback(first_));
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
    EXPECT_TRUE(StopPlayback(first_));
    EXPECT_TRUE(Stopped());
    EXPECT_EQ(fake_wave_out::Now().calls, PLAY + STOP + PLAY + STOP + PLAY + STOP + "refused ");
}

// Quick starts and stops of every kind while the thread renders, the queries
// asked on this thread meanwhile: nothing may be left running, open or
// allocated, the device never sees a call out of turn, and what the queries
// report only moves forward within a playback.
TEST_F(PlaybackStartStopTest, ManyQuickCycles) {
    std::mt19937 random(6);
    fake_wave_out::SetPosition(0, BUSY);
    int moved = 0;
    for (int cycle = 0; cycle < 300; cycle++) {
        Module*& module = cycle % 2 ? second_ : first_;
        ASSERT_TRUE(StartPlayback(module)) << cycle;
        const auto end = std::chrono::steady_clock::now() + std::chrono::microseconds(random() % 3000);
        uint32_t heard = 0;
        while (std::chrono::steady_clock::now() < end) {
            const uint32_t time = GetPlayTime(module);
            ASSERT_GE(time, heard) << cycle;
            heard = time;
        }
        moved += heard > 19;  // past block 0
        switch (random() % 4) {
            case 0: EXPECT_TRUE(StopPlayback(module)); break;
            case 1: break;  // stopped by the next start
            case 2:  // freed while it plays
                EXPECT_TRUE(FreeModule(module));
                EXPECT_TRUE(Stopped()) << cycle;
                module = xm::Load(song_);
                break;
            case 3: EXPECT_TRUE(StopPlayback(module == first_ ? second_ : first_)); break;
        }
    }
    EXPECT_TRUE(StopPlayback(first_));
    EXPECT_GT(moved, 10);
}

// The ring block a device byte count falls in, counted without any wrap.
int32_t BlockAt(uint64_t bytes) { return int32_t(bytes % RING_BYTES / BLOCK_BYTES); }

struct SongBlock {
    std::vector<int16_t> pcm;              // BLOCK_FRAMES stereo frames
    std::vector<uint32_t> order_row_time;  // what the queries report while it is heard
};
std::vector<SongBlock> song;  // the song's first blocks, rendered offline

class PlaybackThreadTest : public PlaybackStartStopTest {
protected:
    static void SetUpTestSuite() {
        Module* module = xm::Load(playback_test::MelodySong());
        ASSERT_TRUE(StartRendering(module));
        song.resize(600);
        for (SongBlock& block : song) {
            block.pcm.resize(BLOCK_FRAMES * 2);
            ASSERT_EQ(RenderNextBlock(block.pcm.data(), BLOCK_FRAMES), BLOCK_FRAMES);
            block.order_row_time = {GetPlayOrder(module), GetPlayRow(module), GetPlayTime(module)};
        }
        EXPECT_TRUE(FreeModule(module));
    }
    void SetUp() override {
        PlaybackStartStopTest::SetUp();
        ASSERT_TRUE(StartPlayback(first_));
        ASSERT_TRUE(fake_wave_out::WaitForPass());
        ExpectState(0);  // the prefill: song blocks 0..99, block 0 heard
    }
    // Puts the device at `bytes` (cut to its 32 bits) and checks what the
    // thread's next pass leaves; a query left unanswered renders nothing.
    void MoveTo(uint64_t bytes, bool answered = true) {
        fake_wave_out::SetPosition(uint32_t(bytes), 0, answered);
        ASSERT_TRUE(fake_wave_out::WaitForPass());
        if (answered) {
            rendered_ += (BlockAt(bytes) - heard_ + BLOCKS) % BLOCKS;
            heard_ = BlockAt(bytes);
        }
        ExpectState(bytes);
    }
    // Each block up to, not including, the one heard is rendered once, in ring
    // order: every ring block holds the latest song block rendered into it.
    void ExpectState(uint64_t bytes) {
        ASSERT_LT(rendered_, int32_t(song.size()));
        EXPECT_EQ(output.next_block, heard_) << bytes;
        EXPECT_EQ(output.sync_index.load(), heard_) << bytes;
        for (int32_t b = 0; b < BLOCKS; b++) {
            const int16_t* ring = output.ring + size_t(b) * BLOCK_FRAMES * 2;
            ASSERT_TRUE(std::equal(ring, ring + BLOCK_FRAMES * 2, SongBlockIn(b).pcm.begin()))
                << "ring block " << b << " at byte " << bytes;
        }
        EXPECT_EQ(std::vector<uint32_t>({GetPlayOrder(first_), GetPlayRow(first_), GetPlayTime(first_)}),
                  SongBlockIn(heard_).order_row_time) << bytes;
    }
    const SongBlock& SongBlockIn(int32_t b) { return song[b + (rendered_ - 1 - b) / BLOCKS * BLOCKS]; }
    int32_t rendered_ = BLOCKS;  // song blocks in the ring so far: the prefill's, then the thread's
    int32_t heard_ = 0;          // the ring block being heard
};

TEST_F(PlaybackThreadTest, RendersEachBlockOnceTheDeviceHasLeftIt) {
    const uint64_t path[] = {
        BLOCK_BYTES - 4,          // the last frame of block 0: nothing yet
        BLOCK_BYTES,              // the first of block 1: block 0 only
        5 * BLOCK_BYTES + 400,
        40 * BLOCK_BYTES + 1000,  // a held-up thread: blocks 5..39 in one pass
        87516 * 4,                // the first frame of block 99: up to 98
        88399 * 4,                // its last frame: block 99 is left alone
        RING_BYTES,               // the second time round: 99
        RING_BYTES + 50 * BLOCK_BYTES,
        2 * RING_BYTES - 4,
        3 * RING_BYTES + 7 * BLOCK_BYTES,  // more than a ring at once
    };
    for (uint64_t bytes : path) MoveTo(bytes);
    MoveTo(4 * RING_BYTES, false);  // a pass whose position query fails renders nothing
    MoveTo(4 * RING_BYTES);
}

TEST_F(PlaybackThreadTest, TheByteCountWrapsWithoutAJump) {
    ASSERT_NE(BlockAt(WRAP + 3 * BLOCK_BYTES), 3);  // what the raw 32-bit count would say
    for (uint64_t bytes : {WRAP - RING_BYTES / 2, WRAP - 4, WRAP + 3 * BLOCK_BYTES, WRAP + RING_BYTES / 2}) {
        MoveTo(bytes);
    }
}

}  // namespace
