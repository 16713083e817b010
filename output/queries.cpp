// Position queries: what is being heard (offline: the block last rendered).
// Each reads values the rendering thread stores atomically, so any thread may
// ask at any time.
#include "output/output.h"

using namespace vinto;

namespace {

bool Reporting(const Module* module) { return module && output.reporting; }

}  // namespace

// The record of the block being heard, as SetSyncIndex copied it. The module
// is only tested for null.
uint32_t GetPlayOrder(Module* module) {
    if (!Reporting(module)) return 0;
    return output.heard_order.load(std::memory_order_relaxed);
}

uint32_t GetPlayRow(Module* module) {
    if (!Reporting(module)) return 0;
    return output.heard_row.load(std::memory_order_relaxed);
}

uint32_t GetPlayTime(Module* module) {
    if (!Reporting(module)) return 0;
    return output.heard_time_ms.load(std::memory_order_relaxed);
}

uint64_t GetPlayPosition(Module* module) {
    if (!Reporting(module)) return 0;
    return output.heard_frame.load(std::memory_order_relaxed);
}

uint32_t GetPlayPositionMs(Module* module) {
    return uint32_t(GetPlayPosition(module) * 1000 / uint64_t(output.mix_rate));
}

bool HasSongEnded(Module* module) {
    return Reporting(module) && output.heard_ended.load(std::memory_order_relaxed);
}

uint32_t GetSongLoops(Module* module) {
    if (!Reporting(module)) return 0;
    return output.song_loops.load(std::memory_order_relaxed);
}

int32_t GetSongLoopFrame(Module* module) {
    if (!module || !output.offline_rendering) return -1;
    return output.loop_frame;
}
