// File access table: the loader reads only through these five wrappers,
// which forward to the callbacks a host installs with SetFileIo, or for a
// handle over bytes in memory to the resource file's memory-file operations.
#pragma once

#include <stdint.h>

#include "vinto/vinto.h"

namespace vinto {

constexpr uint8_t SEEK_FROM_START = 0;
constexpr uint8_t SEEK_FROM_CURRENT = 1;
constexpr uint8_t SEEK_FROM_END = 2;

struct FileIoTable {
    FileOpenCallback open;
    FileCloseCallback close;
    FileReadCallback read;
    FileSeekCallback seek;
    FileTellCallback tell;
};

// All entries null until SetFileIo installs a complete set.
extern FileIoTable file_io;

struct FileHandle {
    void* stream;            // what the open callback returned; never null in a live handle
    const FileIoTable* io;   // &file_io, or the memory file's operations; never null in a live handle
};

FileHandle* FileOpen(const char* name);  // null when no table is installed or open fails
// A handle reading size bytes at data (at most INT32_MAX of them); the bytes
// are not copied and must outlive it. Null for null data or out of memory.
FileHandle* FileOpenMemory(const void* data, uint32_t size);
void FileClose(FileHandle* handle);
uint32_t FileRead(void* buffer, uint32_t size, FileHandle* handle);
void FileSeek(FileHandle* handle, int32_t offset, uint8_t origin);
int32_t FileTell(FileHandle* handle);

// True when all five callbacks are installed.
bool FileIoInstalled();

}  // namespace vinto
