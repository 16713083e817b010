// Fuzz target: any bytes as a module file, served by the engine's own memory-file streams (as the player program
// uses them), loaded and, when accepted, rendered for 256 blocks and freed; a module of ordinary size is loaded again
// through a sample loader, which must get buffers of the promised size. Bit 0 of byte 17 (the module name's first,
// which no loader reads) picks the complete mode. Loading stays within the loader's memory cap whatever the bytes
// say: the allocator's hooks track the bytes held during LoadModule.
#include <sanitizer/allocator_interface.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "module/resource_file.h"
#include "vinto/vinto.h"

using namespace vinto;

namespace {

// Patterns and sample data may take 256 MiB; the records around them (module, file, instruments) a margin more.
constexpr size_t LOAD_CAP_BYTES = (size_t(256) << 20) + (size_t(64) << 10);
bool tracking = false;
size_t held_bytes = 0, peak_bytes = 0;
const uint8_t* input = nullptr;  // the bytes OpenInput serves
size_t input_size = 0;

void OnMalloc(const volatile void*, size_t size) {
    if (tracking && (held_bytes += size) > peak_bytes) peak_bytes = held_bytes;
}
void OnFree(const volatile void* pointer) {
    const size_t size = tracking && pointer ? __sanitizer_get_allocated_size(const_cast<const void*>(pointer)) : 0;
    held_bytes = size > held_bytes ? 0 : held_bytes - size;
}

// LoadModuleInMode with the bytes it holds at its peak counted.
Module* TrackedLoad(SampleLoader loader, int32_t mode) {
    held_bytes = peak_bytes = 0, tracking = true;
    Module* module = LoadModuleInMode("fuzz.xm", loader, mode);
    tracking = false;
    if (peak_bytes > LOAD_CAP_BYTES) fprintf(stderr, "LoadModule held %zu bytes at its peak\n", peak_bytes), abort();
    return module;
}

void* OpenInput(const char*) {
    ResourceFile* file = static_cast<ResourceFile*>(calloc(1, sizeof(ResourceFile)));
    if (file) *file = {input_size > size_t(INT32_MAX) ? INT32_MAX : int32_t(input_size), 0, input};
    return file;
}

// Writes every byte it may (memset: the sanitizer checks the whole range at once).
void FillSample(uint8_t* buffer, uint32_t byte_count, uint32_t bits, int32_t instrument, uint32_t sample) {
    if (bits != 8 && bits != 16) abort();  // the loader promises one of the two widths
    memset(buffer, int(uint32_t(instrument) * 31u + sample) & 0xFF, byte_count);
}

int16_t frames[4096 * 2];

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) { return __sanitizer_install_malloc_and_free_hooks(OnMalloc, OnFree), 0; }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    input = data, input_size = size;
    SetFileIo(OpenInput, ResourceFileClose, ResourceFileRead, ResourceFileSeek, ResourceFileTell);
    const int32_t mode = size > 17 && (data[17] & 1) ? VINTO_MODE_COMPLETE : VINTO_MODE_EXACT;
    Module* module = TrackedLoad(nullptr, mode);
    const size_t first_peak = peak_bytes;
    if ((module != nullptr) == (GetLoadError()[0] != 0)) abort();  // a refusal says why; a load leaves no reason
    if (!module) return 0;
    if (StartRendering(module)) {
        if (GetBlockFrames() < 1 || GetBlockFrames() > 4096) abort();
        for (uint32_t b = 0, last_time = 0; b < 256; b++) {
            if (RenderNextBlock(frames, 4096) != GetBlockFrames()) abort();
            // Song time never runs backwards and never ahead of the frames rendered.
            if (GetPlayTime(module) < last_time || GetPlayTime(module) > uint64_t(b + 1) * GetBlockFrames() * 1000 / 44100)
                abort();
            last_time = GetPlayTime(module);
        }
    }
    FreeModule(module);
    // Huge samples would only spend the run converting data the loader supplied.
    if (first_peak > size_t(16) << 20) return 0;
    Module* again = TrackedLoad(FillSample, mode);
    if (!again) abort();  // the same bytes loaded a moment ago
    FreeModule(again);
    return 0;
}
