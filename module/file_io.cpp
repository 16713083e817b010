// The file access table and the five wrappers the loader reads through.
#include "module/file_io.h"

#include <stdlib.h>

namespace vinto {

// Constant-initialised: all entries null until a complete set is installed.
FileIoTable file_io = {nullptr, nullptr, nullptr, nullptr, nullptr};

bool FileIoInstalled() {
    return file_io.open && file_io.close && file_io.read && file_io.seek && file_io.tell;
}

FileHandle* FileOpen(const char* name) {
    if (!FileIoInstalled()) return nullptr;
    FileHandle* handle = static_cast<FileHandle*>(calloc(1, sizeof(FileHandle)));
    if (!handle) return nullptr;
    handle->stream = file_io.open(name);
    if (!handle->stream) {
        free(handle);
        return nullptr;
    }
    return handle;
}

// The wrappers below also test their table entry: a host may clear the table
// while a handle is still open, and a null entry must not be called.

void FileClose(FileHandle* handle) {
    if (!handle) return;
    if (file_io.close) file_io.close(handle->stream);
    free(handle);
}

uint32_t FileRead(void* buffer, uint32_t size, FileHandle* handle) {
    if (!handle || !file_io.read) return 0;
    return file_io.read(static_cast<uint8_t*>(buffer), size, handle->stream);
}

void FileSeek(FileHandle* handle, int32_t offset, uint8_t origin) {
    if (!handle || !file_io.seek) return;
    file_io.seek(handle->stream, offset, origin);
}

int32_t FileTell(FileHandle* handle) {
    if (!handle || !file_io.tell) return 0;
    return file_io.tell(handle->stream);
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
