// Hardening tests: playing a module offline while checking, after every block,
// that the song keeps making progress and every record stays in its range.
#pragma once

#include <stdint.h>

#include <memory>
#include <string>
#include <vector>

#include "vinto/vinto.h"

namespace hardening {

struct ModuleRelease {
    void operator()(Module* module) const { FreeModule(module); }
};
using ModulePtr = std::unique_ptr<Module, ModuleRelease>;

struct PlayReport {
    std::string faults;        // one line per broken promise; "" when none
    uint32_t moves = 0;        // blocks that ended at another (order, row) than the one before
    uint32_t positions = 0;    // distinct (order, row) pairs met at block ends
    uint32_t time_ms = 0;      // song time after the last block
    uint64_t nonzero_values = 0;  // output values that were not 0
    uint32_t loops = 0;           // passes of the song completed (GetSongLoops)
};

// Starts offline rendering and renders `blocks` blocks, checking after each:
// a whole block came back; the tick length is at least one frame and the
// frames left in the tick at most one tick; order and row lie inside the song
// and its pattern; song time runs forward and never ahead of the frames; the
// channels' volume, envelope, fade and note values and the mixed voices'
// positions, volumes and gains lie in their ranges. Stops at the first fault.
// Ends the rendering before it returns.
PlayReport Play(Module* module, int blocks);

}  // namespace hardening
