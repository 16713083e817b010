// The resource file over a song linked into this test program, and loading
// through the resource callbacks as the player program does.
#include <gtest/gtest.h>
#include <stdio.h>

#include <vector>

#include "module/file_io.h"
#include "module/module.h"
#include "module/resource_file.h"
#include "platform/win32.h"
#include "tests/support/xm_builder.h"

namespace {

std::vector<uint8_t> SongFile() {
    std::vector<uint8_t> bytes;
    FILE* file = fopen(VINTO_TEST_SONG, "rb");
    if (!file) return bytes;
    int c;
    while ((c = fgetc(file)) != EOF) bytes.push_back(uint8_t(c));
    fclose(file);
    return bytes;
}

TEST(EmbeddedSong, ServedAsOneReadOnlyBlock) {
    std::vector<uint8_t> expected = SongFile();
    ASSERT_GT(expected.size(), 336u);
    void* stream = ResourceFileOpen("ignored name");
    ASSERT_NE(stream, nullptr);
    ResourceFile* file = static_cast<ResourceFile*>(stream);
    EXPECT_EQ(file->length, int32_t(expected.size()));
    EXPECT_EQ(file->position, 0);
    std::vector<uint8_t> served(expected.size() + 10, 0xEE);
    uint32_t total = 0;
    while (uint32_t n = ResourceFileRead(served.data() + total, 7, stream)) total += n;
    EXPECT_EQ(total, expected.size());
    served.resize(total);
    EXPECT_EQ(served, expected);
    ResourceFileClose(stream);
}

TEST(EmbeddedSong, TwoOpensAreIndependent) {
    void* a = ResourceFileOpen("0.xm");
    void* b = ResourceFileOpen("0.xm");
    ASSERT_NE(a, b);
    ResourceFileSeek(a, 40, SEEK_FROM_START);
    uint8_t first[4], second[4];
    ResourceFileRead(first, 4, a);
    ResourceFileRead(second, 4, b);
    EXPECT_EQ(ResourceFileTell(a), 44);
    EXPECT_EQ(ResourceFileTell(b), 4);
    EXPECT_EQ(second[0], 'E');
    EXPECT_EQ(static_cast<ResourceFile*>(a)->data, static_cast<ResourceFile*>(b)->data);
    ResourceFileClose(a);
    ResourceFileClose(b);
}

TEST(EmbeddedSong, OnlyResource251OfTypeRcdataExists) {
    EXPECT_NE(FindResourceA(nullptr, MAKEINTRESOURCEA(251), RT_RCDATA), nullptr);
    EXPECT_EQ(FindResourceA(nullptr, MAKEINTRESOURCEA(252), RT_RCDATA), nullptr);
    EXPECT_EQ(FindResourceA(nullptr, MAKEINTRESOURCEA(251), RT_DIALOG), nullptr);
    int other_module;
    EXPECT_EQ(FindResourceA(&other_module, MAKEINTRESOURCEA(251), RT_RCDATA), nullptr);
}

int32_t position_at_close = -1;
void RecordingClose(void* stream) {
    position_at_close = ResourceFileTell(stream);
    ResourceFileClose(stream);
}

TEST(EmbeddedSong, LoadsThroughTheResourceCallbacksAndReadsToTheEnd) {
    SetFileIo(ResourceFileOpen, RecordingClose, ResourceFileRead, ResourceFileSeek, ResourceFileTell);
    Module* module = LoadModule("0.xm", nullptr);
    ASSERT_NE(module, nullptr) << GetLoadError();
    // A well-formed file is read exactly to its last byte, and closed.
    EXPECT_EQ(position_at_close, int32_t(SongFile().size()));
    EXPECT_EQ(module->channel_count, 4);
    EXPECT_EQ(module->instrument_count, 2);
    const Sample& wave = *module->instruments[1].samples[0];
    EXPECT_EQ(wave.loop_mode, LOOP_BIDI);
    EXPECT_EQ(wave.length, 50u);
    EXPECT_EQ(wave.data[45], wave.data[44]);
    EXPECT_EQ(xm::ModuleFaults(module), "");
    EXPECT_TRUE(FreeModule(module));
    SetFileIo(nullptr, nullptr, nullptr, nullptr, nullptr);
}

}  // namespace
