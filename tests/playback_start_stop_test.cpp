// Starting and stopping playback against the device double: what each start
// and stop leaves behind, refusals, and many quick cycles while the output
// thread renders (the ThreadSanitizer build runs these too).
#include <gtest/gtest.h>

#include <chrono>
#include <random>
#include <thread>
#include <vector>

#include "output/output.h"
#include "tests/support/fake_wave_out.h"
#include "tests/support/playback_song.h"

namespace {

using Calls = std::vector<std::string>;
constexpr uint32_t BLOCK_BYTES = 884 * 4;
constexpr uint32_t REAL_TIME = 176400;  // bytes a second at 44100 Hz

bool Stopped() {
    return !output.playing_module && !output.sync_entries && !output.ring && !output.mix_allocation &&
           output.next_block == 0 && output.sync_index.load() == 0 && fake_wave_out::OpenDevices() == 0;
}

class PlaybackStartStopTest : public ::testing::Test {
protected:
    void SetUp() override {
        fake_wave_out::Reset();
        song_ = xm::Build(playback_test::MelodySong());
        first_ = xm::Load(song_);
        second_ = xm::Load(song_);
        ASSERT_NE(first_, nullptr);
        ASSERT_NE(second_, nullptr);
    }
    void TearDown() override {
        if (first_) EXPECT_TRUE(FreeModule(first_));
        if (second_) EXPECT_TRUE(FreeModule(second_));
        EXPECT_TRUE(Stopped());
        EXPECT_EQ(fake_wave_out::Misuses(), Calls{});
    }
    std::vector<uint8_t> song_;
    Module* first_ = nullptr;
    Module* second_ = nullptr;
};

TEST_F(PlaybackStartStopTest, StopWithNothingPlayingReleasesNothing) {
    EXPECT_FALSE(StopPlayback(nullptr));
    EXPECT_TRUE(StopPlayback(first_));
    EXPECT_TRUE(StopPlayback(first_));
    EXPECT_TRUE(Stopped());
    EXPECT_EQ(fake_wave_out::Calls(), Calls{});
    EXPECT_EQ(output.thread_finished.load(), 1);
}

TEST_F(PlaybackStartStopTest, StartWhileAnotherPlaysStopsItCompletelyFirst) {
    fake_wave_out::RunClock(8 * REAL_TIME);  // the first thread is busy rendering
    ASSERT_TRUE(StartPlayback(first_));
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    fake_wave_out::RunClock(0);  // the second device stays at 0
    ASSERT_TRUE(StartPlayback(second_));
    EXPECT_EQ(output.playing_module, second_);
    EXPECT_EQ(fake_wave_out::OpenDevices(), 1);
    // The first device let go of the ring and was closed before the second was opened.
    EXPECT_EQ(fake_wave_out::Calls(), (Calls{"open", "prepare", "write", "reset", "unprepare", "close",
                                             "open", "prepare", "write"}));
    // The second song starts from its beginning: the same prefill as the first.
    ASSERT_TRUE(fake_wave_out::WaitForPass());
    EXPECT_EQ(second_->time_ms, 1903u);
    EXPECT_TRUE(StopPlayback(second_));
}

TEST_F(PlaybackStartStopTest, NullModuleChangesNothing) {
    ASSERT_TRUE(StartPlayback(first_));
    EXPECT_FALSE(StartPlayback(nullptr));
    EXPECT_FALSE(StopPlayback(nullptr));
    EXPECT_EQ(output.playing_module, first_);
    EXPECT_EQ(fake_wave_out::Calls(), (Calls{"open", "prepare", "write"}));
    // The thread still renders.
    fake_wave_out::SetPosition(5 * BLOCK_BYTES);
    ASSERT_TRUE(fake_wave_out::WaitForPass());
    EXPECT_EQ(output.next_block, 5);
}

TEST_F(PlaybackStartStopTest, MissingFileCallbacksRefuseAfterStopping) {
    ASSERT_TRUE(StartPlayback(first_));
    SetFileIo(nullptr, nullptr, nullptr, nullptr, nullptr);
    EXPECT_FALSE(StartPlayback(first_));
    EXPECT_TRUE(Stopped());
    EXPECT_EQ(fake_wave_out::Calls(), (Calls{"open", "prepare", "write", "reset", "unprepare", "close"}));
    xm::InstallMemoryFile(song_);
}

TEST_F(PlaybackStartStopTest, QueriesReportNothingBeforeStartAndAfterStop) {
    EXPECT_EQ(GetPlayOrder(first_) + GetPlayRow(first_) + GetPlayTime(first_), 0u);
    ASSERT_TRUE(StartPlayback(first_));
    fake_wave_out::SetPosition(30 * BLOCK_BYTES);
    ASSERT_TRUE(fake_wave_out::WaitForPass());
    EXPECT_GT(GetPlayTime(first_), 0u);
    EXPECT_GT(GetPlayRow(first_), 0u);
    EXPECT_EQ(GetPlayTime(nullptr), 0u);
    EXPECT_TRUE(StopPlayback(first_));
    EXPECT_EQ(output.thread_finished.load(), 1);
    EXPECT_EQ(GetPlayOrder(first_), 0u);
    EXPECT_EQ(GetPlayRow(first_), 0u);
    EXPECT_EQ(GetPlayTime(first_), 0u);
    EXPECT_TRUE(Stopped());
}

TEST_F(PlaybackStartStopTest, FreeModuleDuringPlaybackStopsItFirst) {
    fake_wave_out::RunClock(8 * REAL_TIME);
    ASSERT_TRUE(StartPlayback(first_));
    std::this_thread::sleep_for(std::chrono::milliseconds(40));
    EXPECT_TRUE(FreeModule(first_));
    first_ = nullptr;
    EXPECT_TRUE(Stopped());
    EXPECT_EQ(output.thread_finished.load(), 1);
    // Freeing a module that is not playing leaves another's playback alone.
    ASSERT_TRUE(StartPlayback(second_));
    Module* spare = xm::Load(song_);
    ASSERT_NE(spare, nullptr);
    // (FreeModule stops whatever plays: the module is only tested for null.)
    EXPECT_TRUE(FreeModule(spare));
    EXPECT_TRUE(Stopped());
}

TEST_F(PlaybackStartStopTest, ARefusedDeviceKeepsTheResetStateUntilTheNextStop) {
    ASSERT_TRUE(StartPlayback(first_));
    fake_wave_out::SetPosition(20 * BLOCK_BYTES);
    ASSERT_TRUE(fake_wave_out::WaitForPass());
    const uint64_t queries = fake_wave_out::Queries();

    fake_wave_out::RefuseOpen(true);
    EXPECT_FALSE(StartPlayback(first_));
    // Reset and ready for rendering, with no device, ring or thread.
    EXPECT_EQ(output.playing_module, first_);
    EXPECT_NE(output.sync_entries, nullptr);
    EXPECT_EQ(output.ring, nullptr);
    EXPECT_EQ(output.mix_allocation, nullptr);
    EXPECT_EQ(output.thread_finished.load(), 1);
    EXPECT_EQ(fake_wave_out::OpenDevices(), 0);
    EXPECT_EQ(first_->time_ms, 0u);
    EXPECT_EQ(first_->tick_samples_left, 0);
    EXPECT_EQ(first_->samples_per_tick, 798);
    // The zero record of block 0.
    EXPECT_EQ(GetPlayTime(first_), 0u);
    EXPECT_EQ(fake_wave_out::Queries(), queries);
    EXPECT_EQ(fake_wave_out::Calls(), (Calls{"open", "prepare", "write", "reset", "unprepare", "close",
                                             "open-refused"}));

    // A later start releases the leftovers before it begins (and succeeds once
    // the device is there again).
    fake_wave_out::RefuseOpen(false);
    ASSERT_TRUE(StartPlayback(second_));
    EXPECT_EQ(output.playing_module, second_);
    EXPECT_TRUE(StopPlayback(second_));
    EXPECT_TRUE(Stopped());

    fake_wave_out::RefuseOpen(true);
    EXPECT_FALSE(StartPlayback(second_));
    EXPECT_TRUE(StopPlayback(second_));
    EXPECT_TRUE(Stopped());
}

// A module the preparation refuses (the loader never makes one with more than
// 32 channels): refused after stopping what played, with nothing left open.
TEST_F(PlaybackStartStopTest, AModuleThatCannotBePlayedIsRefusedCleanly) {
    ASSERT_TRUE(StartPlayback(first_));
    second_->channel_count = 33;
    EXPECT_FALSE(StartPlayback(second_));
    EXPECT_TRUE(Stopped());
    EXPECT_EQ(fake_wave_out::Calls(), (Calls{"open", "prepare", "write", "reset", "unprepare", "close"}));
    second_->channel_count = 2;
}

// The queries run on their own thread while the output thread renders, and
// what they report only moves forward: the record of the block being heard
// is never the one being rewritten.
TEST_F(PlaybackStartStopTest, QueriesWhilePlayingOnlyMoveForward) {
    ASSERT_TRUE(StartPlayback(first_));
    EXPECT_EQ(GetPlayTime(first_), 19u);  // the end of block 0
    fake_wave_out::RunClock(8 * REAL_TIME);
    uint32_t last = 0;
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(300);
    while (std::chrono::steady_clock::now() < end) {
        const uint32_t heard = GetPlayTime(first_);
        ASSERT_GE(heard, last);
        last = heard;
        (void)GetPlayOrder(first_);
        (void)GetPlayRow(first_);
    }
    // 300 ms at 8 times real speed: more than two seconds of song heard.
    EXPECT_GT(last, 2000u);
    EXPECT_TRUE(StopPlayback(first_));
}

// Quick starts and stops of every kind while the thread renders at several
// times real speed: nothing may be left running, open or allocated, and the
// device must never see a call out of turn.
TEST_F(PlaybackStartStopTest, ManyQuickCycles) {
    std::mt19937 random(6);
    fake_wave_out::RunClock(8 * REAL_TIME);
    for (int cycle = 0; cycle < 300; cycle++) {
        Module*& module = cycle % 2 ? second_ : first_;
        ASSERT_TRUE(StartPlayback(module)) << cycle;
        std::this_thread::sleep_for(std::chrono::microseconds(random() % 3000));
        switch (random() % 4) {
            case 0:
                EXPECT_TRUE(StopPlayback(module));
                break;
            case 1:  // stopped by the next start
                break;
            case 2:
                EXPECT_TRUE(FreeModule(module));
                module = xm::Load(song_);
                ASSERT_NE(module, nullptr);
                break;
            case 3:  // stopping through another module
                (void)GetPlayTime(module);
                EXPECT_TRUE(StopPlayback(first_ == module ? second_ : first_));
                break;
        }
    }
    EXPECT_TRUE(StopPlayback(first_));
    EXPECT_TRUE(Stopped());
    EXPECT_EQ(output.thread_finished.load(), 1);
}

}  // namespace
