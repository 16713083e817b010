// Output pinned to the bit: the first 30 s of the program's song (linked in, loaded as the player loads it) and of
// every corpus song, offline in exact and complete mode, give the 16-bit samples and position records (order, row,
// time per block) in perf_render_hashes.txt and complete_render_hashes.txt (keyed by file size and digest; a song not
// in its table prints its line). Each also keeps the loader's promises, plays the same live and seeks exactly.
#include <gtest/gtest.h>
#include <inttypes.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "module/resource_file.h"
#include "output/convert_variants.h"
#include "output/output.h"
#include "tests/support/xm_builder.h"

using namespace vinto;

namespace {

constexpr int BLOCK = 884, BLOCKS = (30 * 44100 + BLOCK - 1) / BLOCK;  // 30 s, whole blocks

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "the digests are of the samples' little-endian bytes");
struct Digest {  // 64-bit FNV-1a, as hex
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

std::vector<uint8_t> ReadFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

// Digests of the 16-bit values (LE bytes) and of order u8, row u8, time u32 LE per block against the table; seeks.
void CheckSongs(const char* table_path, int32_t mode, std::map<std::string, std::vector<uint8_t>> songs) {
    std::map<std::string, std::string> table;  // "size digest" -> render digests
    std::ifstream file(table_path);
    ASSERT_TRUE(file) << table_path;
    for (std::string line, name, size, digest, pcm, positions; std::getline(file, line);)
        if (line[0] != '#' && std::istringstream(line) >> name >> size >> digest >> pcm >> positions)
            table[size + " " + digest] = pcm + " " + positions;
    if (const char* corpus = getenv("VINTO_CORPUS"); corpus && *corpus)
        for (const auto& e : std::filesystem::directory_iterator(corpus))
            if (strcasecmp(e.path().extension().c_str(), ".xm") == 0) songs[e.path().filename()] = ReadFile(e.path());
    size_t checked = 0, index = 0;
    for (const auto& [song_name, bytes] : songs) {
        SCOPED_TRACE(song_name);
        Digest file_digest, pcm_digest, position_digest;
        file_digest.Add(bytes.data(), bytes.size());
        const std::string key = std::to_string(bytes.size()) + " " + file_digest.Hex();
        xm::InstallMemoryFile(bytes);
        if (song_name == "resources:vinto.xm")  // linked in, loaded as the player loads it
            SetFileIo(ResourceFileOpen, ResourceFileClose, ResourceFileRead, ResourceFileSeek, ResourceFileTell);
        Module* module = LoadModuleInMode("song.xm", nullptr, mode);
        ASSERT_TRUE(module && StartRendering(module)) << GetLoadError();
        EXPECT_EQ(xm::ModuleFaults(module), "");
        SelectConvertVariant(int32_t(index++ % CONVERT_VARIANT_COUNT));  // each conversion on some songs
        std::vector<int16_t> frames(size_t(BLOCKS) * BLOCK * 2);
        std::vector<SyncEntry> sync(BLOCKS);
        for (int b = 0; b < BLOCKS; b++) {
            ASSERT_EQ(RenderNextBlock(&frames[size_t(b) * BLOCK * 2], BLOCK), BLOCK);
            const uint32_t t = GetPlayTime(module);
            const uint8_t record[6] = {uint8_t(GetPlayOrder(module)), uint8_t(GetPlayRow(module)), uint8_t(t),
                                       uint8_t(t >> 8), uint8_t(t >> 16), uint8_t(t >> 24)};
            position_digest.Add(record, sizeof record);
            sync[size_t(b)] = {record[0], record[1], t};
        }
        pcm_digest.Add(frames.data(), frames.size() * 2);
        // The live path gives the same blocks: the prefill, then the output thread's rewrite of each block the device
        // left, past the ring's end into its second round (the conversion leaving the float stretch cleared for the
        // next block).
        ASSERT_TRUE(StopPlayback(module) && ResetPlayback(module) && AllocateRenderBuffers() && PrefillRing());
        for (int i = 0; i < 260; i++) {
            const int32_t b = i < 100 ? i : output.next_block;
            if (i >= 100) RenderBlock();
            ASSERT_TRUE(memcmp(output.ring + b * BLOCK * 2, &frames[size_t(i) * BLOCK * 2], BLOCK * 4) == 0 &&
                        memcmp(&output.sync_entries[b], &sync[size_t(i)], sizeof(SyncEntry)) == 0) << "live block " << i;
        }
        ASSERT_TRUE(StartRendering(module));
        // Anywhere in a block, from the file digest: a block's worth of frames.
        for (uint64_t frame : {file_digest.value % (20 * 44100), file_digest.value % 441 * 2900 + 883}) {
            ASSERT_TRUE(SeekToFrame(module, frame));
            std::vector<int16_t> after(BLOCK * 4);  // the rest of the seek's block, then whole blocks
            for (int32_t got = 0, n = 1; got < BLOCK && n > 0; got += n) n = RenderNextBlock(&after[size_t(got) * 2], BLOCK);
            EXPECT_EQ(memcmp(after.data(), &frames[frame * 2], BLOCK * 4), 0) << "seek to " << frame;
        }
        EXPECT_TRUE(FreeModule(module));
        const std::string render = pcm_digest.Hex() + " " + position_digest.Hex();
        if (!table.count(key)) {
            EXPECT_EQ(song_name.find(':'), std::string::npos) << "not in the table; the test song changed?";
            printf("not in the table: %s %s %s\n", song_name.c_str(), key.c_str(), render.c_str());
            continue;
        }
        EXPECT_EQ(render, table[key]) << "16-bit samples or position records differ";
        checked++;
    }
    SelectConvertVariant(CONVERT_VARIANT_COUNT);
    EXPECT_GT(checked, songs.size() / 2) << "few songs are in the table";
}

TEST(PerfRenderHashes, ThirtySecondsOfEverySongStayBitForBit) {
    CheckSongs(VINTO_PERF_HASHES, VINTO_MODE_EXACT, {{"resources:vinto.xm", ReadFile(VINTO_SONG)}});
}

#ifdef VINTO_COMPLETE_HASHES
TEST(CompleteRenderHashes, ThirtySecondsOfEverySong) {
    CheckSongs(VINTO_COMPLETE_HASHES, VINTO_MODE_COMPLETE, {{"resources:vinto.xm", ReadFile(VINTO_SONG)}});
}
#endif

}  // namespace
