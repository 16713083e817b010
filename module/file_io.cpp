// The file access table and the five wrappers the loader reads through.
#include "module/file_io.h"

#include <stdint.h>
#include <stdlib.h>

#include "module/resource_file.h"

namespace vinto {

// Constant-initialised: all entries null until a complete set is installed.
FileIoTable file_io = {nullptr, nullptr, nullptr, nullptr, nullptr};

namespace {

// Bytes in memory read as a resource file does; nothing opens by name.
const FileIoTable MEMORY_IO = {nullptr, ResourceFileClose, ResourceFileRead, ResourceFileSeek,
                               ResourceFileTell};

}  // namespace

bool FileIoInstalled() {
    return file_io.open && file_io.close && file_io.read && file_io.seek && file_io.tell;
}

FileHandle* FileOpen(const char* name) {
    if (!FileIoInstalled()) return nullptr;
    FileHandle* handle = static_cast<FileHandle*>(calloc(1, sizeof(FileHandle)));
    if (!handle) return nullptr;
    handle->io = &file_io;
    handle->stream = file_io.open(name);
    if (!handle->stream) {
        free(handle);
        return nullptr;
    }
    return handle;
}

FileHandle* FileOpenMemory(const void* data, uint32_t size) {
    if (!data) return nullptr;
    FileHandle* handle = static_cast<FileHandle*>(calloc(1, sizeof(FileHandle)));
    ResourceFile* file = static_cast<ResourceFile*>(calloc(1, sizeof(ResourceFile)));
    if (!handle || !file) {
        free(handle);
        free(file);
        return nullptr;
    }
    file->data = static_cast<const uint8_t*>(data);
    file->length = size > uint32_t(INT32_MAX) ? INT32_MAX : int32_t(size);
    handle->stream = file;
    handle->io = &MEMORY_IO;
    return handle;
}

// The wrappers below also test their table entry: a host may clear the table
// while a handle is still open, and a null entry must not be called.

void FileClose(FileHandle* handle) {
    if (!handle) return;
    if (handle->io->close) handle->io->close(handle->stream);
    free(handle);
}

uint32_t FileRead(void* buffer, uint32_t size, FileHandle* handle) {
    if (!handle || !handle->io->read) return 0;
    return handle->io->read(static_cast<uint8_t*>(buffer), size, handle->stream);
}

void FileSeek(FileHandle* handle, int32_t offset, uint8_t origin) {
    if (!handle || !handle->io->seek) return;
    handle->io->seek(handle->stream, offset, origin);
}

int32_t FileTell(FileHandle* handle) {
    if (!handle || !handle->io->tell) return 0;
    return handle->io->tell(handle->stream);
}

}  // namespace vinto

using namespace vinto;

void SetFileIo(FileOpenCallback open, FileCloseCallback close, FileReadCallback read,
               FileSeekCallback seek, FileTellCallback tell) {
    // Installed whole or not at all, so a wrapper never meets half a table.
    if (!open || !close || !read || !seek || !tell) {
        file_io = FileIoTable{nullptr, nullptr, nullptr, nullptr, nullptr};
        return;
    }
    file_io = FileIoTable{open, close, read, seek, tell};
}
