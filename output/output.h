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
// Releasing: StopOutput ends the device and the output thread through the
// live operations (which only StartPlayback installs, so a program that never
// plays live links no device or thread code), then ReleaseRenderBuffers frees
// mix_allocation, ring and sync_entries (offline rendering allocates the ring
// without any device header).
//
// Every block is a block of the song counted from its start: a tick is cut at
// every block end, and a mixing call's end rounds a running ramp's applied
// gain, so only whole song blocks render to the bit as an uninterrupted
// rendering does. A seek therefore places the song at the start of the block
// that holds the frame; offline the next block then leaves out the frames
// before it, live the seek lands on that block's start.
//
// Files: render.cpp (this state, the block renderer, the preparation),
// convert.cpp (16-bit conversion and master volume), playback.cpp (device and
// output thread, in the platform library), offline.cpp (StartRendering,
// RenderNextBlock), queries.cpp (position queries), controls.cpp (seek, pause,
// volume, mute, passes), song_info.cpp (song information, duration, the
// sequencer run on a copy).
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

// Where a ring block (or an offline block) lies in the song.
struct BlockSpan {
    uint64_t start;  // song position of its first frame, in frames from the song's start
    int32_t frames;  // frames of song in it: block_frames, fewer in the block where the song ended
};

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
    // The song's own position, maintained by whichever thread renders.
    uint64_t song_frame = 0;   // song position of the next frame to render
    int32_t skip_frames = 0;   // offline: frames the next block leaves out (a seek within it)
    uint8_t song_ended = 0;    // 1 once the module's pass limit was reached: rendering gives silence
    BlockSpan* spans = nullptr;  // one per block, beside sync_entries; owned
    // What is being heard (offline: the end of the block last rendered), for the queries.
    std::atomic<uint64_t> heard_frame{0};  // song position in frames
    std::atomic<uint8_t> heard_ended{0};   // 1 once the end of the last pass has been heard
    std::atomic<uint8_t> reporting{0};     // 1 while sync_entries exist: the queries answer
    uint8_t paused = 0;                    // 1 while PausePlayback holds the device
    std::atomic<uint8_t> stop_requested{0};   // 1 asks the output thread to end
    std::atomic<uint8_t> rendering{0};        // 1 while the output thread renders a block
    std::atomic<uint8_t> thread_finished{1};  // 1 when no output thread runs
    const struct LivePlayback* live = nullptr;  // live playback's operations; set by StartPlayback
    // A control holds the output thread between two cycles: HOLD_REQUESTED by
    // the controlling thread, HOLDING by the output thread while it waits,
    // HOLD_NONE (from the controlling thread) lets it go on.
    std::atomic<uint8_t> hold{0};
};

constexpr uint8_t HOLD_NONE = 0;
constexpr uint8_t HOLD_REQUESTED = 1;
constexpr uint8_t HOLDING = 2;

// The state is a plain global: it must be set up at compile time.
static_assert([] {
    OutputState probe{};
    return probe.mix_rate == 44100 && probe.buffer_ms == 1000;
}(), "OutputState is constant-initialised");

extern OutputState output;

// What the renderer needs only while a control is in use, reached through
// pointers the controls install on their first use (InstallControlHooks):
// the player program, which uses none, then links none of it and stays
// within its 32 KiB. Null until then; muted voices, a master volume and a
// seek only exist once a control has run.
struct ControlHooks {
    void (*mix_muted)(float* out, int32_t frames, uint64_t muted);  // MixVoicesClearedMuted
    void (*advance_voices)(int32_t frames, int32_t split);         // AdvanceVoices
    void (*convert_scaled)(int16_t* out, float* in, int32_t frames, bool clear, float gain);
};
extern ControlHooks control_hooks;
void InstallControlHooks();

// Renders block next_block of playing_module into the ring, records its
// SyncEntry and BlockSpan and advances next_block (wrapping to 0). Needs the
// preparation above.
void RenderBlock();

// Renders block next_block into the float stretch block_start (all +0 unless
// leave_clear and the stretch was left clear) and converts it into pcm, with
// the records and next_block as RenderBlock. With leave_clear the stretch is
// set to +0 while it is converted. Returns the frames of song in the block.
int32_t RenderBlockTo(float* block_start, int16_t* pcm, bool leave_clear);

// Renders the song's next block into out (block_frames frames, all +0).
// Ends early where the module's pass limit ends the song; returns the frames
// of song rendered.
int32_t RenderSongBlock(float* out);

// Moves the song and the voices on by blocks blocks without mixing, exactly
// as rendering them would, up to the song's end.
void AdvanceSongBlocks(uint64_t blocks);

// True when the next tick leaves the song's last order: back to the restart
// position at the end of its last pattern, or to order 0 by a pattern break.
// The renderer counts a pass there.
inline bool PassEndsAtNextTick(const Module& module) {
    return module.tick == 0 && module.next_order >= 0 && module.order >= module.song_length - 1;
}

// frames x 2 floats to 16-bit values: nearest integer, halves to even, then
// clipped to -32768..32767. Does nothing for frames below 1 or a null buffer.
void ConvertToPcm16(int16_t* out, const float* in, int32_t frames);

// ConvertToPcm16 at the module's master volume (each value times the gain in
// single precision first; at full volume untouched), and with clear the
// floats are set to +0 on the way.
void ConvertBlock(int16_t* out, float* in, int32_t frames, bool clear, const Module& module);
// The same for a gain other than 1 (through control_hooks.convert_scaled).
void ConvertScaled(int16_t* out, float* in, int32_t frames, bool clear, float gain);

// Frames of one block at a mix rate: 20 ms raised to a multiple of 4 (884 at 44100 Hz).
int32_t BlockFramesFor(int32_t mix_rate);

// Sizes and resets playback for module: inverse_mix_rate, block_frames,
// ring_frames, ramp_length and inverse_ramp_length, ResetSong,
// playing_module, a zero-filled sync_entries and spans of one record per
// block; offline_rendering starts over. Returns false, changing nothing, for
// a null module, a module without tick handler or one with more than 32
// channels (the channel table would overflow); returns false with
// playing_module cleared when sync_entries cannot be allocated. Call after
// StopPlayback.
bool ResetPlayback(Module* module);

// The song back to its start: ResetVoicePool, the replay state of its mode
// (playback fields, tempo, the global channel table with channel i linked to
// voice slot i), song_loops, loop_frame, song_frame, skip_frames and the end.
// False, for a mode the build lacks or too many channels, with the song unset.
bool ResetSong(Module& module);

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

// Records what is heard: frame offset of block (clamped to the song in it).
void SetHeard(int32_t block, int32_t offset);

// Frees mix_allocation, ring, sync_entries and spans, clears playing_module
// and the offline flag and sets next_block and sync_index to 0. The device
// must no longer read the ring.
void ReleaseRenderBuffers();

// Ends live playback or offline rendering, whatever plays: the live
// operations' stop, if installed, then ReleaseRenderBuffers.
void StopOutput();

// What live playback (playback.cpp, in the platform library) offers the rest
// of the output side. StartPlayback installs it in output.live, so a program
// that only renders offline links no device or thread code.
struct LivePlayback {
    void (*stop)();     // ends the output thread, has the device let go of the ring and closes it
    bool (*running)();  // an output thread runs
    // hold waits until the output thread, if one runs, waits between two
    // cycles; release lets it go on. With the thread held (or none running)
    // the caller owns the playback state.
    void (*hold)();
    void (*release)();
    // The block the device is playing and the frame within it; false without
    // a device or position. Only with the output thread held.
    bool (*device_position)(int32_t& block, int32_t& offset);
    bool (*pause_device)(bool pause);  // pauses or restarts the device; false without one
};

// The song position of the row tick at which song first plays order and row,
// found by running the sequencer on a copy (song_info.cpp); -1 when it does
// not within 30 minutes or 2^20 ticks.
int64_t FindRowFrame(const Module& song, int32_t order, int32_t row);
}  // namespace vinto
