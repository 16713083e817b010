// The SDL wave-output device, without a sound card: SDL's disk driver writes
// to a file exactly the bytes the device handed on, in real time.
#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "output/output.h"
#include "platform/wave_out.h"
#include "tests/support/playback_song.h"

namespace {

constexpr uint32_t BYTES_PER_SECOND = 176400;
constexpr size_t SDL_BUFFER_BYTES = 1024 * 4;  // what the device asks SDL for

std::vector<uint8_t> ReadFile(const std::string& path) {
    std::vector<uint8_t> bytes;
    FILE* file = fopen(path.c_str(), "rb");
    if (!file) return bytes;
    uint8_t buffer[65536];
    size_t count;
    while ((count = fread(buffer, 1, sizeof(buffer), file)) > 0) bytes.insert(bytes.end(), buffer, buffer + count);
    fclose(file);
    return bytes;
}

class PlaybackSdlTest : public ::testing::Test {
protected:
    void SetUp() override {
        capture_ = ::testing::TempDir() + "vinto_capture_" + std::to_string(getpid()) + ".raw";
        setenv("SDL_AUDIODRIVER", "disk", 1);
        setenv("SDL_DISKAUDIOFILE", capture_.c_str(), 1);
        unsetenv("SDL_DISKAUDIODELAY");
    }
    void TearDown() override { remove(capture_.c_str()); }
    std::string capture_;
};

TEST_F(PlaybackSdlTest, TheDeviceHandsOnExactlyWhatOfflineRenderingMakes) {
    Module* module = xm::Load(playback_test::MelodySong());
    ASSERT_NE(module, nullptr);
    ASSERT_TRUE(StartPlayback(module));
    const auto started = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(std::chrono::milliseconds(3000));
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    EXPECT_TRUE(StopPlayback(module));
    const std::vector<uint8_t> captured = ReadFile(capture_);
    ASSERT_GT(captured.size(), size_t(2 * BYTES_PER_SECOND));

    // Offline: the same song, a second longer than the capture.
    ASSERT_TRUE(StartRendering(module));
    const int32_t block_frames = GetBlockFrames();
    std::vector<uint8_t> offline;
    std::vector<int16_t> block(size_t(block_frames) * 2);
    while (offline.size() < captured.size() + BYTES_PER_SECOND) {
        ASSERT_EQ(RenderNextBlock(block.data(), block_frames), block_frames);
        const uint8_t* bytes = reinterpret_cast<const uint8_t*>(block.data());
        offline.insert(offline.end(), bytes, bytes + block.size() * 2);
    }
    EXPECT_TRUE(FreeModule(module));

    // The capture starts with the silence SDL played while the ring was being
    // prefilled: whole device buffers of it.
    const size_t window = 65536;
    size_t offset = 0;
    while (offset + window <= captured.size() && memcmp(&captured[offset], offline.data(), window) != 0) {
        offset += 4;
    }
    ASSERT_LE(offset + window, captured.size()) << "the song is nowhere in the capture";
    EXPECT_EQ(offset % SDL_BUFFER_BYTES, 0u) << offset;
    for (size_t i = 0; i < offset; i++) ASSERT_EQ(captured[i], 0) << i;

    // Then the song, byte for byte, for as long as it played...
    size_t played = 0;
    while (offset + played < captured.size() && captured[offset + played] == offline[played]) played++;
    played &= ~size_t(3);
    // More than one ring: blocks rendered by the output thread were heard too.
    EXPECT_GE(played, size_t(2.2 * BYTES_PER_SECOND));
    EXPECT_LE(played, size_t((seconds + 0.3) * BYTES_PER_SECOND));
    // ...and silence after the stop.
    for (size_t i = offset + played; i < captured.size(); i++) {
        ASSERT_EQ(captured[i], 0) << "byte " << i << " of " << captured.size() << ", song from " << offset;
    }
    printf("capture: %zu bytes of silence (%zu device buffers), then %zu bytes (%.2f s) of the song\n",
           offset, offset / SDL_BUFFER_BYTES, played, double(played) / BYTES_PER_SECOND);
}

TEST_F(PlaybackSdlTest, WithoutAnAudioDeviceTheStartIsRefused) {
    setenv("SDL_AUDIODRIVER", "no-such-driver", 1);
    Module* module = xm::Load(playback_test::MelodySong());
    ASSERT_NE(module, nullptr);
    EXPECT_FALSE(StartPlayback(module));
    EXPECT_EQ(output.playing_module, module);
    EXPECT_EQ(output.ring, nullptr);
    EXPECT_TRUE(FreeModule(module));
    EXPECT_EQ(output.playing_module, nullptr);
    EXPECT_EQ(output.sync_entries, nullptr);
}

// The device calls on their own, played through the disk driver as fast as
// it will go.
TEST_F(PlaybackSdlTest, TheDeviceKeepsToTheWaveOutRules) {
    setenv("SDL_DISKAUDIODELAY", "0", 1);
    WAVEFORMATEX format{WAVE_FORMAT_PCM, 2, 44100, 176400, 4, 16, 0};
    HWAVEOUT device = nullptr;
    WAVEFORMATEX eight_bit = format;
    eight_bit.wBitsPerSample = 8;
    EXPECT_EQ(waveOutOpen(&device, WAVE_MAPPER, &eight_bit, 0, 0, 0), WAVERR_BADFORMAT);
    EXPECT_EQ(waveOutOpen(&device, 7, &format, 0, 0, 0), MMSYSERR_BADDEVICEID);
    ASSERT_EQ(waveOutOpen(&device, WAVE_MAPPER, &format, 0, 0, 0), MMSYSERR_NOERROR);

    MMTIME position{};
    position.wType = TIME_BYTES;
    ASSERT_EQ(waveOutGetPosition(device, &position, sizeof(position)), MMSYSERR_NOERROR);
    EXPECT_EQ(position.u.cb, 0u);  // nothing written: nothing played

    // A loop of two passes through 1000 frames.
    std::vector<int16_t> audio(2000);
    for (size_t i = 0; i < audio.size(); i++) audio[i] = int16_t(i + 1);
    WAVEHDR header{};
    header.lpData = reinterpret_cast<LPSTR>(audio.data());
    header.dwBufferLength = 4000;
    header.dwFlags = WHDR_BEGINLOOP | WHDR_ENDLOOP;
    header.dwLoops = 2;
    EXPECT_EQ(waveOutWrite(device, &header, sizeof(header)), WAVERR_UNPREPARED);
    ASSERT_EQ(waveOutPrepareHeader(device, &header, sizeof(header)), MMSYSERR_NOERROR);
    EXPECT_TRUE(header.dwFlags & WHDR_PREPARED);
    ASSERT_EQ(waveOutWrite(device, &header, sizeof(header)), MMSYSERR_NOERROR);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    do {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        ASSERT_EQ(waveOutGetPosition(device, &position, sizeof(position)), MMSYSERR_NOERROR);
    } while (position.u.cb < 8000 && std::chrono::steady_clock::now() < deadline);
    // The buffer came back when its last pass ended (under the device lock,
    // which the position query also takes), and the count stopped there.
    EXPECT_EQ(position.u.cb, 8000u);
    EXPECT_TRUE(header.dwFlags & WHDR_DONE);
    EXPECT_FALSE(header.dwFlags & WHDR_INQUEUE);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ASSERT_EQ(waveOutGetPosition(device, &position, sizeof(position)), MMSYSERR_NOERROR);
    EXPECT_EQ(position.u.cb, 8000u);
    position.wType = TIME_SAMPLES;
    waveOutGetPosition(device, &position, sizeof(position));
    EXPECT_EQ(position.wType, TIME_SAMPLES);
    EXPECT_EQ(position.u.sample, 2000u);
    position.wType = 0x40;  // a type it does not offer: bytes instead
    waveOutGetPosition(device, &position, sizeof(position));
    EXPECT_EQ(position.wType, TIME_BYTES);
    EXPECT_EQ(position.u.cb, 8000u);

    // Endless: it is still queued, and must be reset before unprepare and close.
    header.dwLoops = 0xFFFFFFFF;
    ASSERT_EQ(waveOutWrite(device, &header, sizeof(header)), MMSYSERR_NOERROR);
    EXPECT_EQ(waveOutWrite(device, &header, sizeof(header)), WAVERR_STILLPLAYING);
    EXPECT_EQ(waveOutUnprepareHeader(device, &header, sizeof(header)), WAVERR_STILLPLAYING);
    EXPECT_EQ(waveOutClose(device), WAVERR_STILLPLAYING);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    ASSERT_EQ(waveOutReset(device), MMSYSERR_NOERROR);
    EXPECT_TRUE(header.dwFlags & WHDR_DONE);
    waveOutGetPosition(device, &position, sizeof(position));
    EXPECT_EQ(position.wType, TIME_BYTES);
    EXPECT_EQ(position.u.cb, 0u);  // a reset starts the count again
    EXPECT_EQ(waveOutUnprepareHeader(device, &header, sizeof(header)), MMSYSERR_NOERROR);
    EXPECT_FALSE(header.dwFlags & WHDR_PREPARED);
    EXPECT_EQ(waveOutClose(device), MMSYSERR_NOERROR);

    // Everything handed on: the silence before the write, two passes, then
    // an endless loop cut short by the reset.
    const std::vector<uint8_t> captured = ReadFile(capture_);
    const uint8_t* first = reinterpret_cast<const uint8_t*>(audio.data());
    size_t start = 0;
    while (start < captured.size() && captured[start] == 0) start++;
    ASSERT_LE(start + 8000, captured.size());
    EXPECT_EQ(memcmp(&captured[start], first, 4000), 0);
    EXPECT_EQ(memcmp(&captured[start + 4000], first, 4000), 0);
}

}  // namespace
