// Every public XM song in $VINTO_CORPUS loads and keeps the loader's promises.
#include <dirent.h>
#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>

#include <algorithm>
#include <string>
#include <vector>

#include "module/module.h"
#include "tests/support/xm_builder.h"

namespace {

std::vector<std::string> CorpusFiles(const std::string& directory) {
    std::vector<std::string> files;
    if (DIR* dir = opendir(directory.c_str())) {
        while (dirent* entry = readdir(dir)) {
            std::string name = entry->d_name;
            if (name.size() > 3 && name.compare(name.size() - 3, 3, ".xm") == 0) files.push_back(directory + "/" + name);
        }
        closedir(dir);
    }
    std::sort(files.begin(), files.end());
    return files;
}

std::vector<uint8_t> ReadFile(const std::string& path) {
    std::vector<uint8_t> bytes;
    if (FILE* file = fopen(path.c_str(), "rb")) {
        uint8_t chunk[65536];
        size_t n;
        while ((n = fread(chunk, 1, sizeof(chunk), file)) > 0) bytes.insert(bytes.end(), chunk, chunk + n);
        fclose(file);
    }
    return bytes;
}

TEST(Corpus, EverySongLoadsWithItsInvariants) {
    const char* directory = getenv("VINTO_CORPUS");
    if (!directory || !*directory) GTEST_SKIP() << "VINTO_CORPUS is not set";
    std::vector<std::string> files = CorpusFiles(directory);
    if (files.empty()) GTEST_SKIP() << "no .xm files in " << directory;
    for (const std::string& path : files) {
        std::vector<uint8_t> bytes = ReadFile(path);
        ASSERT_GT(bytes.size(), 336u) << path;
        Module* module = xm::Load(bytes);
        EXPECT_EQ(xm::OpenMemoryStreams(), 0) << path;
        ASSERT_NE(module, nullptr) << path << ": " << GetLoadError();
        EXPECT_EQ(xm::ModuleFaults(module), "") << path;
        // What the header says, read independently.
        uint32_t channels = bytes[68] | bytes[69] << 8;
        uint32_t stored_patterns = bytes[70] | bytes[71] << 8;
        uint32_t instruments = bytes[72] | bytes[73] << 8;
        EXPECT_EQ(uint32_t(module->channel_count), channels) << path;
        EXPECT_GE(uint32_t(module->pattern_count), stored_patterns) << path;
        EXPECT_GE(module->pattern_count, module->used_pattern_count) << path;
        EXPECT_EQ(uint32_t(module->instrument_count), instruments) << path;
        EXPECT_TRUE(FreeModule(module)) << path;
    }
}

}  // namespace
