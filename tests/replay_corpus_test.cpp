// Public songs driven tick by tick: the replay state stays within its ranges
// and every channel keeps to its own pair of voice slots. Songs come from
// $VINTO_CORPUS; skipped without it.
#include <dirent.h>
#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <string>

#include "tests/replay_harness.h"

using namespace replay_test;

namespace {

constexpr int TICKS_PER_SONG = 6000;  // about two minutes at 125 bpm

std::vector<std::string> CorpusPaths() {
    std::vector<std::string> paths;
    const char* dir = getenv("VINTO_CORPUS");
    if (!dir || !*dir) return paths;
    if (DIR* d = opendir(dir)) {
        while (dirent* e = readdir(d)) {
            std::string name = e->d_name;
            if (name.size() > 3 && name.compare(name.size() - 3, 3, ".xm") == 0) paths.push_back(std::string(dir) + "/" + name);
        }
        closedir(d);
    }
    std::sort(paths.begin(), paths.end());
    return paths;
}

std::vector<uint8_t> ReadFile(const std::string& path) {
    std::vector<uint8_t> bytes;
    if (FILE* file = fopen(path.c_str(), "rb")) {
        uint8_t buffer[65536];
        size_t n;
        while ((n = fread(buffer, 1, sizeof(buffer), file)) > 0) bytes.insert(bytes.end(), buffer, buffer + n);
        fclose(file);
    }
    return bytes;
}

// Checks one tick's state; returns false (with a test failure) at the first fault.
bool StateInRange(const Module& module) {
    EXPECT_GE(module.order, 0);
    EXPECT_LT(module.order, module.song_length);
    const Pattern* pattern = CurrentPattern(module);
    if (!pattern) return !testing::Test::HasFailure();
    EXPECT_GE(module.row, 0);
    EXPECT_LT(module.row, std::max(pattern->row_count, 1));
    EXPECT_LT(module.tick, std::max(module.speed, 1));
    EXPECT_GE(module.samples_per_tick, 1);
    for (int i = 0; i < module.channel_count; i++) {
        const Channel& ch = channels[i];
        SCOPED_TRACE(testing::Message() << "channel " << i);
        int32_t slot = int32_t(ch.voice - VoicePool);
        EXPECT_TRUE(slot == i || slot == i + 32) << slot;
        EXPECT_EQ(ch.voice->index, slot);
        const Voice& ghost = VoicePool[slot == i ? i + 32 : i];
        if (ghost.sample) {
            EXPECT_EQ(ghost.volume, 0);
            EXPECT_EQ(ghost.left_gain, 0);
            EXPECT_EQ(ghost.right_gain, 0);
        }
        EXPECT_LE(ch.note, 95);
        EXPECT_LE(ch.transposed_note, MAX_TRANSPOSED_NOTE);
        EXPECT_GE(ch.volume, 0);
        EXPECT_LE(ch.volume, 255);
        EXPECT_GE(ch.fade_volume, 0);
        EXPECT_LE(ch.fade_volume, FADE_FULL);
        EXPECT_GE(ch.volume_env.value, 0);
        EXPECT_LE(ch.volume_env.value, 64);
        EXPECT_GE(ch.pan_env.value, 0);
        EXPECT_LE(ch.pan_env.value, 64);
        EXPECT_LE(ch.volume_env.point, ENVELOPE_POINTS);
        EXPECT_LE(ch.pan_env.point, ENVELOPE_POINTS);
        EXPECT_GE(ch.voice->pan, 0);
        EXPECT_LE(ch.voice->pan, 255);
        EXPECT_GE(ch.voice->volume, 0);
        if (ch.volume <= 64) EXPECT_LE(ch.voice->volume, 127);
        EXPECT_LE(ch.voice->left_gain + ch.voice->right_gain, ch.voice->volume);
        if (testing::Test::HasFailure()) return false;
    }
    return true;
}

TEST(ReplayCorpus, EverySongStaysInRange) {
    std::vector<std::string> paths = CorpusPaths();
    if (paths.empty()) GTEST_SKIP() << "VINTO_CORPUS not set";
    for (const std::string& path : paths) {
        SCOPED_TRACE(path);
        ModulePtr module(xm::Load(ReadFile(path)));
        ASSERT_TRUE(module) << GetLoadError();
        StartSong(*module);
        int row_ticks = 0;
        for (int tick = 0; tick < TICKS_PER_SONG; tick++) {
            if (module->tick == 0) row_ticks++;
            ModuleTick(module.get());
            ASSERT_TRUE(StateInRange(*module)) << "tick " << tick;
        }
        EXPECT_GT(row_ticks, TICKS_PER_SONG / 32);
    }
}

}  // namespace
