// Complete mode pinned like exact mode: the first 30 seconds of every corpus
// song, rendered offline in complete mode, must give the 16-bit samples and
// position records recorded in complete_render_hashes.txt (same format as
// perf_render_hashes.txt). A song not in the table prints its line.
#include <dirent.h>
#include <gtest/gtest.h>
#include <inttypes.h>
#include <stdio.h>
#include <stdlib.h>
#include <strings.h>

#include <map>
#include <string>
#include <vector>

#include "tests/support/xm_builder.h"

namespace {

constexpr int BLOCK_FRAMES = 884;
constexpr int BLOCKS = (30 * 44100 + BLOCK_FRAMES - 1) / BLOCK_FRAMES;

struct Digest {  // 64-bit FNV-1a
    uint64_t value = 14695981039346656037ull;
    void Add(const uint8_t* bytes, size_t count) {
        for (size_t i = 0; i < count; i++) value = (value ^ bytes[i]) * 1099511628211ull;
    }
    std::string Hex() const {
        char text[17];
        snprintf(text, sizeof text, "%016" PRIx64, value);
        return text;
    }
};

std::string Render30Seconds(Module* module) {
    Digest pcm, positions;
    std::vector<int16_t> frames(BLOCK_FRAMES * 2);
    for (int b = 0; b < BLOCKS; b++) {
        if (RenderNextBlock(frames.data(), BLOCK_FRAMES) != BLOCK_FRAMES) return "block not rendered";
        for (int16_t v : frames) {
            const uint8_t bytes[2] = {uint8_t(uint16_t(v)), uint8_t(uint16_t(v) >> 8)};
            pcm.Add(bytes, 2);
        }
        const uint32_t t = GetPlayTime(module);
        const uint8_t record[6] = {uint8_t(GetPlayOrder(module)), uint8_t(GetPlayRow(module)), uint8_t(t),
                                   uint8_t(t >> 8), uint8_t(t >> 16), uint8_t(t >> 24)};
        positions.Add(record, sizeof record);
    }
    return pcm.Hex() + " " + positions.Hex();
}

TEST(CompleteRenderHashes, ThirtySecondsOfEveryCorpusSong) {
    const char* corpus = getenv("VINTO_CORPUS");
    if (!corpus || !*corpus) GTEST_SKIP() << "no corpus (VINTO_CORPUS)";
    std::map<std::string, std::string> table;  // "size digest" -> render digests
    FILE* file = fopen(VINTO_COMPLETE_HASHES, "r");
    ASSERT_TRUE(file) << VINTO_COMPLETE_HASHES;
    char line[512], name[256], digest[32], pcm[32], positions[32];
    unsigned long long size;
    while (fgets(line, sizeof line, file))
        if (line[0] != '#' && sscanf(line, "%255s %llu %31s %31s %31s", name, &size, digest, pcm, positions) == 5)
            table[std::to_string(size) + " " + digest] = std::string(pcm) + " " + positions;
    fclose(file);

    int checked = 0;
    DIR* dir = opendir(corpus);
    ASSERT_TRUE(dir) << corpus;
    while (dirent* e = readdir(dir)) {
        const std::string entry = e->d_name;
        if (entry.size() < 4 || strcasecmp(entry.c_str() + entry.size() - 3, ".xm") != 0) continue;
        SCOPED_TRACE(entry);
        std::vector<uint8_t> bytes;
        FILE* song = fopen((std::string(corpus) + "/" + entry).c_str(), "rb");
        for (int c; song && (c = fgetc(song)) != EOF;) bytes.push_back(uint8_t(c));
        if (song) fclose(song);
        Digest file_digest;
        file_digest.Add(bytes.data(), bytes.size());
        const std::string key = std::to_string(bytes.size()) + " " + file_digest.Hex();
        xm::InstallMemoryFile(bytes);
        Module* module = LoadModuleInMode("song.xm", nullptr, VINTO_MODE_COMPLETE);
        if (!module) continue;  // the loader's own tests judge refusals
        ASSERT_TRUE(StartRendering(module));
        const std::string render = Render30Seconds(module);
        EXPECT_TRUE(FreeModule(module));
        const auto found = table.find(key);
        if (found == table.end()) {
            printf("not in the table: %s %s %s\n", entry.c_str(), key.c_str(), render.c_str());
            continue;
        }
        EXPECT_EQ(render, found->second) << "16-bit samples or position records differ";
        checked++;
    }
    closedir(dir);
    EXPECT_GT(checked, 0) << "no corpus song is in the table";
}

}  // namespace
