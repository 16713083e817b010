// Public songs ($VINTO_CORPUS; skipped without it): the voice states the replay
// engine really produces (note hand-offs, ghosts, loops of every kind, ramps
// cut by ticks) mixed by MixVoices and by the plain reference mixer, tick by
// tick, give the same bits and the same voices.
#include <dirent.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>

#include <algorithm>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "mixer/mixer.h"
#include "output/output.h"
#include "support/mix_reference.h"
#include "tests/support/xm_builder.h"

namespace {

constexpr int32_t SECONDS_PER_SONG = 30;

std::vector<std::string> SongPaths(const std::string& dir) {
    std::vector<std::string> paths;
    if (DIR* d = opendir(dir.c_str())) {
        while (dirent* e = readdir(d)) {
            const std::string name = e->d_name;
            if (name.size() > 3 && strcasecmp(name.c_str() + name.size() - 3, ".xm") == 0)
                paths.push_back(dir + "/" + name);
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
        while ((n = fread(buffer, 1, sizeof buffer, file)) > 0) bytes.insert(bytes.end(), buffer, buffer + n);
        fclose(file);
    }
    return bytes;
}

bool SameVoice(const Voice& a, const Voice& b) {
    return a.sample == b.sample && a.position == b.position && a.position_fraction == b.position_fraction &&
           a.direction == b.direction && a.current_left_gain == b.current_left_gain &&
           a.current_right_gain == b.current_right_gain && a.planned_left_gain == b.planned_left_gain &&
           a.planned_right_gain == b.planned_right_gain && a.ramp_frames_left == b.ramp_frames_left &&
           memcmp(&a.left_step, &b.left_step, sizeof(float)) == 0 &&
           memcmp(&a.right_step, &b.right_step, sizeof(float)) == 0;
}

TEST(MixerCorpus, SongsMixAsTheReferenceMixesThem) {
    const char* dir = getenv("VINTO_CORPUS");
    if (!dir || !*dir) GTEST_SKIP() << "VINTO_CORPUS is not set";
    const std::vector<std::string> songs = SongPaths(dir);
    ASSERT_FALSE(songs.empty()) << "no .xm files in " << dir;
    int64_t audible_frames = 0;
    for (const std::string& path : songs) {
        SCOPED_TRACE(path);
        Module* module = xm::Load(ReadFile(path));
        if (!module) continue;  // the loader's own tests judge refusals
        ASSERT_TRUE(ResetPlayback(module));
        std::vector<float> out, expected;
        Voice reference_pool[MIXED_VOICE_COUNT];
        int64_t frames_done = 0;
        for (int tick = 0; frames_done < SECONDS_PER_SONG * 44100; tick++) {
            module->tick_handler(module);
            const int32_t frames = module->samples_per_tick;
            ASSERT_GT(frames, 0);
            out.assign(2 * static_cast<size_t>(frames), 0.0f);
            expected.assign(out.size(), 0.0f);
            memcpy(reference_pool, VoicePool, sizeof reference_pool);
            MixVoices(out.data(), frames);
            reference::MixVoices(reference_pool, MIXED_VOICE_COUNT, expected.data(), frames, ramp_length,
                                 inverse_ramp_length);
            ASSERT_EQ(memcmp(out.data(), expected.data(), out.size() * sizeof(float)), 0) << "tick " << tick;
            for (int slot = 0; slot < MIXED_VOICE_COUNT; slot++)
                ASSERT_TRUE(SameVoice(VoicePool[slot], reference_pool[slot])) << "tick " << tick << ", slot " << slot;
            for (size_t i = 0; i < out.size(); i += 2) audible_frames += out[i] != 0.0f || out[i + 1] != 0.0f;
            frames_done += frames;
        }
        FreeModule(module);
    }
    EXPECT_GT(audible_frames, 0);
}

}  // namespace
