// The resource file's stream operations: a read-only memory file over one
// block of bytes. Opening (which finds the block) lives with the platform code.
#include "module/resource_file.h"

#include <stdlib.h>
#include <string.h>

#include "module/file_io.h"

namespace vinto {

void ResourceFileClose(void* stream) {
    // The bytes belong to the program image; only the record is ours.
    free(stream);
}

uint32_t ResourceFileRead(uint8_t* buffer, uint32_t size, void* stream) {
    ResourceFile* file = static_cast<ResourceFile*>(stream);
    if (!file || !buffer || !file->data) return 0;
    if (file->position < 0 || file->position >= file->length) return 0;
    // Comparing against what remains (not position + size) cannot overflow.
    uint32_t remaining = uint32_t(file->length - file->position);
    uint32_t count = size < remaining ? size : remaining;
    if (count == 0) return 0;
    memcpy(buffer, file->data + file->position, count);
    file->position += int32_t(count);
    return count;
}

void ResourceFileSeek(void* stream, int32_t offset, uint8_t origin) {
    ResourceFile* file = static_cast<ResourceFile*>(stream);
    if (!file) return;
    // Wide arithmetic: length + offset or position + offset may not fit 32 bits.
    int64_t position = file->position;
    if (origin == SEEK_FROM_START) position = offset;
    if (origin == SEEK_FROM_CURRENT) position = int64_t(file->position) + offset;
    if (origin == SEEK_FROM_END) position = int64_t(file->length) + offset;
    // Past the end lands at the end; before the start lands at the start, so a
    // read never copies from outside the block.
    if (position > file->length) position = file->length;
    if (position < 0) position = 0;
    file->position = int32_t(position);
}

int32_t ResourceFileTell(void* stream) {
    ResourceFile* file = static_cast<ResourceFile*>(stream);
    return file ? file->position : 0;
}

}  // namespace vinto
