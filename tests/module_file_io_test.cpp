// The file access table, its wrappers, and the resource file's stream operations.
#include <gtest/gtest.h>
#include <string.h>

#include <string>

#include "module/file_io.h"
#include "module/resource_file.h"
#include "vinto/vinto.h"

using namespace vinto;

namespace {

// Callbacks: opening and closing are recorded.
std::string calls;
int stream_token;
bool open_fails;

void* RecordOpen(const char* name) {
    calls += std::string("open ") + name + ";";
    return open_fails ? nullptr : &stream_token;
}
void RecordClose(void*) { calls += "close;"; }
uint32_t Read(uint8_t*, uint32_t, void*) { return 0; }
void Seek(void*, int32_t, uint8_t) {}
int32_t Tell(void*) { return 0; }

TEST(FileIo, TableIsInstalledWholeOrNotAtAll) {
    calls.clear();
    open_fails = false;
    for (int missing = 0; missing < 5; missing++) {
        SetFileIo(RecordOpen, RecordClose, Read, Seek, Tell);
        SetFileIo(missing == 0 ? nullptr : RecordOpen, missing == 1 ? nullptr : RecordClose,
                  missing == 2 ? nullptr : Read, missing == 3 ? nullptr : Seek, missing == 4 ? nullptr : Tell);
        EXPECT_FALSE(FileIoInstalled()) << "argument " << missing;
        EXPECT_TRUE(!file_io.open && !file_io.close && !file_io.read && !file_io.seek && !file_io.tell) << missing;
        EXPECT_EQ(FileOpen("song.xm"), nullptr);
    }
    EXPECT_EQ(LoadModule("0.xm", nullptr), nullptr);
    EXPECT_STREQ(GetLoadError(), "no file callbacks installed");

    SetFileIo(RecordOpen, RecordClose, Read, Seek, Tell);
    open_fails = true;
    EXPECT_EQ(LoadModule("missing.xm", nullptr), nullptr);  // the sanitizer build checks nothing leaks
    EXPECT_STREQ(GetLoadError(), "cannot open the file");

    // Null handles, and a handle that outlives its table, call nothing. (The
    // wrappers' forwarding carries every load of the other tests.)
    open_fails = false;
    FileHandle* handle = FileOpen("1.xm");
    ASSERT_NE(handle, nullptr);
    SetFileIo(nullptr, nullptr, nullptr, nullptr, nullptr);
    uint8_t buffer[4];
    for (FileHandle* h : {handle, static_cast<FileHandle*>(nullptr)}) {
        buffer[0] = 1;
        EXPECT_EQ(FileRead(buffer, 4, h), 0u);
        EXPECT_EQ(FileTell(h), 0);
        EXPECT_EQ(buffer[0], 1);
        FileSeek(h, 1, SEEK_FROM_START);
        FileClose(h);  // still releases the handle
    }
    EXPECT_EQ(calls, "open missing.xm;open 1.xm;");
}

TEST(ResourceFile, SeeksAndReadsStayInsideTheBlock) {
    uint8_t bytes[100];
    for (int k = 0; k < 100; k++) bytes[k] = uint8_t(k + 1);
    ResourceFile file = {100, 0, bytes};
    const struct {
        int32_t from, offset;
        uint8_t origin;
        int32_t expected;
    } cases[] = {
        {40, 0, SEEK_FROM_END, 100},     {40, -4, SEEK_FROM_END, 96},         {40, 500, SEEK_FROM_START, 100},
        {95, 10, SEEK_FROM_CURRENT, 100}, {40, 7, SEEK_FROM_START, 7},        {40, -3, SEEK_FROM_CURRENT, 37},
        {40, 5, 3, 40},                  {40, -5, SEEK_FROM_START, 0},        {40, -200, SEEK_FROM_CURRENT, 0},
        {40, -101, SEEK_FROM_END, 0},    {40, INT32_MAX, SEEK_FROM_END, 100}, {99, INT32_MAX, SEEK_FROM_CURRENT, 100},
        {0, INT32_MIN, SEEK_FROM_END, 0},
    };
    for (const auto& c : cases) {
        file.position = c.from;
        ResourceFileSeek(&file, c.offset, c.origin);
        EXPECT_EQ(ResourceFileTell(&file), c.expected) << c.from << " " << c.offset << " " << int(c.origin);
    }

    static uint8_t buffer[128];
    memset(buffer, 0xEE, sizeof(buffer));
    file.position = 96;
    EXPECT_EQ(ResourceFileRead(buffer, 17, &file), 4u);
    EXPECT_TRUE(buffer[0] == 97 && buffer[3] == 100 && buffer[4] == 0xEE && file.position == 100);
    EXPECT_EQ(ResourceFileRead(buffer + 4, 17, &file), 0u);
    EXPECT_EQ(buffer[4], 0xEE) << "a read at the end leaves the buffer untouched";
    file.position = 10;  // position + size does not fit 32 bits: still only what remains is copied
    EXPECT_EQ(ResourceFileRead(buffer, 0xFFFFFFFFu, &file), 90u);
    EXPECT_TRUE(buffer[0] == 11 && file.position == 100);
    ResourceFile empty = {0, 0, nullptr};  // a resource that was not found
    for (ResourceFile* f : {&empty, static_cast<ResourceFile*>(nullptr)}) {
        EXPECT_EQ(ResourceFileRead(buffer, 4, f), 0u);
        ResourceFileSeek(f, 10, SEEK_FROM_START);
        EXPECT_EQ(ResourceFileTell(f), 0);
    }
    EXPECT_EQ(buffer[0], 11);
}

}  // namespace
