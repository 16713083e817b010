// Fuzz target: arbitrary bytes as a module file. They are served through the
// engine's own memory-file callbacks (the ones the player program installs),
// loaded, and, when the loader accepts them, rendered offline for a few
// hundred blocks; then the module is freed. A module that loads is also loaded
// a second time through a sample loader, which must be handed buffers of the
// promised size.
//
// The replay mode comes from the input too: complete when bit 0 of byte 17
// (the first byte of the module name, which no loader reads) is set, so both
// loaders and both replays meet every kind of input.
//
// Loading must stay within the loader's memory cap whatever the bytes say:
// the allocator's hooks track the bytes held during LoadModule, and a peak
// above the cap is a finding.
#include <sanitizer/allocator_interface.h>
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "module/resource_file.h"
#include "vinto/vinto.h"

using namespace vinto;

namespace {

constexpr int32_t RENDER_BLOCKS = 256;  // about five seconds of song
constexpr int32_t MAX_BLOCK_FRAMES = 4096;
// Patterns and sample data may take 256 MiB; the records around them (module,
// file handle, instruments, sample headers) must stay within a small margin.
constexpr size_t SAMPLE_LOADER_MAX_BYTES = size_t(16) << 20;
constexpr size_t LOAD_CAP_BYTES = (size_t(256) << 20) + (size_t(64) << 10);

bool tracking = false;
size_t held_bytes = 0;
size_t peak_bytes = 0;

void OnMalloc(const volatile void*, size_t size) {
    if (!tracking) return;
    held_bytes += size;
    if (held_bytes > peak_bytes) peak_bytes = held_bytes;
}

void OnFree(const volatile void* pointer) {
    if (!tracking || !pointer) return;
    size_t size = __sanitizer_get_allocated_size(const_cast<const void*>(pointer));
    held_bytes = size > held_bytes ? 0 : held_bytes - size;
}

// LoadModuleInMode with the bytes it holds at its peak counted.
Module* TrackedLoad(SampleLoader loader, int32_t mode) {
    held_bytes = 0;
    peak_bytes = 0;
    tracking = true;
    Module* module = LoadModuleInMode("fuzz.xm", loader, mode);
    tracking = false;
    if (peak_bytes > LOAD_CAP_BYTES) {
        fprintf(stderr, "LoadModule held %zu bytes at its peak (cap %zu)\n", peak_bytes, LOAD_CAP_BYTES);
        abort();
    }
    return module;
}

const uint8_t* fuzz_data = nullptr;
size_t fuzz_size = 0;

// A ResourceFile record over the current input; the engine's own stream
// functions read, seek, tell and close it.
void* OpenInput(const char*) {
    ResourceFile* file = static_cast<ResourceFile*>(calloc(1, sizeof(ResourceFile)));
    if (!file) return nullptr;
    file->data = fuzz_data;
    file->length = fuzz_size > size_t(INT32_MAX) ? INT32_MAX : int32_t(fuzz_size);
    file->position = 0;
    return file;
}

// Writes every byte it is told it may (memset, so the sanitizer checks the
// whole range at once): 2 x length + 16 bytes for 16-bit samples is what the
// loader sized, byte_count is what it asks to be filled.
void FillSample(uint8_t* buffer, uint32_t byte_count, uint32_t bits, int32_t instrument_index,
                uint32_t sample_index) {
    if (bits != 8 && bits != 16) abort();  // the loader promises one of the two widths
    memset(buffer, int(uint32_t(instrument_index) * 31u + sample_index) & 0xFF, byte_count);
    if (byte_count > 0) buffer[byte_count - 1] = 0x80;
}

int16_t frames[MAX_BLOCK_FRAMES * 2];

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    __sanitizer_install_malloc_and_free_hooks(OnMalloc, OnFree);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz_data = data;
    fuzz_size = size;
    SetFileIo(OpenInput, ResourceFileClose, ResourceFileRead, ResourceFileSeek, ResourceFileTell);

    const int32_t mode = size > 17 && (data[17] & 1) ? VINTO_MODE_COMPLETE : VINTO_MODE_EXACT;
    Module* module = TrackedLoad(nullptr, mode);
    const size_t first_peak = peak_bytes;
    if (!module) {
        // A refusal always says why.
        if (GetLoadError()[0] == 0) abort();
        return 0;
    }
    if (GetLoadError()[0] != 0) abort();

    if (StartRendering(module)) {
        const int32_t block_frames = GetBlockFrames();
        if (block_frames < 1 || block_frames > MAX_BLOCK_FRAMES) abort();
        uint32_t last_time = 0;
        for (int32_t b = 0; b < RENDER_BLOCKS; b++) {
            if (RenderNextBlock(frames, MAX_BLOCK_FRAMES) != block_frames) abort();
            // Song time never runs backwards and never ahead of the frames rendered.
            uint32_t time = GetPlayTime(module);
            if (time < last_time || uint64_t(time) > (uint64_t(b) + 1) * uint64_t(block_frames) * 1000 / 44100)
                abort();
            last_time = time;
        }
    }
    FreeModule(module);

    // The sample loader path, for modules of ordinary size: huge samples would
    // only spend the run converting data the loader supplied.
    if (first_peak > SAMPLE_LOADER_MAX_BYTES) return 0;
    Module* again = TrackedLoad(FillSample, mode);
    if (!again) abort();  // the same bytes loaded a moment ago
    FreeModule(again);
    return 0;
}
