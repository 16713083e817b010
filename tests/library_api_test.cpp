// The public interface as a host meets it: freeing one module leaves another
// module's playback or rendering alone; loading from bytes in memory; the load
// warning for a file that ends early; why a start failed.
#include <gtest/gtest.h>

#include <algorithm>

#include "module/file_io.h"
#include "output/output.h"
#include "platform/wave_out.h"
#include "tests/support/fake_wave_out.h"
#include "tests/support/playback_song.h"

namespace {

constexpr int32_t BLOCK = 884;  // frames

std::vector<int16_t> Render(Module* module, int blocks) {
    std::vector<int16_t> pcm(size_t(BLOCK) * 2 * blocks);
    EXPECT_TRUE(StartRendering(module));
    for (int b = 0; b < blocks; b++) EXPECT_EQ(RenderNextBlock(pcm.data() + b * BLOCK * 2, BLOCK), BLOCK);
    return pcm;
}

TEST(Library, FreeingAModuleStopsOnlyItsOwnPlaybackOrRendering) {
    fake_wave_out::Reset();
    const std::vector<uint8_t> song = xm::Build(playback_test::MelodySong());
    Module* other = xm::Load(song);
    Module* playing = xm::Load(song);
    ASSERT_TRUE(StartPlayback(playing));
    EXPECT_TRUE(FreeModule(other));
    fake_wave_out::SetPosition(30 * BLOCK * 4);
    ASSERT_TRUE(fake_wave_out::WaitForPass());
    EXPECT_TRUE(output.next_block == 30 && GetPlayTime(playing) > 500u);  // the output thread still renders
    EXPECT_TRUE(FreeModule(playing));
    EXPECT_TRUE(!output.playing_module && !fake_wave_out::Now().open);

    Module* rendering = xm::Load(song);
    Render(rendering, 1);
    other = xm::Load(song);
    EXPECT_TRUE(FreeModule(other));
    int16_t block[BLOCK * 2];
    EXPECT_EQ(RenderNextBlock(block, BLOCK), BLOCK);
    EXPECT_TRUE(FreeModule(rendering));
    EXPECT_EQ(RenderNextBlock(block, BLOCK), 0);
    EXPECT_EQ(fake_wave_out::Now().misuses, "");
}

TEST(Library, LoadsFromMemoryWithoutTheFileCallbacks) {
    const std::vector<uint8_t> song = xm::Build(playback_test::MelodySong());
    Module* module = xm::Load(song);
    const std::vector<int16_t> expected = Render(module, 40);
    FreeModule(module);

    // The installed callbacks serve something else and stay installed.
    xm::InstallMemoryFile({'n', 'o'});
    std::vector<uint8_t> bytes = song;
    module = LoadModuleFromMemory(bytes.data(), uint32_t(bytes.size()), VINTO_MODE_EXACT);
    ASSERT_TRUE(module) << GetLoadError();
    std::fill(bytes.begin(), bytes.end(), 0xFF);  // read during the call only
    EXPECT_TRUE(Render(module, 40) == expected && GetModuleMode(module) == VINTO_MODE_EXACT);
    EXPECT_TRUE(FreeModule(module) && FileIoInstalled() && xm::OpenMemoryStreams() == 0);

    EXPECT_EQ(LoadModuleFromMemory(nullptr, 100, VINTO_MODE_EXACT), nullptr);
    EXPECT_STREQ(GetLoadError(), "no data");
    EXPECT_EQ(LoadModuleFromMemory(song.data(), uint32_t(song.size()), 7), nullptr);
    EXPECT_STREQ(GetLoadError(), "unknown replay mode");
}

// A file of N bytes ends at byte N. Cut before the channel count ends (byte
// 70) the song is refused; cut later, what is missing reads as zeros.
TEST(Library, LoadWarningSaysWhereAFileEnded) {
    const std::vector<uint8_t> song = xm::Build(playback_test::MelodySong());
    const uint32_t size = uint32_t(song.size());
    const struct { uint32_t cut; std::string error, warning; } cases[] = {  // no error: it loads
        {size, "", ""}, {size - 1, "", "file ends at byte " + std::to_string(size - 1) + "; the rest plays as silence"},
        {70, "", "file ends at byte 70; the rest plays as silence"}, {69, "file is cut short at byte 69 (header incomplete)", ""}};
    for (const auto& c : cases)
        for (bool from_memory : {true, false}) {
            const std::vector<uint8_t> bytes(song.begin(), song.begin() + c.cut);
            Module* module = from_memory ? LoadModuleFromMemory(bytes.data(), c.cut, VINTO_MODE_EXACT) : xm::Load(bytes);
            EXPECT_EQ((std::vector<std::string>{module ? "" : "refused", GetLoadError(), GetLoadWarning()}),
                      (std::vector<std::string>{c.error.empty() ? "" : "refused", c.error, c.warning})) << c.cut;
            FreeModule(module);
        }
}

TEST(Library, PlaybackErrorSaysWhyAStartFailed) {
    fake_wave_out::Reset();
    Module* module = xm::Load(playback_test::MelodySong());
    EXPECT_FALSE(StartPlayback(nullptr));
    EXPECT_STREQ(GetPlaybackError(), "no module");
    fake_wave_out::RefuseOpen(true);
    RememberOpenFailure("no driver here");  // as the SDL device keeps its words
    EXPECT_FALSE(StartPlayback(module));
    EXPECT_STREQ(GetPlaybackError(), "no audio output device (no driver here)");
    fake_wave_out::RefuseOpen(false);
    EXPECT_TRUE(StartPlayback(module));
    EXPECT_STREQ(GetPlaybackError(), "");
    EXPECT_TRUE(FreeModule(module));
}

}  // namespace
