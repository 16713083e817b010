// Output pinned to the bit while the engine is made faster: the first 30
// seconds of every corpus song and of a busy built song, rendered through the
// offline interface, must give exactly the 16-bit samples and the position
// records (order, row, time per block) recorded in perf_render_hashes.txt.
//
// Songs are found in the table by file size and content digest, so the corpus
// directory and the file names do not matter. To record the table afresh (only
// when the output is meant to change), run with VINTO_RECORD_HASHES=FILE and
// copy FILE over tests/perf_render_hashes.txt.
#include <dirent.h>
#include <gtest/gtest.h>
#include <inttypes.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "tests/support/xm_builder.h"

#ifndef VINTO_PERF_HASHES
#error "VINTO_PERF_HASHES names the recorded table"
#endif

namespace {

constexpr int BLOCK_FRAMES = 884;
constexpr int BLOCKS = (30 * 44100 + BLOCK_FRAMES - 1) / BLOCK_FRAMES;  // 30 s, whole blocks

// 64-bit FNV-1a.
struct Digest {
    uint64_t value = 14695981039346656037ull;
    void Add(const void* bytes, size_t count) {
        const uint8_t* p = static_cast<const uint8_t*>(bytes);
        for (size_t i = 0; i < count; i++) value = (value ^ p[i]) * 1099511628211ull;
    }
};

std::string Hex(uint64_t value) {
    char text[17];
    snprintf(text, sizeof text, "%016" PRIx64, value);
    return text;
}

// The key of a song: its size and content digest.
std::string SongKey(const std::vector<uint8_t>& bytes) {
    Digest d;
    d.Add(bytes.data(), bytes.size());
    return std::to_string(bytes.size()) + " " + Hex(d.value);
}

struct Render {
    std::string pcm;        // digest of the 16-bit values, little-endian bytes
    std::string positions;  // digest of order (u8), row (u8), time (u32 LE) per block
};

Render Render30Seconds(Module* module) {
    Digest pcm, positions;
    std::vector<int16_t> frames(BLOCK_FRAMES * 2);
    for (int b = 0; b < BLOCKS; b++) {
        if (RenderNextBlock(frames.data(), BLOCK_FRAMES) != BLOCK_FRAMES) {
            ADD_FAILURE() << "block " << b << " not rendered";
            break;
        }
        for (int16_t v : frames) {
            const uint8_t bytes[2] = {uint8_t(uint16_t(v)), uint8_t(uint16_t(v) >> 8)};
            pcm.Add(bytes, 2);
        }
        const uint32_t time = GetPlayTime(module);
        const uint8_t record[6] = {
            uint8_t(GetPlayOrder(module)), uint8_t(GetPlayRow(module)), uint8_t(time), uint8_t(time >> 8),
            uint8_t(time >> 16),           uint8_t(time >> 24)};
        positions.Add(record, sizeof record);
    }
    return {Hex(pcm.value), Hex(positions.value)};
}

std::vector<uint8_t> ReadFile(const std::string& path) {
    std::vector<uint8_t> bytes;
    FILE* file = fopen(path.c_str(), "rb");
    if (!file) return bytes;
    uint8_t buffer[65536];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, file)) > 0) bytes.insert(bytes.end(), buffer, buffer + n);
    fclose(file);
    return bytes;
}

// A song that keeps many voices busy in every way the mixer distinguishes:
// 32 channels of notes drawn from a fixed generator on 8- and 16-bit samples
// with forward, ping-pong (one from loop start 0) and no loops, a tiny
// one-shot, notes cut off while sounding (ghosts fading out), volume and
// panning slides, portamento, arpeggio, retriggers, key-offs with fade-out
// and tempo changes.
std::vector<uint8_t> BusySong() {
    uint32_t seed = 2024;
    auto next = [&seed](uint32_t range) {
        seed = seed * 1664525u + 1013904223u;
        return (seed >> 8) % range;
    };
    xm::SongSpec song;
    song.channels = 32;
    song.speed = 3;
    song.bpm = 150;
    song.orders = {0, 1, 0, 1};
    auto add_instrument = [&song](xm::SampleSpec sample, bool envelope) {
        xm::InstrumentSpec instrument;
        instrument.samples.push_back(sample);
        if (envelope) {
            instrument.volume_envelope.points = {{0, 64}, {8, 40}, {30, 20}, {60, 0}};
            instrument.volume_envelope.type = 1;  // on
            instrument.fadeout = 800;
        }
        song.instruments.push_back(instrument);
    };
    xm::SampleSpec saw;  // 8-bit, forward loop
    for (int i = 0; i < 200; i++) saw.pcm.push_back(int16_t(i % 50 - 25));
    saw.loop_type = xm::FORWARD_LOOP;
    saw.loop_start = 50;
    saw.loop_length = 150;
    add_instrument(saw, false);
    xm::SampleSpec wave;  // 16-bit, ping-pong loop
    wave.sixteen_bit = true;
    for (int i = 0; i < 300; i++) wave.pcm.push_back(int16_t((i * 7919) % 12000 - 6000));
    wave.loop_type = xm::PINGPONG_LOOP;
    wave.loop_start = 100;
    wave.loop_length = 200;
    wave.relative_note = -12;
    add_instrument(wave, true);
    xm::SampleSpec noise;  // 8-bit, no loop: ends on its own
    for (int i = 0; i < 2000; i++) noise.pcm.push_back(int16_t(next(48)) - 24);
    add_instrument(noise, false);
    xm::SampleSpec bounce;  // 16-bit, ping-pong from loop start 0
    bounce.sixteen_bit = true;
    for (int i = 0; i < 64; i++) bounce.pcm.push_back(int16_t(i * 200 - 6400));
    bounce.loop_type = xm::PINGPONG_LOOP;
    bounce.loop_length = 64;
    bounce.relative_note = 24;
    add_instrument(bounce, true);
    xm::SampleSpec click;  // three entries, no loop
    click.pcm = {40, -40, 20};
    add_instrument(click, false);

    const uint8_t effects[] = {0, 1, 2, 3, 8, 10, 15, 20, 27};
    for (int p = 0; p < 2; p++) {
        xm::PatternSpec pattern;
        pattern.rows = 64;
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
                    const uint8_t columns[] = {0x10, 0x60, 0x70, 0x80, 0x90, 0xC0, 0xD0, 0xE0, 0xF0};
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

struct Song {
    std::string name;
    std::vector<uint8_t> bytes;
};

std::vector<Song> CorpusSongs(const std::string& dir) {
    std::vector<Song> songs;
    std::vector<std::string> names;
    if (DIR* d = opendir(dir.c_str())) {
        while (dirent* e = readdir(d)) {
            const std::string name = e->d_name;
            if (name.size() > 3 && strcasecmp(name.c_str() + name.size() - 3, ".xm") == 0) names.push_back(name);
        }
        closedir(d);
    }
    std::sort(names.begin(), names.end());
    for (const std::string& name : names) songs.push_back({name, ReadFile(dir + "/" + name)});
    return songs;
}

// The recorded table: key (size and digest) to the two render digests.
std::map<std::string, Render> ReadTable() {
    std::map<std::string, Render> table;
    FILE* file = fopen(VINTO_PERF_HASHES, "r");
    if (!file) return table;
    char line[512];
    while (fgets(line, sizeof line, file)) {
        if (line[0] == '#') continue;
        char name[256], digest[32], pcm[32], positions[32];
        unsigned long long size;
        if (sscanf(line, "%255s %llu %31s %31s %31s", name, &size, digest, pcm, positions) == 5)
            table[std::to_string(size) + " " + digest] = {pcm, positions};
    }
    fclose(file);
    return table;
}

TEST(PerfRenderHashes, ThirtySecondsOfEverySongStayBitForBit) {
    const char* record_path = getenv("VINTO_RECORD_HASHES");
    const bool recording = record_path && *record_path;
    const std::map<std::string, Render> table = ReadTable();
    if (!recording) {
        ASSERT_FALSE(table.empty()) << "cannot read " << VINTO_PERF_HASHES;
    }

    std::vector<Song> songs = {{"built:busy", BusySong()}};
    const char* corpus = getenv("VINTO_CORPUS");
    const bool have_corpus = corpus && *corpus;
    if (have_corpus) {
        std::vector<Song> found = CorpusSongs(corpus);
        EXPECT_FALSE(found.empty()) << "no .xm files in " << corpus;
        for (Song& song : found) songs.push_back(std::move(song));
    }

    std::string recorded = "# First 30 s (" + std::to_string(BLOCKS) +
                           " blocks of 884 frames) of each song, rendered offline.\n"
                           "# name, file size, file FNV-1a-64, FNV-1a-64 of the 16-bit samples (LE bytes),\n"
                           "# FNV-1a-64 of the position records (order u8, row u8, time_ms u32 LE per block)\n";
    int corpus_checked = 0;
    for (const Song& song : songs) {
        SCOPED_TRACE(song.name);
        Module* module = xm::Load(song.bytes);
        if (!module) {
            printf("%s: not rendered, the loader refuses it: %s\n", song.name.c_str(), GetLoadError());
            continue;
        }
        ASSERT_TRUE(StartRendering(module));
        const Render render = Render30Seconds(module);
        EXPECT_TRUE(FreeModule(module));
        const std::string key = SongKey(song.bytes);
        recorded += song.name + " " + key + " " + render.pcm + " " + render.positions + "\n";
        const auto entry = table.find(key);
        if (entry == table.end()) {
            // Only the built song must be known; another corpus may hold other songs.
            if (song.name.compare(0, 6, "built:") == 0 && !recording) {
                ADD_FAILURE() << "not in the table; the test song changed?";
            } else {
                printf("%s (%s): not in the table\n", song.name.c_str(), key.c_str());
            }
            continue;
        }
        EXPECT_EQ(render.pcm, entry->second.pcm) << "16-bit samples differ";
        EXPECT_EQ(render.positions, entry->second.positions) << "position records differ";
        if (song.name.compare(0, 6, "built:") != 0) corpus_checked++;
    }
    if (recording) {
        FILE* out = fopen(record_path, "w");
        ASSERT_TRUE(out) << record_path;
        fputs(recorded.c_str(), out);
        fclose(out);
        printf("recorded %zu songs in %s\n", songs.size(), record_path);
    } else if (have_corpus) {
        EXPECT_GT(corpus_checked, 0) << "no song of " << corpus << " is in the table";
    }
}

}  // namespace
