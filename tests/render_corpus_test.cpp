// Public songs from $VINTO_CORPUS (skipped without it): each loads keeping the
// loader's promises, and renders its first minute twice to the same bytes.
#include <dirent.h>
#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>

#include <string>
#include <vector>

#include "module/module.h"
#include "tests/support/xm_builder.h"

using namespace vinto;

namespace {

// A 64-bit FNV-1a digest of the first minute's frames.
uint64_t RenderMinute(Module* module) {
    EXPECT_TRUE(StartRendering(module));
    uint64_t digest = 14695981039346656037ull;
    std::vector<int16_t> frames(884 * 2);
    for (int b = 0; b < (60 * 44100 + 883) / 884; b++) {
        EXPECT_EQ(RenderNextBlock(frames.data(), 884), 884);
        for (int16_t v : frames) digest = (digest ^ uint16_t(v)) * 1099511628211ull;
    }
    return digest;
}

TEST(CorpusRender, EverySongLoadsAndRendersTheSameTwice) {
    const char* env = getenv("VINTO_CORPUS");
    const std::string dir = env && *env ? env : VINTO_CORPUS_DEFAULT;
    if (dir.empty()) GTEST_SKIP() << "VINTO_CORPUS is not set";
    DIR* d = opendir(dir.c_str());
    ASSERT_NE(d, nullptr) << dir;
    int rendered = 0;
    while (dirent* e = readdir(d)) {
        const std::string name = e->d_name;
        if (name.size() < 4 || name.compare(name.size() - 3, 3, ".xm") != 0) continue;
        SCOPED_TRACE(name);
        std::vector<uint8_t> bytes;
        if (FILE* file = fopen((dir + "/" + name).c_str(), "rb")) {
            for (int c; (c = fgetc(file)) != EOF;) bytes.push_back(uint8_t(c));
            fclose(file);
        }
        Module* module = xm::Load(bytes);
        ASSERT_NE(module, nullptr) << GetLoadError();
        EXPECT_EQ(xm::ModuleFaults(module), "");
        EXPECT_EQ(RenderMinute(module), RenderMinute(module));
        EXPECT_TRUE(FreeModule(module));
        rendered++;
    }
    closedir(d);
    EXPECT_GT(rendered, 0);
}

}  // namespace
