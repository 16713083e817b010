// The program's own song, linked into this test program and loaded through the
// resource callbacks exactly as the player does at start.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "module/file_io.h"
#include "module/module.h"
#include "module/resource_file.h"
#include "tests/support/xm_builder.h"

using namespace vinto;

int32_t position_at_close = -1, length_at_close = -1;

TEST(ProgramSong, LoadsAsThePlayerLoadsIt) {
    SetFileIo(ResourceFileOpen, [](void* stream) {
        position_at_close = ResourceFileTell(stream), length_at_close = static_cast<ResourceFile*>(stream)->length;
        ResourceFileClose(stream);
    }, ResourceFileRead, ResourceFileSeek, ResourceFileTell);
    Module* module = LoadModule("0.xm", nullptr);
    ASSERT_NE(module, nullptr) << GetLoadError();
    // The whole song is served, and a well-formed file is read to its last byte.
    struct stat song;
    ASSERT_EQ(stat(VINTO_TEST_SONG, &song), 0);
    EXPECT_EQ((std::vector<int64_t>{length_at_close, position_at_close, module->channel_count, module->used_pattern_count,
                                    module->instrument_count, module->default_speed, module->default_bpm}),
              (std::vector<int64_t>{song.st_size, song.st_size, 14, 15, 7, 6, 138}));
    const Sample& pad = *module->instruments[2].samples[0];
    EXPECT_TRUE(pad.length == 929 && pad.loop_mode == LOOP_BIDI && pad.loop_start == 18 && pad.loop_length == 911);
    EXPECT_EQ(xm::ModuleFaults(module), "");
    EXPECT_TRUE(FreeModule(module));
}
