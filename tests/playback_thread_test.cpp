// The output thread's decisions, driven through a device double whose play
// position the test sets: which blocks it renders, in which order, and where
// the position queries point.
#include <gtest/gtest.h>
#include <string.h>

#include <vector>

#include "output/output.h"
#include "tests/support/fake_wave_out.h"
#include "tests/support/playback_song.h"

namespace {

constexpr int32_t BLOCK_FRAMES = 884;
constexpr int32_t BLOCKS = 100;
constexpr int32_t RING_FRAMES = BLOCK_FRAMES * BLOCKS;
constexpr uint32_t BLOCK_BYTES = BLOCK_FRAMES * 4;
constexpr uint32_t RING_BYTES = RING_FRAMES * 4;

// The block a device byte count falls in, counted without any wrap.
int32_t BlockAt(uint64_t bytes) { return int32_t((bytes / 4) % RING_FRAMES / BLOCK_FRAMES); }

std::vector<SyncEntry> Entries() {
    return std::vector<SyncEntry>(output.sync_entries, output.sync_entries + BLOCKS);
}

std::vector<int16_t> RingBlock(int32_t block) {
    const int16_t* start = output.ring + size_t(block) * BLOCK_FRAMES * 2;
    return std::vector<int16_t>(start, start + BLOCK_FRAMES * 2);
}

// The record's song time, copied out of its packed place.
uint32_t TimeOf(int32_t block) { return output.sync_entries[block].time_ms; }

bool SameEntry(const SyncEntry& a, const SyncEntry& b) {
    return a.order == b.order && a.row == b.row && a.time_ms == b.time_ms;
}

// Blocks whose records differ between two snapshots.
std::vector<int32_t> Rerendered(const std::vector<SyncEntry>& before, const std::vector<SyncEntry>& after) {
    std::vector<int32_t> blocks;
    for (int32_t b = 0; b < BLOCKS; b++) {
        if (!SameEntry(before[b], after[b])) blocks.push_back(b);
    }
    return blocks;
}

class PlaybackThreadTest : public ::testing::Test {
protected:
    void SetUp() override {
        fake_wave_out::Reset();
        module_ = xm::Load(playback_test::MelodySong());
        ASSERT_NE(module_, nullptr);
        ASSERT_TRUE(StartPlayback(module_));
        ASSERT_TRUE(fake_wave_out::WaitForPass());
    }
    void TearDown() override {
        EXPECT_TRUE(FreeModule(module_));
        EXPECT_EQ(fake_wave_out::OpenDevices(), 0);
        EXPECT_EQ(fake_wave_out::Misuses(), std::vector<std::string>{});
    }
    // Puts the device at `bytes` and waits for the thread's pass that follows.
    void MoveTo(uint32_t bytes) {
        fake_wave_out::SetPosition(bytes);
        ASSERT_TRUE(fake_wave_out::WaitForPass());
    }
    // Records rendered since the snapshot must follow on from the song time of
    // `previous` in ring order, each block a little later than the one before.
    void ExpectRenderedInOrder(const std::vector<int32_t>& blocks, uint32_t previous_time) {
        for (int32_t b : blocks) {
            EXPECT_GT(TimeOf(b), previous_time) << "block " << b;
            previous_time = TimeOf(b);
        }
    }
    Module* module_ = nullptr;
};

TEST_F(PlaybackThreadTest, PrefillRendersTheWholeRingAndStartsTheLoopingDevice) {
    // 100 blocks of 884 frames at 798 frames a tick: 111 ticks, 1903 ms of song time.
    EXPECT_EQ(module_->time_ms, 1903u);
    EXPECT_EQ(TimeOf(0), 19u);
    EXPECT_EQ(TimeOf(BLOCKS - 1), 1903u);
    EXPECT_EQ(output.next_block, 0);
    EXPECT_EQ(output.sync_index.load(), 0);

    const WAVEFORMATEX format = fake_wave_out::LastFormat();
    EXPECT_EQ(fake_wave_out::LastDeviceId(), WAVE_MAPPER);
    EXPECT_EQ(format.wFormatTag, WAVE_FORMAT_PCM);
    EXPECT_EQ(format.nChannels, 2);
    EXPECT_EQ(format.nSamplesPerSec, 44100u);
    EXPECT_EQ(format.nAvgBytesPerSec, 176400u);
    EXPECT_EQ(format.nBlockAlign, 4);
    EXPECT_EQ(format.wBitsPerSample, 16);
    EXPECT_EQ(format.cbSize, 0);
    const WAVEHDR header = fake_wave_out::LastWrittenHeader();
    EXPECT_EQ(header.lpData, reinterpret_cast<LPSTR>(output.ring));
    EXPECT_EQ(header.dwBufferLength, RING_BYTES);
    EXPECT_EQ(header.dwFlags & (WHDR_BEGINLOOP | WHDR_ENDLOOP | WHDR_PREPARED),
              WHDR_BEGINLOOP | WHDR_ENDLOOP | WHDR_PREPARED);
    EXPECT_EQ(header.dwLoops, 0xFFFFFFFFu);
    EXPECT_EQ(fake_wave_out::Calls(), (std::vector<std::string>{"open", "prepare", "write"}));

    // The ring holds exactly what offline rendering makes of the first 100 blocks.
    std::vector<int16_t> ring(output.ring, output.ring + RING_FRAMES * 2);
    StopPlayback(module_);
    ASSERT_TRUE(StartRendering(module_));
    std::vector<int16_t> offline(RING_FRAMES * 2);
    for (int32_t b = 0; b < BLOCKS; b++) {
        ASSERT_EQ(RenderNextBlock(offline.data() + size_t(b) * BLOCK_FRAMES * 2, BLOCK_FRAMES), BLOCK_FRAMES);
    }
    EXPECT_TRUE(ring == offline);
}

TEST_F(PlaybackThreadTest, NothingIsRenderedUntilTheDeviceLeavesBlockZero) {
    const std::vector<SyncEntry> prefilled = Entries();
    const std::vector<int16_t> block0 = RingBlock(0), block1 = RingBlock(1);

    MoveTo(BLOCK_BYTES - 4);  // the last frame of block 0
    EXPECT_EQ(output.next_block, 0);
    EXPECT_EQ(Rerendered(prefilled, Entries()), std::vector<int32_t>{});
    EXPECT_EQ(RingBlock(0), block0);

    MoveTo(BLOCK_BYTES);  // the first frame of block 1: block 0 only
    EXPECT_EQ(output.next_block, 1);
    EXPECT_EQ(output.sync_index.load(), 1);
    EXPECT_EQ(Rerendered(prefilled, Entries()), std::vector<int32_t>{0});
    ExpectRenderedInOrder({0}, prefilled[BLOCKS - 1].time_ms);
    EXPECT_NE(RingBlock(0), block0);
    EXPECT_EQ(RingBlock(1), block1);

    // Block 0 now holds what follows block 99 in the song: block 100 offline.
    const std::vector<int16_t> live = RingBlock(0);
    StopPlayback(module_);
    ASSERT_TRUE(StartRendering(module_));
    std::vector<int16_t> offline(BLOCK_FRAMES * 2);
    for (int32_t b = 0; b <= BLOCKS; b++) ASSERT_EQ(RenderNextBlock(offline.data(), BLOCK_FRAMES), BLOCK_FRAMES);
    EXPECT_EQ(live, offline);
}

TEST_F(PlaybackThreadTest, APositionInTheLastBlockLeavesThatBlockAlone) {
    const std::vector<SyncEntry> prefilled = Entries();
    for (uint32_t frame : {87516u, 88000u, 88399u}) {  // first, middle and last frame of block 99
        MoveTo(frame * 4);
        EXPECT_EQ(output.next_block, 99) << frame;
        EXPECT_EQ(output.sync_index.load(), 99) << frame;
    }
    std::vector<int32_t> blocks0to98;
    for (int32_t b = 0; b < 99; b++) blocks0to98.push_back(b);
    EXPECT_EQ(Rerendered(prefilled, Entries()), blocks0to98);
    ExpectRenderedInOrder(blocks0to98, prefilled[99].time_ms);
}

TEST_F(PlaybackThreadTest, AHeldUpThreadRendersEveryDueBlockInOnePass) {
    MoveTo(3 * BLOCK_BYTES);
    const std::vector<SyncEntry> before = Entries();
    MoveTo(40 * BLOCK_BYTES + 1000);

    std::vector<int32_t> due;
    for (int32_t b = 3; b < 40; b++) due.push_back(b);
    EXPECT_EQ(Rerendered(before, Entries()), due);
    ExpectRenderedInOrder(due, before[2].time_ms);

    // The thread looked twice at most at the queries' next_block: 3, then 40.
    std::vector<int32_t> seen;
    for (const fake_wave_out::Query& query : fake_wave_out::QueryLog()) {
        if (seen.empty() || seen.back() != query.next_block) seen.push_back(query.next_block);
    }
    EXPECT_EQ(seen, (std::vector<int32_t>{0, 3, 40}));
}

TEST_F(PlaybackThreadTest, TheQueriesFollowThePlayingBlock) {
    struct Step {
        uint64_t bytes;  // the device's count, before it is cut to 32 bits
    };
    const Step steps[] = {
        {0},
        {BLOCK_BYTES},
        {5 * BLOCK_BYTES + 400},
        {87516 * 4},
        {RING_BYTES},                        // the second pass through the ring
        {RING_BYTES + 50 * BLOCK_BYTES},
        {2 * uint64_t(RING_BYTES) - 4},
        {3 * uint64_t(RING_BYTES) + 7 * BLOCK_BYTES},  // more than a ring at once
    };
    for (const Step& step : steps) {
        MoveTo(uint32_t(step.bytes));
        const int32_t block = BlockAt(step.bytes);
        EXPECT_EQ(output.sync_index.load(), block) << step.bytes;
        EXPECT_EQ(output.next_block, block) << step.bytes;
        EXPECT_EQ(GetPlayOrder(module_), output.sync_entries[block].order) << step.bytes;
        EXPECT_EQ(GetPlayRow(module_), output.sync_entries[block].row) << step.bytes;
        EXPECT_EQ(GetPlayTime(module_), TimeOf(block)) << step.bytes;
    }
}

TEST_F(PlaybackThreadTest, TheByteCountWrapsWithoutAJump) {
    const uint64_t wrap = uint64_t(1) << 32;
    // Approach the wrap in steps shorter than a ring, as a device would.
    for (uint64_t bytes = wrap - 3 * uint64_t(RING_BYTES); bytes < wrap; bytes += RING_BYTES / 2) {
        MoveTo(uint32_t(bytes));
    }
    MoveTo(uint32_t(wrap - 4));
    const int32_t before_wrap = BlockAt(wrap - 4);
    EXPECT_EQ(output.next_block, before_wrap);
    const std::vector<SyncEntry> before = Entries();

    // 3 blocks past the wrap: the raw 32-bit count says block 3.
    const uint64_t after = wrap + 3 * BLOCK_BYTES;
    MoveTo(uint32_t(after));
    const int32_t after_wrap = BlockAt(after);
    ASSERT_NE(after_wrap, 3);
    EXPECT_EQ(output.next_block, after_wrap);
    EXPECT_EQ(output.sync_index.load(), after_wrap);
    std::vector<int32_t> due;
    for (int32_t b = before_wrap; b != after_wrap; b = (b + 1) % BLOCKS) due.push_back(b);
    EXPECT_EQ(Rerendered(before, Entries()), due);
}

TEST_F(PlaybackThreadTest, ACycleWithoutAPositionRendersNothing) {
    const std::vector<SyncEntry> prefilled = Entries();
    fake_wave_out::FailPositionQueries(true);
    MoveTo(10 * BLOCK_BYTES);
    ASSERT_TRUE(fake_wave_out::WaitForPass());
    EXPECT_EQ(output.next_block, 0);
    EXPECT_EQ(Rerendered(prefilled, Entries()), std::vector<int32_t>{});

    fake_wave_out::FailPositionQueries(false);
    ASSERT_TRUE(fake_wave_out::WaitForPass());
    EXPECT_EQ(output.next_block, 10);
}

}  // namespace
