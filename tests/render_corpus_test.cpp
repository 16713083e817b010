// Public songs: each renders its first minute without a fault, and twice in a
// row to the same bytes. The songs come from $VINTO_CORPUS; skipped without it.
#include <dirent.h>
#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tests/support/xm_builder.h"

#ifndef VINTO_CORPUS_DEFAULT
#define VINTO_CORPUS_DEFAULT ""
#endif

namespace {

constexpr int BLOCKS_PER_MINUTE = (60 * 44100 + 883) / 884;

std::string CorpusDir() {
    const char* dir = getenv("VINTO_CORPUS");
    return dir && *dir ? dir : VINTO_CORPUS_DEFAULT;
}

std::vector<std::string> CorpusSongs() {
    std::vector<std::string> names;
    std::string dir = CorpusDir();
    if (dir.empty()) return names;
    if (DIR* d = opendir(dir.c_str())) {
        while (dirent* e = readdir(d)) {
            std::string name = e->d_name;
            if (name.size() > 3 && strcasecmp(name.c_str() + name.size() - 3, ".xm") == 0)
                names.push_back(name);
        }
        closedir(d);
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::vector<uint8_t> ReadFile(const std::string& path) {
    std::vector<uint8_t> bytes;
    FILE* file = fopen(path.c_str(), "rb");
    if (!file) return bytes;
    uint8_t buffer[65536];
    size_t n;
    while ((n = fread(buffer, 1, sizeof(buffer), file)) > 0) bytes.insert(bytes.end(), buffer, buffer + n);
    fclose(file);
    return bytes;
}

// One minute of the song; returns a 64-bit FNV-1a digest of the frames and
// checks on the way that the song time never runs backwards or ahead.
uint64_t RenderMinute(Module* module) {
    uint64_t digest = 14695981039346656037ull;
    std::vector<int16_t> frames(884 * 2);
    uint32_t last_time = 0;
    for (int b = 0; b < BLOCKS_PER_MINUTE; b++) {
        if (RenderNextBlock(frames.data(), 884) != 884) {
            ADD_FAILURE() << "block " << b << " not rendered";
            return 0;
        }
        for (int16_t v : frames) {
            digest = (digest ^ uint8_t(uint16_t(v))) * 1099511628211ull;
            digest = (digest ^ uint8_t(uint16_t(v) >> 8)) * 1099511628211ull;
        }
        uint32_t time = GetPlayTime(module);
        EXPECT_GE(time, last_time) << "block " << b;
        EXPECT_LE(time, uint32_t((b + 1) * 884 * 1000.0 / 44100)) << "block " << b;
        last_time = time;
    }
    return digest;
}

// One test for all songs: the list is read when the test runs, so it cannot
// disagree with the list seen when the tests were enumerated.
TEST(CorpusRender, FirstMinuteOfEverySongRendersTheSameTwice) {
    if (CorpusDir().empty()) GTEST_SKIP() << "VINTO_CORPUS is not set";
    std::vector<std::string> songs = CorpusSongs();
    ASSERT_FALSE(songs.empty()) << "no .xm files in " << CorpusDir();
    int rendered = 0;
    for (const std::string& song : songs) {
        SCOPED_TRACE(song);
        std::vector<uint8_t> bytes = ReadFile(CorpusDir() + "/" + song);
        ASSERT_FALSE(bytes.empty());
        Module* module = xm::Load(bytes);
        if (!module) {
            // The loader's own tests judge refusals; only note them here.
            printf("%s: not rendered, the loader refuses it: %s\n", song.c_str(), GetLoadError());
            continue;
        }
        ASSERT_TRUE(StartRendering(module));
        uint64_t first = RenderMinute(module);
        ASSERT_TRUE(StartRendering(module));
        uint64_t second = RenderMinute(module);
        EXPECT_EQ(first, second);
        EXPECT_TRUE(FreeModule(module));
        rendered++;
    }
    EXPECT_GT(rendered, 0);
}

}  // namespace
