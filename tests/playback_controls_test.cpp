// Controls during live playback, against the device double: each takes effect
// from the third block after the one being heard (the two before it may be
// fetched already), and the ring then holds exactly what offline rendering
// gives there; the exact position follows the device.
// A second thread asks the queries throughout (CI runs this under
// ThreadSanitizer).
#include <gtest/gtest.h>
#include <string.h>

#include <algorithm>
#include <atomic>
#include <thread>
#include <vector>

#include "output/output.h"
#include "tests/support/fake_wave_out.h"
#include "tests/support/playback_song.h"

namespace {

constexpr int32_t BLOCK = 884, BLOCKS = 100;

// The song's first blocks, rendered offline, optionally with channel 1 muted.
std::vector<int16_t> Offline(Module* module, int32_t blocks, bool mute) {
    std::vector<int16_t> frames(size_t(blocks) * BLOCK * 2);
    EXPECT_TRUE(StartRendering(module) && SetChannelMuted(module, 1, mute));
    for (int32_t b = 0; b < blocks; b++) EXPECT_EQ(RenderNextBlock(&frames[size_t(b) * BLOCK * 2], BLOCK), BLOCK);
    return frames;
}

// Ring block ring_block (and those after it, up to the one being heard) holds song blocks from song_block on.
bool RingHolds(const std::vector<int16_t>& song, int32_t ring_block, int32_t song_block, int32_t count) {
    for (int32_t k = 0; k < count; k++) {
        const int16_t* ring = output.ring + size_t((ring_block + k) % BLOCKS) * BLOCK * 2;
        if (memcmp(ring, &song[size_t(song_block + k) * BLOCK * 2], BLOCK * 4) != 0) return false;
    }
    return true;
}

// The device has played block blocks and offset frames (the ring's block block % 100).
bool HeardAt(int32_t block, int32_t offset) {
    fake_wave_out::SetPosition(uint32_t(block * BLOCK + offset) * 4);
    return fake_wave_out::WaitForPass();
}

class PlaybackControls : public ::testing::Test {
protected:
    void SetUp() override {
        fake_wave_out::Reset();
        ASSERT_NE(module_, nullptr);
        asking_ = std::thread([this] {
            while (!done_) (void)(GetPlayPosition(module_) + HasSongEnded(module_) + GetPlayTime(module_));
        });
    }
    void TearDown() override {
        done_ = true;
        asking_.join();
        EXPECT_TRUE(FreeModule(module_));
        EXPECT_EQ(fake_wave_out::Now().misuses, "");
    }
    Module* module_ = xm::Load(playback_test::MelodySong());
    std::atomic<bool> done_{false};
    std::thread asking_;
};

TEST_F(PlaybackControls, SeekMuteVolumeAndPauseFromTheThirdBlockAhead) {
    const std::vector<int16_t> plain = Offline(module_, 160, false), muted = Offline(module_, 160, true);
    ASSERT_TRUE(SetChannelMuted(module_, 1, false) && StartPlayback(module_));
    ASSERT_TRUE(HeardAt(10, 100));
    EXPECT_EQ(GetPlayPosition(module_), uint64_t(10 * BLOCK + 100));
    // A seek lands on the start of its block: song block 50 in ring block 13.
    ASSERT_TRUE(SeekToFrame(module_, 50 * BLOCK + 300));
    EXPECT_TRUE(RingHolds(plain, 10, 10, 3) && RingHolds(plain, 13, 50, BLOCKS - 3));
    ASSERT_TRUE(HeardAt(13, 5));
    EXPECT_EQ(GetPlayPosition(module_), uint64_t(50 * BLOCK + 5));
    EXPECT_EQ(GetPlayPositionMs(module_), uint32_t((50 * BLOCK + 5) * 1000 / 44100));
    // Muting renders the ring again from ring block 16, the song going on where it was.
    ASSERT_TRUE(SetChannelMuted(module_, 1, true));
    EXPECT_TRUE(RingHolds(plain, 13, 50, 3) && RingHolds(muted, 16, 53, BLOCKS - 3));
    // The volume converts the waiting blocks again from there.
    ASSERT_TRUE(SetMasterVolume(module_, 0.0f));
    EXPECT_TRUE(RingHolds(plain, 13, 50, 3));
    const std::vector<int16_t> silence(BLOCKS * BLOCK * 2, 0);
    EXPECT_TRUE(RingHolds(silence, 16, 0, BLOCKS - 3));
    ASSERT_TRUE(SetMasterVolume(module_, 1.0f));
    EXPECT_TRUE(RingHolds(muted, 16, 53, BLOCKS - 3));
    // Pause and resume go to the device; the position stays.
    EXPECT_TRUE(PausePlayback(module_) && IsPlaybackPaused(module_) && PausePlayback(module_));
    EXPECT_TRUE(ResumePlayback(module_) && !IsPlaybackPaused(module_));
    EXPECT_NE(fake_wave_out::Now().calls.find("write pause restart "), std::string::npos);
    EXPECT_EQ(GetPlayPosition(module_), uint64_t(50 * BLOCK + 5));
    EXPECT_TRUE(StopPlayback(module_));
    EXPECT_FALSE(PausePlayback(module_) || SeekToFrame(module_, 0));  // nothing plays
}

// The melody's pass lasts 16 rows of 6 ticks of 798 frames: 76608 frames, 584
// frames into block 86, well inside the ring's first round.
TEST_F(PlaybackControls, OnePassPlaysOutAndFallsSilent) {
    constexpr uint64_t PASS = 16 * 6 * 798;
    EXPECT_EQ(GetSongDurationFrames(module_), PASS);
    ASSERT_TRUE(SetPassCount(module_, 1) && StartPlayback(module_));
    // The rest of the end's block and every block after it are silence.
    const int16_t* end = output.ring + size_t(PASS) * 2;
    const int16_t* ring_end = output.ring + size_t(BLOCKS) * BLOCK * 2;
    EXPECT_TRUE(std::any_of(end - 100, end, [](int16_t v) { return v != 0; }));
    EXPECT_TRUE(std::all_of(end, ring_end, [](int16_t v) { return v == 0; }));
    const struct { int32_t block, offset; bool ended; uint64_t position; } cases[] = {
        {86, 583, false, PASS - 1}, {86, 584, true, PASS}, {99, 0, true, PASS}, {120, 0, true, PASS}};
    for (const auto& c : cases) {
        ASSERT_TRUE(HeardAt(c.block, c.offset));
        EXPECT_EQ(HasSongEnded(module_), c.ended) << c.block;
        EXPECT_EQ(GetPlayPosition(module_), c.position) << c.block;
    }
    // Muted after the end it stays silent; for ever, the song goes on three
    // blocks after ring block 20, from the start of the block after its end.
    ASSERT_TRUE(SetChannelMuted(module_, 0, true));
    EXPECT_TRUE(std::all_of(static_cast<const int16_t*>(output.ring), ring_end, [](int16_t v) { return v == 0; }));
    ASSERT_TRUE(SetPassCount(module_, 0) && HeardAt(123, 10));
    EXPECT_FALSE(HasSongEnded(module_));
    EXPECT_EQ(GetPlayPosition(module_), 87 * BLOCK + 10);
}

}  // namespace
