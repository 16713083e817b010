// What the WebAssembly build adds to the engine: it has no device and no
// threads, so live playback (output/playback.cpp) is left out, and songs come
// from memory, not from files.
#include <string.h>

#include "output/output.h"
#include "vinto/vinto.h"

using namespace vinto;

// Without a device or an output thread there is only offline rendering to
// end: its buffers and position records are released.
bool StopPlayback(Module* module) {
    if (!module) return false;
    ReleaseRenderBuffers();
    return true;
}

// ---- TEMPORARY: loading from memory over the file callbacks ------------------
// Stands in until the engine's LoadModuleFromMemory is in this build; vinto.js
// calls that one whenever the wasm exports it, so then this part goes. One
// song at a time: the loader opens its one file while these bytes are held.
namespace {

struct MemorySong {
    const uint8_t* bytes;
    uint32_t size;
    uint32_t position;  // next byte to read, 0..size
};
MemorySong memory_song = {nullptr, 0, 0};

void* MemoryOpen(const char*) {
    memory_song.position = 0;
    return &memory_song;
}
void MemoryClose(void*) {}
uint32_t MemoryRead(uint8_t* buffer, uint32_t size, void*) {
    const uint32_t left = memory_song.size - memory_song.position;
    const uint32_t count = size < left ? size : left;
    memcpy(buffer, memory_song.bytes + memory_song.position, count);
    memory_song.position += count;
    return count;
}
void MemorySeek(void*, int32_t offset, uint8_t origin) {
    int64_t position = origin == 1 ? int64_t(memory_song.position) + offset
                     : origin == 2 ? int64_t(memory_song.size) + offset
                                   : int64_t(offset);
    if (position < 0) position = 0;
    if (position > memory_song.size) position = memory_song.size;
    memory_song.position = uint32_t(position);
}
int32_t MemoryTell(void*) { return int32_t(memory_song.position); }

}  // namespace

extern "C" Module* VintoWebLoadFromMemory(const void* data, uint32_t size, int32_t mode) {
    memory_song = {static_cast<const uint8_t*>(data), data ? size : 0, 0};
    SetFileIo(MemoryOpen, MemoryClose, MemoryRead, MemorySeek, MemoryTell);
    Module* module = LoadModuleInMode("song.xm", nullptr, mode);
    SetFileIo(nullptr, nullptr, nullptr, nullptr, nullptr);
    memory_song = {nullptr, 0, 0};
    return module;
}
// ---- end of TEMPORARY ----------------------------------------------------------
