// Live playback and the library as hosts meet it, against the device double
// (CI also runs these under ThreadSanitizer). Start and stop: what each leaves
// behind, refusals, many quick cycles while the output thread renders. The
// thread: for each play position, the blocks it renders and what the queries
// report, every ring block compared with offline rendering. The controls: each
// takes effect from the third block after the one being heard (the two before
// it may be fetched already), the ring then holding exactly what offline
// rendering gives there, a second thread asking the queries throughout.
// Freeing one module leaves another's playback or rendering alone; loading
// from memory; why a start failed.
#include <gtest/gtest.h>
#include <string.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <random>
#include <thread>
#include <vector>

#include "module/file_io.h"
#include "output/output.h"
#include "tests/support/fake_wave_out.h"
#include "tests/support/xm_builder.h"

using namespace vinto;

namespace {

constexpr int32_t BLOCK = 884, BLOCKS = 100;
constexpr uint64_t BLOCK_BYTES = BLOCK * 4, RING_BYTES = BLOCK_BYTES * BLOCKS;
const std::string PLAY = "open prepare write ", STOP = "reset unprepare close ";

// Two channels of notes with slides, 16 rows at 138 BPM (798 frames a tick):
// it loops about every 2.1 s and every block of the ring sounds different.
xm::SongSpec MelodySong() {
    xm::SongSpec song = xm::SimpleSong(2, 16);
    song.bpm = 138;
    for (int row = 0; row < 16; row += 2) {
        song.patterns[0].At(row, 0, 2) = {uint8_t(37 + row), 1, 0, 0, 0};
        song.patterns[0].At(row + 1, 1, 2) = {uint8_t(61 - row), 1, uint8_t(0x18 + 2 * row), 0x0A, 0x02};
    }
    return song;
}

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
    const std::vector<uint8_t> song_ = xm::Build(MelodySong());
    Module *first_ = nullptr, *second_ = nullptr;
};

TEST_F(Playback, StartsStopsAndRefusals) {
    EXPECT_FALSE(StopPlayback(nullptr) || StartPlayback(nullptr));
    EXPECT_STREQ(GetPlaybackError(), "no module");
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
    RememberOpenFailure("no driver here");  // as the SDL device keeps its words
    EXPECT_FALSE(StartPlayback(first_));
    EXPECT_STREQ(GetPlaybackError(), "no audio output device (no driver here)");
    EXPECT_TRUE(output.playing_module == first_ && output.sync_entries && first_->time_ms == 0);
    EXPECT_TRUE(!output.ring && !output.mix_allocation && output.thread_finished.load() == 1);
    EXPECT_EQ(Queries(first_), 0u);  // the zero record of block 0
    EXPECT_TRUE(StopPlayback(first_) && Stopped());
    fake_wave_out::RefuseOpen(false);
    EXPECT_TRUE(StartPlayback(first_) && *GetPlaybackError() == 0);
    EXPECT_EQ(fake_wave_out::Now().calls, PLAY + STOP + PLAY + STOP + PLAY + STOP + PLAY + STOP + "refused " + PLAY);
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
        block.pcm.resize(BLOCK * 2);
        ASSERT_EQ(RenderNextBlock(block.pcm.data(), BLOCK), BLOCK);
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
            const int16_t* ring = output.ring + size_t(b) * BLOCK * 2;
            ASSERT_TRUE(std::equal(ring, ring + BLOCK * 2, song[b + (rendered - 1 - b) / BLOCKS * BLOCKS].pcm.begin()))
                << "ring block " << b << " at byte " << path[step];
        }
        EXPECT_EQ((std::vector<uint32_t>{GetPlayOrder(first_), GetPlayRow(first_), GetPlayTime(first_)}),
                  song[heard + (rendered - 1 - heard) / BLOCKS * BLOCKS].heard) << path[step];
    }
}

// The song's first blocks, rendered offline, optionally with channel 1 muted.
std::vector<int16_t> Offline(Module* module, int32_t blocks, bool mute = false) {
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
    Module* module_ = xm::Load(MelodySong());
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

TEST_F(Playback, FreeingAModuleStopsOnlyItsOwnPlaybackOrRendering) {
    ASSERT_TRUE(StartPlayback(second_));
    EXPECT_TRUE(FreeModule(first_));
    fake_wave_out::SetPosition(30 * BLOCK * 4);
    ASSERT_TRUE(fake_wave_out::WaitForPass());
    EXPECT_TRUE(output.next_block == 30 && GetPlayTime(second_) > 500u);  // the output thread still renders
    EXPECT_TRUE(FreeModule(second_) && !output.playing_module && !fake_wave_out::Now().open);
    second_ = xm::Load(song_), first_ = xm::Load(song_);
    Offline(first_, 1);
    EXPECT_TRUE(FreeModule(second_));
    int16_t block[BLOCK * 2];
    EXPECT_EQ(RenderNextBlock(block, BLOCK), BLOCK);
    EXPECT_TRUE(FreeModule(first_));
    EXPECT_EQ(RenderNextBlock(block, BLOCK), 0);
    first_ = xm::Load(song_), second_ = xm::Load(song_);  // for TearDown
}

TEST_F(Playback, LoadsFromMemoryWithoutTheFileCallbacks) {
    const std::vector<int16_t> expected = Offline(first_, 40);
    xm::InstallMemoryFile({'n', 'o'});  // the installed callbacks serve something else and stay installed
    std::vector<uint8_t> bytes = song_;
    Module* module = LoadModuleFromMemory(bytes.data(), uint32_t(bytes.size()), VINTO_MODE_EXACT);
    ASSERT_TRUE(module) << GetLoadError();
    std::fill(bytes.begin(), bytes.end(), 0xFF);  // read during the call only
    EXPECT_TRUE(Offline(module, 40) == expected && GetModuleMode(module) == VINTO_MODE_EXACT);
    EXPECT_TRUE(FreeModule(module) && FileIoInstalled() && xm::OpenMemoryStreams() == 0);
    EXPECT_EQ(LoadModuleFromMemory(nullptr, 100, VINTO_MODE_EXACT), nullptr);
    EXPECT_STREQ(GetLoadError(), "no data");
    EXPECT_EQ(LoadModuleFromMemory(song_.data(), uint32_t(song_.size()), 7), nullptr);
    EXPECT_STREQ(GetLoadError(), "unknown replay mode");
}

}  // namespace
