// The resource file: a read-only memory file over the module embedded in the
// program (resource 251 of type RT_RCDATA). These are the program's file callbacks.
#pragma once

#include <stdint.h>

namespace vinto {

constexpr int MODULE_RESOURCE_ID = 251;

struct ResourceFile {
    int32_t length;       // bytes of the resource
    int32_t position;     // next byte to read, 0..length
    const uint8_t* data;  // the resource's bytes; not owned
};

void* ResourceFileOpen(const char* name);  // ignores name; never null
void ResourceFileClose(void* stream);
uint32_t ResourceFileRead(uint8_t* buffer, uint32_t size, void* stream);
void ResourceFileSeek(void* stream, int32_t offset, uint8_t origin);
int32_t ResourceFileTell(void* stream);

}  // namespace vinto
