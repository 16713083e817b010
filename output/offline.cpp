// Offline rendering: the playback preparation without device or thread, then
// one block at a time through the same renderer.
#include <string.h>

#include "output/output.h"

using namespace vinto;

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

// Whatever plays, live or offline, ends here; live playback's device and
// thread through the operations StartPlayback installed.
bool StopPlayback(Module* module) {
    if (!module) return false;
    StopOutput();
    return true;
}

int32_t GetBlockFrames(void) { return BlockFramesFor(output.mix_rate); }

int32_t RenderNextBlock(int16_t* out, int32_t capacity_frames) {
    if (!output.offline_rendering || !RenderReady() || !out) return 0;
    const int32_t block_frames = output.block_frames;
    if (capacity_frames < block_frames || output.song_ended) return 0;
    const int32_t block = output.next_block;
    // Nothing plays the ring offline: every block is mixed in the first
    // block's float stretch, which stays in the cache, and converted straight
    // into the caller's buffer. The frames are those RenderBlock gives.
    int32_t frames = RenderBlockTo(output.mix_buffer, out, true);
    SetSyncIndex(block);
    SetHeard(block, block_frames);
    // After a seek within this block, the frames before its target are left out.
    const int32_t skip = output.skip_frames;
    output.skip_frames = 0;
    if (skip > 0) {
        frames = frames > skip ? frames - skip : 0;
        memmove(out, out + size_t(skip) * 2, size_t(frames) * 2 * sizeof(int16_t));
        output.loop_frame = output.loop_frame >= skip ? output.loop_frame - skip : -1;
    }
    return frames;
}
