// Block rendering into the output ring, position records, and the state the
// playback start, the output thread and offline rendering share.
//
// One preparation path serves both the live device and offline rendering, so
// that a song rendered offline is bit-for-bit what the device plays. The
// playback start runs, in this order:
//
//   StopOutput()                    end anything in progress
//   (refuse without file callbacks, unless the module came from memory)
//   ResetPlayback(module)           rates, block and ring sizes, ramp length,
//                                   voice pool, module playback fields and
//                                   tempo, channels, playing_module, sync_entries
//   (open the device; on failure return false, leaving the reset state)
//   AllocateRenderBuffers()         ring and 16-byte aligned float mix buffer
//   (hand the ring to the device header)
//   PrefillRing()                   render every block of the ring once
//   (start the device and the output thread)
//
// StartRendering (offline) runs StopOutput, ResetPlayback and
// AllocateRenderBuffers and then renders one block per RenderNextBlock call.
// Releasing: StopOutput ends the device and the output thread through stop_live
// (which only StartPlayback installs, so a program that never plays live links
// no device or thread code), then ReleaseRenderBuffers frees mix_allocation,
// ring and sync_entries (offline rendering allocates the ring without any
// device header).
#pragma once

#include <atomic>
#include <stdint.h>

#include "module/module.h"

#pragma pack(push, 1)

namespace vinto {
struct SyncEntry {
    uint8_t order;     // Module.order at the end of the block, low 8 bits
    uint8_t row;       // Module.row at the end of the block, low 8 bits
    uint32_t time_ms;  // song time in milliseconds at the end of the block
};
#pragma pack(pop)
static_assert(sizeof(SyncEntry) == 6, "position records are six packed bytes");

struct OutputState {
    int32_t mix_rate = 44100;       // frames per second, fixed
    int32_t buffer_ms = 1000;       // ms; the ring holds twice this
    float inverse_mix_rate = 0.0f;  // 1 / mix_rate in single precision
    int32_t block_frames = 0;       // frames per block; 884 at 44100 Hz, a multiple of 4
    int32_t ring_frames = 0;        // frames in the ring; 88400 (100 blocks) at the fixed settings
    int16_t* ring = nullptr;        // ring_frames interleaved 16-bit frames (left, right); owned
    void* mix_allocation = nullptr; // raw allocation behind mix_buffer; owned
    float* mix_buffer = nullptr;    // 16-byte aligned, ring_frames interleaved float frames
    SyncEntry* sync_entries = nullptr;  // one per block (ring_frames / block_frames); owned
    int32_t next_block = 0;             // block RenderBlock renders next, 0..block_count-1
    std::atomic<int32_t> sync_index{0}; // block being heard, 0..block_count-1
    // The record of block sync_index, copied by SetSyncIndex: the queries read
    // these, on any thread, while the output thread rewrites other records.
    std::atomic<uint8_t> heard_order{0};
    std::atomic<uint8_t> heard_row{0};
    std::atomic<uint32_t> heard_time_ms{0};
    Module* playing_module = nullptr;   // not owned; null when stopped
    uint8_t offline_rendering = 0;      // 1 while StartRendering's preparation is in force
    std::atomic<uint32_t> song_loops{0};  // passes completed: moves off the song's last order
    int32_t loop_frame = -1;  // frame within the block last rendered at which the song first
                              // left its last order during that block; -1 when it did not
    std::atomic<uint8_t> stop_requested{0};   // 1 asks the output thread to end
    std::atomic<uint8_t> rendering{0};        // 1 while the output thread renders a block
    std::atomic<uint8_t> thread_finished{1};  // 1 when no output thread runs
    void (*stop_live)() = nullptr;  // ends the output thread and closes the device; set by StartPlayback
};

// The state is a plain global: it must be set up at compile time.
static_assert([] {
    OutputState probe{};
    return probe.mix_rate == 44100 && probe.buffer_ms == 1000;
}(), "OutputState is constant-initialised");

extern OutputState output;

// Renders block next_block of playing_module into the ring, records its
// SyncEntry and advances next_block (wrapping to 0). Needs the preparation above.
void RenderBlock();

// frames x 2 floats to 16-bit values: nearest integer, halves to even, then
// clipped to -32768..32767. Does nothing for frames below 1 or a null buffer.
void ConvertToPcm16(int16_t* out, const float* in, int32_t frames);

// Frames of one block at a mix rate: 20 ms raised to a multiple of 4 (884 at 44100 Hz).
int32_t BlockFramesFor(int32_t mix_rate);

// Sizes and resets playback for module: inverse_mix_rate, block_frames,
// ring_frames, ramp_length and inverse_ramp_length, ResetVoicePool, the
// module's playback fields and SetBpm(default_bpm), the first channel_count
// channels zeroed and linked to voice slots 0.., playing_module, a zero-filled
// sync_entries of one record per block; offline_rendering, song_loops and
// loop_frame start over. Returns false, changing nothing, for a null module, a
// module without tick handler or one with more than 32 channels (the channel
// table would overflow); returns false with playing_module cleared when
// sync_entries cannot be allocated. Call after StopPlayback.
bool ResetPlayback(Module* module);

// Allocates the zero-filled ring (ring_frames x 4 bytes) and mix_allocation
// (ring_frames x 8 + 256 bytes, mix_buffer = its address rounded up to 16).
// Buffers already present are released first. Returns false, having released
// what it allocated, when an allocation fails or ResetPlayback has not sized
// the ring.
bool AllocateRenderBuffers();

// Renders every block of the ring once, from block 0 until next_block is 0
// again, and makes block 0 the one heard. Returns false, rendering nothing,
// when the module or a buffer is missing.
bool PrefillRing();

// True when RenderBlock may run: module, sizes and all three buffers present.
bool RenderReady();

// Makes block the one being heard: sets sync_index and copies the block's
// record for the position queries.
void SetSyncIndex(int32_t block);

// Frees mix_allocation, ring and sync_entries, clears playing_module and the
// offline flag and sets next_block and sync_index to 0. The device must no
// longer read the ring.
void ReleaseRenderBuffers();

// Ends live playback or offline rendering, whatever plays: stop_live, if
// installed, then ReleaseRenderBuffers.
void StopOutput();

}  // namespace vinto
