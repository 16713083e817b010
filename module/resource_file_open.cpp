// Opening the resource file: finds the module embedded in the program as
// resource 251 of type RT_RCDATA. Kept apart from the engine because it calls
// the operating system's resource functions.
#include <stdlib.h>

#include "module/resource_file.h"
#include "platform/win32.h"

namespace vinto {

void* ResourceFileOpen(const char*) {
    ResourceFile* file = static_cast<ResourceFile*>(calloc(1, sizeof(ResourceFile)));
    if (!file) return nullptr;
    HRSRC resource = FindResourceA(nullptr, MAKEINTRESOURCEA(MODULE_RESOURCE_ID), RT_RCDATA);
    if (resource) {
        const uint8_t* data = static_cast<const uint8_t*>(LockResource(LoadResource(nullptr, resource)));
        DWORD size = SizeofResource(nullptr, resource);
        // Without bytes there is nothing to read; a length the record cannot
        // hold is cut to what it can.
        if (data) {
            file->data = data;
            file->length = size > DWORD(INT32_MAX) ? INT32_MAX : int32_t(size);
        }
    }
    // A missing resource still gives a record: every read returns 0 bytes and
    // the load fails at the identification check.
    file->position = 0;
    return file;
}

}  // namespace vinto
