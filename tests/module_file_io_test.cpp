// The file access table, its wrappers, and the resource file's stream operations.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "module/file_io.h"
#include "module/resource_file.h"
#include "vinto/vinto.h"

namespace {

// Callbacks that record what reached them.
std::string calls;
int stream_token;
bool open_fails;

void* RecordOpen(const char* name) {
    calls += std::string("open ") + name + ";";
    return open_fails ? nullptr : &stream_token;
}
void RecordClose(void* stream) { calls += stream == &stream_token ? "close;" : "close ?;"; }
uint32_t RecordRead(uint8_t* buffer, uint32_t size, void* stream) {
    calls += "read " + std::to_string(size) + (stream == &stream_token ? ";" : " ?;");
    if (buffer && size > 0) buffer[0] = 0x5A;
    return size / 2;
}
void RecordSeek(void* stream, int32_t offset, uint8_t origin) {
    calls += "seek " + std::to_string(offset) + " " + std::to_string(origin) + (stream == &stream_token ? ";" : " ?;");
}
int32_t RecordTell(void* stream) {
    calls += stream == &stream_token ? "tell;" : "tell ?;";
    return 1234;
}

class FileIoTest : public ::testing::Test {
protected:
    void SetUp() override {
        calls.clear();
        open_fails = false;
        SetFileIo(RecordOpen, RecordClose, RecordRead, RecordSeek, RecordTell);
    }
    void TearDown() override { SetFileIo(nullptr, nullptr, nullptr, nullptr, nullptr); }
};

TEST_F(FileIoTest, AnyNullCallbackClearsTheWholeTable) {
    for (int missing = 0; missing < 5; missing++) {
        SetFileIo(RecordOpen, RecordClose, RecordRead, RecordSeek, RecordTell);
        ASSERT_TRUE(FileIoInstalled());
        SetFileIo(missing == 0 ? nullptr : RecordOpen, missing == 1 ? nullptr : RecordClose,
                  missing == 2 ? nullptr : RecordRead, missing == 3 ? nullptr : RecordSeek,
                  missing == 4 ? nullptr : RecordTell);
        EXPECT_FALSE(FileIoInstalled()) << "argument " << missing;
        EXPECT_EQ(file_io.open, nullptr) << "argument " << missing;
        EXPECT_EQ(file_io.close, nullptr) << "argument " << missing;
        EXPECT_EQ(file_io.read, nullptr) << "argument " << missing;
        EXPECT_EQ(file_io.seek, nullptr) << "argument " << missing;
        EXPECT_EQ(file_io.tell, nullptr) << "argument " << missing;
        EXPECT_EQ(FileOpen("song.xm"), nullptr);
    }
    EXPECT_EQ(calls, "") << "no callback may be called through a cleared table";
}

TEST_F(FileIoTest, WrappersForwardArgumentsInTheirOrder) {
    FileHandle* handle = FileOpen("0.xm");
    ASSERT_NE(handle, nullptr);
    EXPECT_EQ(handle->stream, &stream_token);
    uint8_t buffer[8] = {};
    EXPECT_EQ(FileRead(buffer, 8, handle), 4u);
    EXPECT_EQ(buffer[0], 0x5A);
    FileSeek(handle, -5, SEEK_FROM_END);
    EXPECT_EQ(FileTell(handle), 1234);
    FileClose(handle);
    EXPECT_EQ(calls, "open 0.xm;read 8;seek -5 2;tell;close;");
}

TEST_F(FileIoTest, FailedOpenReturnsNull) {
    open_fails = true;
    EXPECT_EQ(FileOpen("missing.xm"), nullptr);  // the sanitizer build checks nothing leaks
    EXPECT_EQ(calls, "open missing.xm;");
    EXPECT_EQ(LoadModule("missing.xm", nullptr), nullptr);
    EXPECT_STREQ(GetLoadError(), "cannot open the file");
}

TEST_F(FileIoTest, NullHandleIsIgnored) {
    uint8_t buffer[4] = {1, 2, 3, 4};
    EXPECT_EQ(FileRead(buffer, 4, nullptr), 0u);
    EXPECT_EQ(buffer[0], 1);
    EXPECT_EQ(FileTell(nullptr), 0);
    FileSeek(nullptr, 10, SEEK_FROM_START);
    FileClose(nullptr);
    EXPECT_EQ(calls, "");
}

TEST_F(FileIoTest, HandleOutlivingItsTableCallsNothing) {
    FileHandle* handle = FileOpen("0.xm");
    ASSERT_NE(handle, nullptr);
    SetFileIo(nullptr, nullptr, nullptr, nullptr, nullptr);
    uint8_t buffer[4] = {};
    EXPECT_EQ(FileRead(buffer, 4, handle), 0u);
    EXPECT_EQ(FileTell(handle), 0);
    FileSeek(handle, 1, SEEK_FROM_START);
    FileClose(handle);  // still releases the handle
    EXPECT_EQ(calls, "open 0.xm;");
}

TEST(LoadWithoutTable, IsRefused) {
    SetFileIo(nullptr, nullptr, nullptr, nullptr, nullptr);
    EXPECT_EQ(FileOpen("0.xm"), nullptr);
    EXPECT_EQ(LoadModule("0.xm", nullptr), nullptr);
    EXPECT_STREQ(GetLoadError(), "no file callbacks installed");
}

// ---- the resource file over a 100-byte block ----------------------------------

class ResourceFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        for (int k = 0; k < 100; k++) bytes[k] = uint8_t(k + 1);
        file = ResourceFile{100, 0, bytes};
    }
    uint8_t bytes[100];
    ResourceFile file;
};

TEST_F(ResourceFileTest, SeeksClampAtBothEnds) {
    struct Case {
        int32_t from;
        int32_t offset;
        uint8_t origin;
        int32_t expected;
    } cases[] = {
        {40, 0, SEEK_FROM_END, 100},   {40, -4, SEEK_FROM_END, 96},     {40, 500, SEEK_FROM_START, 100},
        {95, 10, SEEK_FROM_CURRENT, 100}, {40, 7, SEEK_FROM_START, 7}, {40, -3, SEEK_FROM_CURRENT, 37},
        {40, 5, 3, 40},                   {40, 5, 255, 40},           {40, -5, SEEK_FROM_START, 0},
        {40, -200, SEEK_FROM_CURRENT, 0}, {40, -101, SEEK_FROM_END, 0},
        {40, INT32_MAX, SEEK_FROM_END, 100}, {99, INT32_MAX, SEEK_FROM_CURRENT, 100},
        {0, INT32_MIN, SEEK_FROM_END, 0},
    };
    for (const Case& c : cases) {
        file.position = c.from;
        ResourceFileSeek(&file, c.offset, c.origin);
        EXPECT_EQ(ResourceFileTell(&file), c.expected)
            << "from " << c.from << " offset " << c.offset << " origin " << int(c.origin);
    }
}

TEST_F(ResourceFileTest, ReadsStopAtTheEnd) {
    uint8_t buffer[32];
    memset(buffer, 0xEE, sizeof(buffer));
    ResourceFileSeek(&file, -4, SEEK_FROM_END);
    EXPECT_EQ(ResourceFileRead(buffer, 17, &file), 4u);
    EXPECT_EQ(file.position, 100);
    EXPECT_EQ(buffer[0], 97);
    EXPECT_EQ(buffer[3], 100);
    EXPECT_EQ(buffer[4], 0xEE);

    memset(buffer, 0xEE, sizeof(buffer));
    EXPECT_EQ(ResourceFileRead(buffer, 17, &file), 0u);
    EXPECT_EQ(buffer[0], 0xEE) << "a read at the end leaves the buffer untouched";

    ResourceFileSeek(&file, 10, SEEK_FROM_START);
    EXPECT_EQ(ResourceFileRead(buffer, 5, &file), 5u);
    EXPECT_EQ(buffer[0], 11);
    EXPECT_EQ(file.position, 15);
}

TEST_F(ResourceFileTest, HugeReadSizeDoesNotWrap) {
    // position + size does not fit 32 bits: still only what remains is copied.
    static uint8_t large[128];
    file.position = 10;
    EXPECT_EQ(ResourceFileRead(large, 0xFFFFFFFFu, &file), 90u);
    EXPECT_EQ(large[0], 11);
    EXPECT_EQ(file.position, 100);
    file.position = 10;
    EXPECT_EQ(ResourceFileRead(large, 0x80000000u, &file), 90u);
}

TEST_F(ResourceFileTest, NegativeSeekNeverReadsBeforeTheStart) {
    ResourceFileSeek(&file, -50, SEEK_FROM_CURRENT);
    uint8_t buffer[2] = {};
    EXPECT_EQ(ResourceFileRead(buffer, 2, &file), 2u);
    EXPECT_EQ(buffer[0], 1);
    EXPECT_EQ(buffer[1], 2);
}

TEST_F(ResourceFileTest, NullOrEmptyStream) {
    uint8_t buffer[4] = {9, 9, 9, 9};
    EXPECT_EQ(ResourceFileRead(buffer, 4, nullptr), 0u);
    EXPECT_EQ(ResourceFileTell(nullptr), 0);
    ResourceFileSeek(nullptr, 3, SEEK_FROM_START);
    ResourceFileClose(nullptr);
    ResourceFile empty = {0, 0, nullptr};  // a resource that was not found
    EXPECT_EQ(ResourceFileRead(buffer, 4, &empty), 0u);
    ResourceFileSeek(&empty, 10, SEEK_FROM_START);
    EXPECT_EQ(ResourceFileTell(&empty), 0);
    EXPECT_EQ(buffer[0], 9);
}

}  // namespace
