// The SDL wave-output device without a sound card: SDL's disk driver writes to
// a file exactly the bytes the device handed on, in real time.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/playback_song.h"

TEST(PlaybackSdlTest, TheDeviceHandsOnExactlyWhatOfflineRenderingMakes) {
    const size_t SECOND = 176400;  // bytes
    const std::string capture = ::testing::TempDir() + "vinto_capture_" + std::to_string(getpid()) + ".raw";
    setenv("SDL_AUDIODRIVER", "disk", 1);
    setenv("SDL_DISKAUDIOFILE", capture.c_str(), 1);
    Module* module = xm::Load(playback_test::MelodySong());
    ASSERT_TRUE(StartPlayback(module));
    const auto started = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(3));
    const std::chrono::duration<double> slept = std::chrono::steady_clock::now() - started;
    EXPECT_TRUE(StopPlayback(module));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));  // a device still playing goes on writing
    std::ifstream file(capture, std::ios::binary);
    const std::vector<uint8_t> captured{std::istreambuf_iterator<char>(file), {}};
    remove(capture.c_str());
    // Offline: the same song, a second longer than the capture.
    ASSERT_TRUE(StartRendering(module));
    std::vector<int16_t> offline(2 * (captured.size() + SECOND) / 3536 * 1768 + 1768);
    for (size_t at = 0; at < offline.size(); at += 1768) ASSERT_EQ(RenderNextBlock(&offline[at], 884), 884);
    EXPECT_TRUE(FreeModule(module));
    const uint8_t* song = reinterpret_cast<const uint8_t*>(offline.data());
    // Silence while the ring was prefilled (whole SDL buffers of 1024 frames),
    // the song byte for byte for as long as it played, then silence again.
    size_t lead = 0, start = 0;  // zero bytes the song begins with; where it begins in the capture
    while (lead < offline.size() * 2 && song[lead] == 0) lead++;
    while (start < captured.size() && captured[start] == 0) start++;
    ASSERT_GE(start, lead);
    start -= lead;
    EXPECT_EQ(start % 4096, 0u) << start;
    size_t played = 0;
    while (start + played < captured.size() && captured[start + played] == song[played]) played++;
    played &= ~size_t(3);
    // More than one ring: blocks the output thread rendered were heard too.
    EXPECT_GE(played, size_t(2.2 * SECOND)) << "song from byte " << start;
    EXPECT_LE(played, size_t((slept.count() + 0.3) * SECOND));
    for (size_t i = start + played; i < captured.size(); i++) ASSERT_EQ(captured[i], 0) << "byte " << i;
}
