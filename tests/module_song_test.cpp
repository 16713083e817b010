// The program's own song, linked into this test program and loaded through the
// resource callbacks exactly as the player does at start.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "module/file_io.h"
#include "module/module.h"
#include "module/resource_file.h"
#include "tests/support/xm_builder.h"

using namespace vinto;

namespace {

int32_t position_at_close = -1, length_at_close = -1;
void RecordingClose(void* stream) {
    position_at_close = ResourceFileTell(stream);
    length_at_close = static_cast<ResourceFile*>(stream)->length;
    ResourceFileClose(stream);
}

TEST(ProgramSong, LoadsAsThePlayerLoadsIt) {
    SetFileIo(ResourceFileOpen, RecordingClose, ResourceFileRead, ResourceFileSeek, ResourceFileTell);
    Module* module = LoadModule("0.xm", nullptr);
    ASSERT_NE(module, nullptr) << GetLoadError();
    // The whole song is served, and a well-formed file is read to its last byte.
    struct stat song;
    ASSERT_EQ(stat(VINTO_TEST_SONG, &song), 0);
    EXPECT_EQ(length_at_close, song.st_size);
    EXPECT_EQ(position_at_close, length_at_close);
    EXPECT_EQ(module->channel_count, 14);
    EXPECT_EQ(module->used_pattern_count, 15);
    ASSERT_EQ(module->instrument_count, 7);
    const Sample& third = *module->instruments[2].samples[0];
    EXPECT_EQ(third.length, 929u);
    EXPECT_EQ(third.loop_mode, LOOP_BIDI);
    EXPECT_EQ(third.loop_start, 18u);
    EXPECT_EQ(third.loop_length, 911u);
    EXPECT_EQ(module->default_speed, 6);
    EXPECT_EQ(module->default_bpm, 138);
    EXPECT_EQ(xm::ModuleFaults(module), "");
    EXPECT_TRUE(FreeModule(module));
    SetFileIo(nullptr, nullptr, nullptr, nullptr, nullptr);
}

}  // namespace
