// Files that end anywhere, and the seed songs the fuzzers start from: each
// loads or is refused with a reason, and what loads plays with every record
// in range and the song moving on.
#include <dirent.h>
#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <string>
#include <vector>

#include "fuzz/seed_songs.h"
#include "tests/hardening_check.h"
#include "tests/support/xm_builder.h"

namespace {

using hardening::ModulePtr;
using hardening::Play;

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

// The smallest songs of $VINTO_CORPUS (they are cut at many places each).
std::vector<std::string> SmallCorpusSongs(size_t count) {
    std::vector<std::pair<size_t, std::string>> songs;
    const char* dir = getenv("VINTO_CORPUS");
    if (!dir || !*dir) return {};
    if (DIR* d = opendir(dir)) {
        while (dirent* e = readdir(d)) {
            std::string name = e->d_name;
            if (name.size() < 4 || strcasecmp(name.c_str() + name.size() - 3, ".xm") != 0) continue;
            std::string path = std::string(dir) + "/" + name;
            songs.push_back({ReadFile(path).size(), path});
        }
        closedir(d);
    }
    std::sort(songs.begin(), songs.end());
    std::vector<std::string> paths;
    for (size_t i = 0; i < songs.size() && i < count; i++) paths.push_back(songs[i].second);
    return paths;
}

// Loads every prefix of `bytes` whose length is a multiple of `stride`, and
// the whole file, and plays what loads. Returns the shortest length from
// which on every prefix loaded (bytes.size() + 1 when the whole file did not).
size_t CutEverywhere(const std::string& what, const std::vector<uint8_t>& bytes, size_t stride, int blocks) {
    std::vector<size_t> lengths;
    for (size_t length = 0; length < bytes.size(); length += stride) lengths.push_back(length);
    lengths.push_back(bytes.size());
    size_t loading_from = bytes.size() + 1;
    for (size_t length : lengths) {
        std::vector<uint8_t> cut(bytes.begin(), bytes.begin() + length);
        ModulePtr module(xm::Load(cut));
        if (!module) {
            EXPECT_STRNE(GetLoadError(), "") << what << " cut at " << length;
            loading_from = bytes.size() + 1;
            continue;
        }
        if (loading_from > length) loading_from = length;
        auto report = Play(module.get(), blocks);
        EXPECT_EQ(report.faults, "") << what << " cut at " << length;
        if (!report.faults.empty()) break;
    }
    return loading_from;
}

TEST(Truncation, BuilderSongsCutAtEveryBytePlaySafely) {
    for (const char* name : {"effects", "samples", "envelopes"}) {
        for (const seeds::SeedSong& seed : seeds::SeedSongs()) {
            if (seed.name != name) continue;
            std::vector<uint8_t> bytes = xm::Build(seed.song);
            // Once the low byte of the channel count is in (offset 68), every
            // cut loads: what is missing reads as zeros.
            EXPECT_EQ(CutEverywhere(seed.name, bytes, 1, 8), 69u) << seed.name;
        }
    }
}

TEST(Truncation, CorpusSongsCutEverywherePlaySafely) {
    std::vector<std::string> songs = SmallCorpusSongs(3);
    if (songs.empty()) GTEST_SKIP() << "VINTO_CORPUS not set";
    for (const std::string& path : songs) {
        std::vector<uint8_t> bytes = ReadFile(path);
        // About 150 cuts per song, at a stride that is no multiple of 2 or 4,
        // so the cuts fall on every position within cells and fields.
        size_t stride = bytes.size() / 150 | 1;
        EXPECT_LE(CutEverywhere(path, bytes, stride, 25), 336u) << path;
    }
}

TEST(SeedSongs, EachLoadsAndPlaysWhileTheSongMovesOn) {
    // These the loader refuses; every other seed must load.
    const std::vector<std::string> refused = {};
    int played = 0;
    for (const seeds::SeedSong& seed : seeds::SeedSongs()) {
        ModulePtr module(xm::Load(seed.song));
        bool expect_refusal = std::find(refused.begin(), refused.end(), seed.name) != refused.end();
        ASSERT_EQ(module == nullptr, expect_refusal) << seed.name << ": " << GetLoadError();
        if (!module) continue;
        auto report = Play(module.get(), 256);
        EXPECT_EQ(report.faults, "") << seed.name;
        EXPECT_GT(report.moves, 0u) << seed.name;
        // Each slice drops less than a millisecond; a block has at most a few.
        EXPECT_GE(report.time_ms, 256u * 10) << seed.name;
        played++;
    }
    EXPECT_GE(played, 15);
}

}  // namespace
