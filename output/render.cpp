// Block rendering and the preparation that live playback and offline
// rendering share.
#include <stdlib.h>
#include <string.h>

#include "mixer/mixer.h"
#include "output/output.h"
#include "output/stop.h"
#include "replay/modes.h"
#include "replay/replay.h"

namespace vinto {

OutputState output;
ControlHooks control_hooks = {};

namespace {

constexpr int32_t BLOCK_MS = 20;
constexpr int32_t RAMP_FRAMES_AT_44100 = 128;
constexpr int32_t MIX_ALIGNMENT = 16;   // bytes; every block's float stretch starts aligned
constexpr int32_t MIX_SLACK_BYTES = 256;  // room to round the mix buffer's start up

int32_t BlockCount() { return output.ring_frames / output.block_frames; }

}  // namespace

int32_t BlockFramesFor(int32_t mix_rate) { return ((mix_rate * BLOCK_MS) / 1000 + 3) & ~3; }

namespace {

// Offline rendering leaves its float stretch (the first block's) at +0 after
// converting it, so the next block need not clear it; anything else that
// renders there, or new buffers, reset this.
bool offline_stretch_clear = false;

// The voice slots of the module's muted channels: channel i plays on slot i or
// its twin i + 32.
uint64_t MutedVoices(const Module& module) {
    const uint64_t channels = module.muted_channels;
    return channels | channels << VOICE_TWIN_OFFSET;
}

// A seek moves the voices in as few calls as exactness allows: the frames
// since the last tick wait here until the next tick (or the seek's end), with
// at most one block end among them, where a voice's ramp is cut as the
// mixing call ending there would cut it.
struct PendingAdvance {
    int32_t frames;  // frames the voices still have to move
    int32_t split;   // a block ends after this many of them; 0: none
} pending = {0, 0};

void FlushAdvance() {
    if (pending.frames > 0) control_hooks.advance_voices(pending.frames, pending.split);
    pending = {0, 0};
}

void MarkBlockEnd() {
    if (pending.frames == 0) return;
    if (pending.split > 0) {
        FlushAdvance();  // a second block end: the frames before it go now
    } else {
        pending.split = pending.frames;
    }
}

// Ticks and mixes (or with out null only advances) the song's next block.
// Stops before the tick that would complete a pass beyond the module's pass
// limit, ending the song there. Returns the frames rendered.
int32_t RenderSlices(float* out) {
    Module* module = output.playing_module;
    const int32_t frames = output.block_frames;
    const uint64_t muted = MutedVoices(*module);
    int32_t left = module->tick_samples_left;
    int32_t done = 0;
    while (done < frames) {
        int32_t slice;
        if (left <= 0) {
            // A row tick taken on the last order moves the song back to an
            // earlier order: one pass of the song is complete.
            if (PassEndsAtNextTick(*module)) {
                const uint32_t passes = output.song_loops.load(std::memory_order_relaxed) + 1;
                output.song_loops.store(passes, std::memory_order_relaxed);
                if (output.loop_frame < 0) output.loop_frame = done;
                if (module->pass_limit > 0 && passes >= uint32_t(module->pass_limit)) {
                    output.song_ended = 1;
                    break;
                }
            }
            if (!out) FlushAdvance();  // the voices as the tick finds them
            module->tick_handler(module);
            slice = module->samples_per_tick;
            if (slice < 1) slice = 1;  // a tick must move time on, or the loop would stall
            left = slice;
        } else {
            slice = left;
        }
        if (slice > frames - done) slice = frames - done;
        if (!out) {
            pending.frames += slice;
        } else {
            // The slice is still all +0.
            if (muted && control_hooks.mix_muted) {
                control_hooks.mix_muted(out, slice, muted);
            } else {
                MixVoicesCleared(out, slice);
            }
            out += size_t(slice) * 2;
        }
        done += slice;
        left -= slice;
        // Each slice on its own, fractions dropped: song time runs a little slow.
        module->time_ms += uint32_t(double(slice) * double(output.inverse_mix_rate) * 1000.0);
    }
    module->tick_samples_left = left;
    output.song_frame += uint64_t(done);
    return done;
}

}  // namespace

int32_t RenderSongBlock(float* out) { return output.song_ended ? 0 : RenderSlices(out); }

void AdvanceSongBlocks(uint64_t blocks) {
    for (; blocks > 0 && !output.song_ended; blocks--) {
        MarkBlockEnd();
        RenderSlices(nullptr);
    }
    FlushAdvance();
}

// One copy for live and offline rendering (the player program counts its bytes).
#if defined(__GNUC__)
__attribute__((noinline))
#endif
int32_t RenderBlockTo(float* block_start, int16_t* pcm, bool leave_clear) {
    Module* module = output.playing_module;
    const int32_t block = output.next_block;
    const int32_t block_frames = output.block_frames;
    if (!(leave_clear && offline_stretch_clear))
        memset(block_start, 0, size_t(block_frames) * 2 * sizeof(float));
    offline_stretch_clear = false;

    output.loop_frame = -1;
    BlockSpan& span = output.spans[block];
    span.start = output.song_frame;
    span.frames = RenderSongBlock(block_start);  // after the song's end the rest stays silent

    SyncEntry& entry = output.sync_entries[block];
    entry.time_ms = module->time_ms;
    entry.row = uint8_t(module->row);
    entry.order = uint8_t(module->order);
    ConvertBlock(pcm, block_start, block_frames, leave_clear, *module);
    offline_stretch_clear = leave_clear;

    int32_t next = block + 1;
    output.next_block = next >= BlockCount() ? 0 : next;
    return span.frames;
}

void RenderBlock() {
    const size_t first = size_t(output.next_block) * size_t(output.block_frames);
    RenderBlockTo(output.mix_buffer + first * 2, output.ring + first * 2, false);
}

bool ResetSong(Module& module) {
    ResetVoicePool();
    if (!ResetReplayState(module, PlaybackTables(), true)) return false;
    output.song_loops.store(0, std::memory_order_relaxed);
    output.loop_frame = -1;
    output.song_frame = 0;
    output.skip_frames = 0;
    output.song_ended = 0;
    return true;
}

bool ResetPlayback(Module* module) {
    if (!module || !module->tick_handler) return false;
    // The channel table has room for 32 channels; the replay would run past it.
    if (module->channel_count > MAX_CHANNELS) return false;

    output.inverse_mix_rate = float(1.0 / double(output.mix_rate));
    output.block_frames = BlockFramesFor(output.mix_rate);
    output.ring_frames = output.block_frames * (output.buffer_ms / BLOCK_MS) * 2;
    ramp_length = (output.mix_rate * RAMP_FRAMES_AT_44100) / 44100;
    inverse_ramp_length = float(1.0 / double(ramp_length));
    const int32_t block_count = BlockCount();

    if (!ResetSong(*module)) return false;

    output.playing_module = module;
    output.offline_rendering = 0;
    output.paused = 0;
    output.reporting = 0;
    free(output.sync_entries);
    free(output.spans);
    output.sync_entries = static_cast<SyncEntry*>(calloc(size_t(block_count), sizeof(SyncEntry)));
    output.spans = static_cast<BlockSpan*>(calloc(size_t(block_count), sizeof(BlockSpan)));
    if (!output.sync_entries || !output.spans) {
        free(output.spans);
        output.spans = nullptr;
        output.playing_module = nullptr;
        return false;
    }
    SetSyncIndex(0);  // the zero record until a block is rendered
    SetHeard(0, 0);
    output.reporting = 1;
    return true;
}

bool AllocateRenderBuffers() {
    if (output.ring_frames < 1) return false;
    offline_stretch_clear = false;
    free(output.ring);
    free(output.mix_allocation);
    output.ring = nullptr;
    output.mix_allocation = nullptr;
    output.mix_buffer = nullptr;

    const size_t ring_frames = size_t(output.ring_frames);
    int16_t* ring = static_cast<int16_t*>(calloc(ring_frames, 4));
    void* mix_allocation = calloc(ring_frames * 8 + MIX_SLACK_BYTES, 1);
    if (!ring || !mix_allocation) {
        free(ring);
        free(mix_allocation);
        return false;
    }
    output.ring = ring;
    output.mix_allocation = mix_allocation;
    uintptr_t address = reinterpret_cast<uintptr_t>(mix_allocation);
    address = (address + (MIX_ALIGNMENT - 1)) & ~uintptr_t(MIX_ALIGNMENT - 1);
    output.mix_buffer = reinterpret_cast<float*>(address);
    return true;
}

bool RenderReady() {
    return output.playing_module && output.block_frames > 0 &&
           output.ring_frames >= output.block_frames && output.ring && output.mix_buffer &&
           output.sync_entries && output.spans;
}

bool PrefillRing() {
    if (!RenderReady()) return false;
    do {
        RenderBlock();
    } while (output.next_block != 0);
    SetSyncIndex(0);  // the device starts with block 0
    SetHeard(0, 0);
    return true;
}

void ReleaseRenderBuffers() {
    output.reporting = 0;
    free(output.mix_allocation);
    output.mix_allocation = nullptr;
    output.mix_buffer = nullptr;
    free(output.ring);
    output.ring = nullptr;
    output.playing_module = nullptr;
    output.offline_rendering = 0;
    free(output.sync_entries);
    output.sync_entries = nullptr;
    free(output.spans);
    output.spans = nullptr;
    output.next_block = 0;
    output.sync_index = 0;
    output.heard_order = 0;
    output.heard_row = 0;
    output.heard_time_ms = 0;
    output.heard_frame = 0;
    output.heard_ended = 0;
    output.paused = 0;
}

void StopOutput() {
    if (output.live) output.live->stop();
    ReleaseRenderBuffers();
}

void StopOutputOf(const Module* module) {
    if (module && output.playing_module == module) StopOutput();
}

void SetSyncIndex(int32_t block) {
    const SyncEntry& entry = output.sync_entries[block];
    output.heard_order.store(entry.order, std::memory_order_relaxed);
    output.heard_row.store(entry.row, std::memory_order_relaxed);
    output.heard_time_ms.store(entry.time_ms, std::memory_order_relaxed);
    output.sync_index.store(block, std::memory_order_relaxed);
}

void SetHeard(int32_t block, int32_t offset) {
    const BlockSpan& span = output.spans[block];
    const int32_t heard = offset < span.frames ? offset : span.frames;
    output.heard_frame.store(span.start + uint64_t(heard), std::memory_order_relaxed);
    // Past the last frame of song in the block where it ended, or in a silent block after it.
    output.heard_ended.store(span.frames < output.block_frames && offset >= span.frames, std::memory_order_relaxed);
}

}  // namespace vinto
