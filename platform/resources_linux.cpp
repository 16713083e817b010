// The Linux stand-in of the Windows resource functions for the embedded song:
// the song's bytes are linked into the program (vinto_embed_song in CMake) and
// served as resource 251 of type RT_RCDATA. No other resource is found here.
#include <stdint.h>

#include "platform/win32.h"

namespace vinto {

// Defined by the assembled song; weak so that a program without an embedded
// song still links and simply finds no resource.
extern "C" {
extern const uint8_t vinto_song_start[] __attribute__((weak));
extern const uint8_t vinto_song_end[] __attribute__((weak));
}

namespace {
constexpr uintptr_t SONG_RESOURCE_ID = 251;
// The one resource handle this stand-in hands out.
int song_resource_tag;
}  // namespace

HRSRC FindResourceA(HMODULE module, LPCSTR name, LPCSTR type) {
    if (module) return nullptr;  // only the program's own image holds resources
    if (uintptr_t(name) != SONG_RESOURCE_ID || type != RT_RCDATA) return nullptr;
    if (!vinto_song_start || !vinto_song_end) return nullptr;
    return &song_resource_tag;
}

HGLOBAL LoadResource(HMODULE, HRSRC resource) {
    if (resource != &song_resource_tag) return nullptr;
    return const_cast<uint8_t*>(vinto_song_start);
}

void* LockResource(HGLOBAL loaded) { return loaded; }

DWORD SizeofResource(HMODULE, HRSRC resource) {
    if (resource != &song_resource_tag) return 0;
    return DWORD(vinto_song_end - vinto_song_start);
}

}  // namespace vinto
