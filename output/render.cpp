// Block rendering, the shared preparation of playback, position queries and
// offline rendering.
#include <stdlib.h>
#include <string.h>

#include "mixer/mixer.h"
#include "output/output.h"
#include "output/stop.h"
#include "replay/modes.h"
#include "replay/replay.h"

#include "output/convert_variants.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if VINTO_CONVERT_AVX512
#if defined(__GNUC__) && !defined(__clang__)
// GCC 12's AVX-512 intrinsics warn about their own undefined placeholder
// operands (its bug 105593).
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#pragma GCC diagnostic ignored "-Wuninitialized"
#endif
#include <immintrin.h>
#endif

namespace vinto {

OutputState output;

namespace {

constexpr int32_t BLOCK_MS = 20;
constexpr int32_t RAMP_FRAMES_AT_44100 = 128;
constexpr int32_t MIX_ALIGNMENT = 16;   // bytes; every block's float stretch starts aligned
constexpr int32_t MIX_SLACK_BYTES = 256;  // room to round the mix buffer's start up

// Adding 1.5 x 2^23 puts every value of -32768..32767 into the binade where
// one unit is the float spacing, so the addition itself rounds to the nearest
// integer with halves to even, and the integer is the difference of the bit
// patterns. Exact, branch-free, and easy for the compiler to vectorise.
constexpr float ROUNDING_BIAS = 12582912.0f;
constexpr int32_t ROUNDING_BIAS_BITS = 0x4B400000;

int32_t BlockCount() { return output.ring_frames / output.block_frames; }

}  // namespace

int32_t BlockFramesFor(int32_t mix_rate) { return ((mix_rate * BLOCK_MS) / 1000 + 3) & ~3; }

namespace {

#if defined(__SSE2__)
// Eight values per step, the same rule: clipped first (maxps gives its second
// operand, the lower bound, for a NaN), then rounded in the default rounding
// mode, halves to even, and packed. Returns the values converted (a multiple
// of eight).
int32_t ConvertToPcm16Sse2(int16_t* out, float* in, int32_t count, bool clear) {
    const __m128 lowest = _mm_set1_ps(-32768.0f);
    const __m128 highest = _mm_set1_ps(32767.0f);
    int32_t i = 0;
    for (; i + 8 <= count; i += 8) {
        const __m128 a = _mm_min_ps(_mm_max_ps(_mm_loadu_ps(in + i), lowest), highest);
        const __m128 b = _mm_min_ps(_mm_max_ps(_mm_loadu_ps(in + i + 4), lowest), highest);
        if (clear) {
            _mm_storeu_ps(in + i, _mm_setzero_ps());
            _mm_storeu_ps(in + i + 4, _mm_setzero_ps());
        }
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), _mm_packs_epi32(_mm_cvtps_epi32(a), _mm_cvtps_epi32(b)));
    }
    return i;
}
#endif

#if VINTO_CONVERT_AVX512
// Sixteen values per step, as above (vmaxps also gives its second operand for
// a NaN), narrowed with saturation (the values are already in range).
__attribute__((target("avx512f"))) int32_t ConvertToPcm16Avx512(int16_t* out, float* in, int32_t count,
                                                                 bool clear) {
    const __m512 highest = _mm512_set1_ps(32767.0f);
    int32_t i = 0;
    for (; i + 16 <= count; i += 16) {
        // Only the upper bound needs clipping first: minps gives its second
        // operand for a NaN, which converts, like every value below -2^31,
        // to the integer -2^31, and the narrowing saturates the rest.
        const __m512 a = _mm512_min_ps(highest, _mm512_loadu_ps(in + i));
        if (clear) _mm512_storeu_ps(in + i, _mm512_setzero_ps());
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + i), _mm512_cvtsepi32_epi16(_mm512_cvtps_epi32(a)));
    }
    return i;
}
#endif

int32_t ConvertToPcm16Plain(int16_t*, float*, int32_t, bool) { return 0; }

// Returns the values converted; with clear, sets them to +0 in the source.
using ConvertKernel = int32_t (*)(int16_t* out, float* in, int32_t count, bool clear);
ConvertKernel convert_kernel = nullptr;  // chosen on first use

ConvertKernel FastestConvertKernel(int32_t variant) {
#if VINTO_CONVERT_AVX512
    __builtin_cpu_init();
    if (variant >= CONVERT_VARIANT_AVX512 && __builtin_cpu_supports("avx512f")) return ConvertToPcm16Avx512;
#endif
#if defined(__SSE2__)
    if (variant >= CONVERT_VARIANT_SSE2) return ConvertToPcm16Sse2;
#endif
    (void)variant;
    return ConvertToPcm16Plain;
}

}  // namespace

int32_t SelectConvertVariant(int32_t variant) {
    const ConvertKernel kernel = FastestConvertKernel(variant);
    convert_kernel = kernel;
#if VINTO_CONVERT_AVX512
    if (kernel == ConvertToPcm16Avx512) return CONVERT_VARIANT_AVX512;
#endif
#if defined(__SSE2__)
    if (kernel == ConvertToPcm16Sse2) return CONVERT_VARIANT_SSE2;
#endif
    return CONVERT_VARIANT_PLAIN;
}

namespace {

// ConvertToPcm16, and with clear the converted floats are set to +0 on the way.
// One small copy: the loop below only finishes what a kernel left (under eight
// values in blocks), not worth the compiler's vectorised versions.
#if defined(__GNUC__) && !defined(__clang__)
__attribute__((noinline, optimize("no-tree-vectorize")))
#endif
void ConvertAndMaybeClear(int16_t* out, float* in, int32_t frames, bool clear) {
    int32_t count = frames * 2;
    if (!convert_kernel) SelectConvertVariant(CONVERT_VARIANT_COUNT);
    int32_t i = convert_kernel(out, in, count, clear);
    for (; i < count; i++) {
        float value = in[i];
        if (clear) in[i] = 0.0f;
        // Clipping before rounding gives the same result as after, since both
        // bounds are integers; a NaN ends up at the lower bound.
        value = value > -32768.0f ? value : -32768.0f;
        value = value < 32767.0f ? value : 32767.0f;
        float biased = value + ROUNDING_BIAS;
        int32_t bits;
        memcpy(&bits, &biased, sizeof(bits));
        out[i] = int16_t(bits - ROUNDING_BIAS_BITS);
    }
}

}  // namespace

void ConvertToPcm16(int16_t* out, const float* in, int32_t frames) {
    if (frames < 1 || !out || !in) return;
    // Without clear nothing is written to in.
    ConvertAndMaybeClear(out, const_cast<float*>(in), frames, false);
}

namespace {

// Offline rendering leaves its float stretch (the first block's) at +0 after
// converting it, so the next block need not clear it; anything else that
// renders there, or new buffers, reset this.
bool offline_stretch_clear = false;

// Renders block next_block, mixing in the float stretch block_start and
// converting into pcm, records its SyncEntry and advances next_block. With
// leave_clear the stretch is set to +0 while it is converted (and is taken to
// be +0 already when offline_stretch_clear says so).
void RenderBlockTo(float* block_start, int16_t* pcm, bool leave_clear) {
    Module* module = output.playing_module;
    const int32_t block = output.next_block;
    const int32_t block_frames = output.block_frames;
    float* out = block_start;
    if (!(leave_clear && offline_stretch_clear))
        memset(block_start, 0, size_t(block_frames) * 2 * sizeof(float));
    offline_stretch_clear = false;

    output.loop_frame = -1;
    int32_t left = module->tick_samples_left;
    int32_t done = 0;
    while (done < block_frames) {
        int32_t slice;
        if (left <= 0) {
            // A row tick taken on the last order moves the song back to an
            // earlier order: one pass of the song is complete.
            if (module->tick == 0 && module->next_order >= 0 &&
                module->order >= module->song_length - 1) {
                output.song_loops.fetch_add(1, std::memory_order_relaxed);
                if (output.loop_frame < 0) output.loop_frame = done;
            }
            module->tick_handler(module);
            slice = module->samples_per_tick;
            if (slice < 1) slice = 1;  // a tick must move time on, or the loop would stall
            left = slice;
        } else {
            slice = left;
        }
        if (slice > block_frames - done) slice = block_frames - done;
        MixVoicesCleared(out, slice);  // the slice is still all +0
        done += slice;
        out += size_t(slice) * 2;
        left -= slice;
        // Each slice on its own, fractions dropped: song time runs a little slow.
        module->time_ms += uint32_t(double(slice) * double(output.inverse_mix_rate) * 1000.0);
    }

    SyncEntry& entry = output.sync_entries[block];
    entry.time_ms = module->time_ms;
    entry.row = uint8_t(module->row);
    entry.order = uint8_t(module->order);
    module->tick_samples_left = left;
    ConvertAndMaybeClear(pcm, block_start, block_frames, leave_clear);
    offline_stretch_clear = leave_clear;

    int32_t next = block + 1;
    output.next_block = next >= BlockCount() ? 0 : next;
}

}  // namespace

void RenderBlock() {
    const size_t first = size_t(output.next_block) * size_t(output.block_frames);
    RenderBlockTo(output.mix_buffer + first * 2, output.ring + first * 2, false);
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

    ResetVoicePool();

    if (!ResetReplayState(*module, PlaybackTables(), true)) return false;

    output.playing_module = module;
    output.offline_rendering = 0;
    output.song_loops.store(0, std::memory_order_relaxed);
    output.loop_frame = -1;
    free(output.sync_entries);
    output.sync_entries = static_cast<SyncEntry*>(calloc(size_t(block_count), sizeof(SyncEntry)));
    if (!output.sync_entries) {
        output.playing_module = nullptr;
        return false;
    }
    SetSyncIndex(0);  // the zero record until a block is rendered
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
           output.sync_entries;
}

bool PrefillRing() {
    if (!RenderReady()) return false;
    do {
        RenderBlock();
    } while (output.next_block != 0);
    SetSyncIndex(0);  // the device starts with block 0
    return true;
}

void ReleaseRenderBuffers() {
    free(output.mix_allocation);
    output.mix_allocation = nullptr;
    output.mix_buffer = nullptr;
    free(output.ring);
    output.ring = nullptr;
    output.playing_module = nullptr;
    output.offline_rendering = 0;
    free(output.sync_entries);
    output.sync_entries = nullptr;
    output.next_block = 0;
    output.sync_index = 0;
    output.heard_order = 0;
    output.heard_row = 0;
    output.heard_time_ms = 0;
}

void StopOutput() {
    if (output.stop_live) output.stop_live();
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

}  // namespace vinto

using namespace vinto;

// Position queries: the record of the block being heard (or, offline, the
// block last rendered), as SetSyncIndex copied it. The module is only tested
// for null.
uint32_t GetPlayOrder(Module* module) {
    if (!module || !output.sync_entries) return 0;
    return output.heard_order.load(std::memory_order_relaxed);
}

uint32_t GetPlayRow(Module* module) {
    if (!module || !output.sync_entries) return 0;
    return output.heard_row.load(std::memory_order_relaxed);
}

uint32_t GetPlayTime(Module* module) {
    if (!module || !output.sync_entries) return 0;
    return output.heard_time_ms.load(std::memory_order_relaxed);
}

// Offline rendering: the playback preparation without device or thread, then
// one block at a time through the same ring and mix buffer.
bool StartRendering(Module* module) {
    if (!module) return false;
    StopPlayback(module);
    if (!ResetPlayback(module)) return false;
    if (!AllocateRenderBuffers()) {
        ReleaseRenderBuffers();
        return false;
    }
    output.offline_rendering = 1;
    return true;
}

bool StopPlayback(Module* module) {
    if (!module) return false;
    StopOutput();
    return true;
}

int32_t GetBlockFrames(void) { return BlockFramesFor(output.mix_rate); }

int32_t RenderNextBlock(int16_t* out, int32_t capacity_frames) {
    if (!output.offline_rendering || !RenderReady() || !out) return 0;
    const int32_t block_frames = output.block_frames;
    if (capacity_frames < block_frames) return 0;
    const int32_t block = output.next_block;
    // Nothing plays the ring offline: every block is mixed in the first
    // block's float stretch, which stays in the cache, and converted straight
    // into the caller's buffer. The frames are those RenderBlock gives.
    RenderBlockTo(output.mix_buffer, out, true);
    SetSyncIndex(block);
    return block_frames;
}

uint32_t GetSongLoops(Module* module) {
    if (!module || !output.playing_module) return 0;
    return output.song_loops.load(std::memory_order_relaxed);
}

int32_t GetSongLoopFrame(Module* module) {
    if (!module || !output.offline_rendering) return -1;
    return output.loop_frame;
}

