// Block rendering into the output ring, position records, and the state the
// playback start, the output thread and offline rendering share.
#pragma once

#include <atomic>
#include <stdint.h>

#include "module/module.h"

#pragma pack(push, 1)
struct SyncEntry {
    uint8_t order;     // Module.order at the end of the block, low 8 bits
    uint8_t row;       // Module.row at the end of the block, low 8 bits
    uint32_t time_ms;  // song time at the end of the block
};
#pragma pack(pop)
static_assert(sizeof(SyncEntry) == 6, "position records are six packed bytes");

struct OutputState {
    int32_t mix_rate = 44100;       // frames per second, fixed
    int32_t buffer_ms = 1000;       // the ring holds twice this
    float inverse_mix_rate = 0.0f;  // 1 / mix_rate in single precision
    int32_t block_frames = 0;       // 884 at 44100 Hz
    int32_t ring_frames = 0;        // 88400 at the fixed settings
    int16_t* ring = nullptr;        // ring_frames interleaved 16-bit frames
    void* mix_allocation = nullptr; // raw allocation behind mix_buffer
    float* mix_buffer = nullptr;    // 16-byte aligned, ring_frames interleaved float frames
    SyncEntry* sync_entries = nullptr;  // one per block
    int32_t next_block = 0;         // block RenderBlock renders next
    int32_t sync_index = 0;         // block being heard; the position queries read it
    Module* playing_module = nullptr;
    std::atomic<uint8_t> stop_requested{0};   // 1 asks the output thread to end
    std::atomic<uint8_t> rendering{0};        // 1 while the output thread renders a block
    std::atomic<uint8_t> thread_finished{1};  // 1 when no output thread runs
};

extern OutputState output;

void RenderBlock();
void ConvertToPcm16(int16_t* out, const float* in, int32_t frames);
