// Output pinned to the bit while the engine is made faster: the first 30
// seconds of a busy built song and of every corpus song, rendered offline,
// must give the 16-bit samples and position records (order, row, time per
// block) recorded in perf_render_hashes.txt. Songs are looked up by file size
// and content digest; a song not in the table prints its line for recording.
// Every corpus song also keeps the loader's promises.
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
constexpr int BLOCKS = (30 * 44100 + BLOCK_FRAMES - 1) / BLOCK_FRAMES;  // 30 s, whole blocks

// 64-bit FNV-1a, as hex.
struct Digest {
    uint64_t value = 14695981039346656037ull;
    void Add(const void* bytes, size_t count) {
        for (size_t i = 0; i < count; i++) value = (value ^ static_cast<const uint8_t*>(bytes)[i]) * 1099511628211ull;
    }
    std::string Hex() const {
        char text[17];
        snprintf(text, sizeof text, "%016" PRIx64, value);
        return text;
    }
};

// Digests of the 16-bit values (LE bytes) and of order u8, row u8, time u32 LE per block.
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

// 32 channels of notes from a fixed generator on 8- and 16-bit samples with
// forward, ping-pong (one from loop start 0) and no loops, notes cut while
// sounding, key-offs with fade-out, volume-column and effect commands.
std::vector<uint8_t> BusySong() {
    uint32_t seed = 2024;
    auto next = [&seed](uint32_t range) {
        seed = seed * 1664525u + 1013904223u;
        return (seed >> 8) % range;
    };
    xm::SongSpec song;
    song.channels = 32, song.speed = 3, song.bpm = 150, song.orders = {0, 1, 0, 1};
    // One instrument per sample; those with an envelope fade out after key-off.
    auto add = [&song](std::vector<int16_t> pcm, bool sixteen_bit, uint8_t loop_type, uint32_t loop_start,
                       uint32_t loop_length, int8_t relative_note, bool envelope) {
        xm::InstrumentSpec instrument;
        instrument.samples.resize(1);
        xm::SampleSpec& sample = instrument.samples[0];
        sample.pcm = pcm, sample.sixteen_bit = sixteen_bit, sample.loop_type = loop_type;
        sample.loop_start = loop_start, sample.loop_length = loop_length, sample.relative_note = relative_note;
        if (envelope) {
            instrument.volume_envelope = {{{0, 64}, {8, 40}, {30, 20}, {60, 0}}, 0xFF, 0, 0, 0, 1};  // on
            instrument.fadeout = 800;
        }
        song.instruments.push_back(instrument);
    };
    std::vector<int16_t> saw, wave, noise, bounce;
    for (int i = 0; i < 200; i++) saw.push_back(int16_t(i % 50 - 25));
    for (int i = 0; i < 300; i++) wave.push_back(int16_t((i * 7919) % 12000 - 6000));
    for (int i = 0; i < 2000; i++) noise.push_back(int16_t(next(48)) - 24);
    for (int i = 0; i < 64; i++) bounce.push_back(int16_t(i * 200 - 6400));
    add(saw, false, xm::FORWARD_LOOP, 50, 150, 0, false);
    add(wave, true, xm::PINGPONG_LOOP, 100, 200, -12, true);
    add(noise, false, xm::NO_LOOP, 0, 0, 0, false);
    add(bounce, true, xm::PINGPONG_LOOP, 0, 64, 24, true);  // ping-pong from loop start 0
    add({40, -40, 20}, false, xm::NO_LOOP, 0, 0, 0, false);

    const uint8_t effects[] = {0, 1, 2, 3, 8, 10, 15, 20, 27};
    const uint8_t columns[] = {0x10, 0x60, 0x70, 0x80, 0x90, 0xC0, 0xD0, 0xE0, 0xF0};
    for (int p = 0; p < 2; p++) {
        xm::PatternSpec pattern;
        for (int row = 0; row < 64; row++) {
            for (int channel = 0; channel < 32; channel++) {
                xm::Cell& cell = pattern.At(row, channel, 32);
                const uint32_t roll = next(100);
                if (roll < 30) {
                    cell.note = uint8_t(1 + next(96));
                    cell.instrument = uint8_t(1 + next(5));
                } else if (roll < 34) {
                    cell.note = 97;  // key off
                }
                if (next(4) == 0) {
                    const uint8_t column = columns[next(9)];
                    cell.volume = uint8_t(column + (column == 0x10 ? next(65) : next(16)));
                }
                if (next(3) == 0) {
                    cell.effect = effects[next(9)];
                    cell.param = uint8_t(next(256));
                    if (cell.effect == 15) cell.param = uint8_t(next(2) ? 2 + next(5) : 100 + next(100));
                }
            }
        }
        song.patterns.push_back(pattern);
    }
    return xm::Build(song);
}

TEST(PerfRenderHashes, ThirtySecondsOfEverySongStayBitForBit) {
    std::map<std::string, std::string> table;  // "size digest" -> render digests
    FILE* file = fopen(VINTO_PERF_HASHES, "r");
    ASSERT_TRUE(file) << VINTO_PERF_HASHES;
    char line[512], name[256], digest[32], pcm[32], positions[32];
    unsigned long long size;
    while (fgets(line, sizeof line, file))
        if (line[0] != '#' && sscanf(line, "%255s %llu %31s %31s %31s", name, &size, digest, pcm, positions) == 5)
            table[std::to_string(size) + " " + digest] = std::string(pcm) + " " + positions;
    fclose(file);

    std::map<std::string, std::vector<uint8_t>> songs = {{"built:busy", BusySong()}};
    const char* corpus = getenv("VINTO_CORPUS");
    if (DIR* d = corpus && *corpus ? opendir(corpus) : nullptr) {
        while (dirent* e = readdir(d)) {
            const std::string entry = e->d_name;
            if (entry.size() < 4 || strcasecmp(entry.c_str() + entry.size() - 3, ".xm") != 0) continue;
            std::vector<uint8_t>& bytes = songs[entry];
            FILE* song = fopen((std::string(corpus) + "/" + entry).c_str(), "rb");
            for (int c; song && (c = fgetc(song)) != EOF;) bytes.push_back(uint8_t(c));
            if (song) fclose(song);
        }
        closedir(d);
    }
    int checked = 0;
    for (const auto& [song_name, bytes] : songs) {
        SCOPED_TRACE(song_name);
        Digest file_digest;
        file_digest.Add(bytes.data(), bytes.size());
        const std::string key = std::to_string(bytes.size()) + " " + file_digest.Hex();
        const auto entry = table.find(key);
        Module* module = xm::Load(bytes);
        ASSERT_TRUE(module) << GetLoadError();
        EXPECT_EQ(xm::ModuleFaults(module), "");
        ASSERT_TRUE(StartRendering(module));
        const std::string render = Render30Seconds(module);
        EXPECT_TRUE(FreeModule(module));
        if (entry == table.end()) {
            EXPECT_NE(song_name, "built:busy") << "not in the table; the test song changed?";
            printf("not in the table: %s %s %s\n", song_name.c_str(), key.c_str(), render.c_str());
            continue;
        }
        EXPECT_EQ(render, entry->second) << "16-bit samples or position records differ";
        checked++;
    }
    EXPECT_GT(checked, corpus && *corpus ? 1 : 0) << "no corpus song is in the table";
}

}  // namespace
